"""Reads the fenced Python blocks of Markdown pages and runs them as a reader would.

A page's blocks run in order as one script, saved to a file and run with
``python`` in a process of its own, as a reader who pastes them into a file
runs them: its ``__main__`` is a real file, which process pools that spawn
their workers import again, so a block that starts processes must guard
them with ``if __name__ == "__main__":``.  Rules of the pages:

* A block fenced as ``python`` (or ``py``, ``python3``, ``pycon``) runs.
* A block that is deliberately not run has, on the line before its fence
  (blank lines between allowed), the comment ``<!-- not run: why -->``.
* A Python block followed directly by a ``text`` block whose fence carries
  ``title="Output"`` must print exactly that text.
"""

from __future__ import annotations

import re
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path
PYTHON_LANGUAGES = {"python", "py", "python3", "pycon"}
FENCE = re.compile(r"^(?P<indent>[ \t]*)(?P<fence>`{3,}|~{3,})\s*(?P<lang>[\w+-]*)(?P<attrs>.*)$")
NOT_RUN = re.compile(r"^\s*<!--\s*not run:\s*(?P<why>.*?)\s*-->\s*$")
OUTPUT_TITLE = re.compile(r"""title\s*=\s*["']Output["']""")

# Packages that some blocks use and that not every interpreter has (PyPy has
# no wheels of stim or numpy, so none of sinter); a block that fails to
# import one is skipped.
OPTIONAL_PACKAGES = {"stim", "numpy", "dask", "distributed", "networkx", "matplotlib",
                     "sinter", "pymatching"}


class DocsError(Exception):
    """A page breaks one of the rules above."""


@dataclass
class Block:
    page: Path
    line: int  # line of the opening fence, from 1
    language: str
    code: str
    not_run: str | None = None  # the reason, for a block that is not run
    output: str | None = None  # what the block must print, when given

    @property
    def runs(self) -> bool:
        return self.language in PYTHON_LANGUAGES and self.not_run is None


@dataclass
class Fence:
    line: int
    language: str
    attrs: str
    body: str
    preceding: str  # the last non-blank line before the fence


def _fences(text: str) -> list[Fence]:
    lines = text.splitlines()
    fences = []
    previous = ""
    i = 0
    while i < len(lines):
        match = FENCE.match(lines[i])
        if not match:
            if lines[i].strip():
                previous = lines[i]
            i += 1
            continue
        indent, mark = len(match["indent"]), match["fence"]
        closing = re.compile(r"^[ \t]*" + re.escape(mark[0]) + "{" + str(len(mark)) + r",}\s*$")
        body = []
        j = i + 1
        while j < len(lines) and not closing.match(lines[j]):
            body.append(lines[j][indent:] if lines[j][:indent].strip() == "" else lines[j].lstrip())
            j += 1
        if j == len(lines):
            raise DocsError(f"line {i + 1}: the fence opened here is never closed")
        fences.append(Fence(i + 1, match["lang"].lower(), match["attrs"],
                            "".join(line + "\n" for line in body), previous))
        previous = lines[j]
        i = j + 1
    return fences


def read_blocks(page: Path) -> list[Block]:
    """The code blocks of `page`, Python ones with their rules applied."""
    text = page.read_text(encoding="utf-8")
    try:
        fences = _fences(text)
    except DocsError as error:
        raise DocsError(f"{page}: {error}") from None
    blocks = []
    for index, fence in enumerate(fences):
        block = Block(page, fence.line, fence.language, fence.body)
        marker = NOT_RUN.match(fence.preceding)
        if marker:
            if fence.language not in PYTHON_LANGUAGES:
                raise DocsError(f"{page}:{fence.line}: 'not run' marks a block that would not run anyway")
            if len(marker["why"]) < 10:
                raise DocsError(f"{page}:{fence.line}: a block that is not run must say why")
            block.not_run = marker["why"]
        if OUTPUT_TITLE.search(fence.attrs):
            if fence.language != "text":
                raise DocsError(f"{page}:{fence.line}: an Output block is fenced as text")
            owner = blocks[-1] if blocks else None
            if owner is None or not owner.runs or not _only_blank_between(text, fences[index - 1], fence):
                raise DocsError(f"{page}:{fence.line}: an Output block must follow a Python block that runs")
            owner.output = fence.body
        blocks.append(block)
    return blocks


def _only_blank_between(text: str, first: Fence, second: Fence) -> bool:
    lines = text.splitlines()
    end_of_first = first.line + first.body.count("\n")  # the closing fence, from 0
    return all(not line.strip() for line in lines[end_of_first + 1:second.line - 1])


# The script writes this line before each block (in the main process only,
# not in workers that import the script again), so that what each block
# printed, and the block that was running when the script stopped, can be
# told apart.
MARKER = "\x1eordavine-docs-block {}\x1e\n"
MARKER_PATTERN = re.compile("\x1eordavine-docs-block (\\d+)\x1e\n")
MISSING_MODULE = re.compile(r"ModuleNotFoundError: No module named '([\w.]+)'")


def page_script(blocks: list[Block], left_out: set[int] = frozenset()) -> str:
    """The script of the blocks that run, `left_out` (indices) left out.

    Every line of a block stands on its own line number of the page (the
    marker takes the fence's line, other lines stay blank), so tracebacks
    name the page's lines.
    """
    lines: list[str] = []
    for index, block in enumerate(blocks):
        if not block.runs or index in left_out:
            continue
        lines += [""] * (block.line - 1 - len(lines))
        lines.append(f"if __name__ == \"__main__\": __import__(\"sys\").stdout.write({MARKER.format(index)!r})")
        lines += block.code.splitlines()
    return "".join(line + "\n" for line in lines)


@dataclass
class BlockRun:
    """What became of one block of a page run as a script."""

    status: str  # "ran", "failed", "missing" (an optional package), "skipped" or "not reached"
    printed: str = ""
    why: str = ""  # the traceback of a failure, or why the block did not run


@dataclass
class PageRun:
    """The page's blocks run as scripts until every block ran, failed or was left out."""

    blocks: list[Block]
    results: dict[int, BlockRun] = field(default_factory=dict)  # by block index, blocks that run only
    scripts: int = 0  # how many times the script ran (once more for each block left out)


def run_page(blocks: list[Block], cwd: Path, *, env: dict | None = None, timeout: float = 600) -> PageRun:
    """Runs the page's blocks as one script `cwd/<page>_page.py`, from `cwd`.

    A block that stops the script for an optional package that is not
    installed is left out and the script runs again; so is a later block
    that then stops it for a name (one the left-out block would have
    defined).  Any other failure fails that block, and the blocks after it
    are not reached.  A block whose output differs from the page's fails.
    """
    run = PageRun(blocks)
    if not any(block.runs for block in blocks):
        return run
    page = blocks[0].page
    script = cwd / f"{page.stem}_page.py"
    left_out: dict[int, BlockRun] = {}
    while True:
        pending = [index for index, block in enumerate(blocks) if block.runs and index not in left_out]
        if not pending:
            break
        script.write_text(page_script(blocks, set(left_out)), encoding="utf-8")
        run.scripts += 1
        printed, error, code = _run_script(script, cwd, env, timeout)
        error = error.replace(str(script), str(page))
        pieces = MARKER_PATTERN.split(printed)
        outputs = {int(index): text for index, text in zip(pieces[1::2], pieces[2::2])}
        last = max(outputs, default=pending[0])  # the block running when the script stopped
        if code == 0:
            break
        final = error.rstrip().rpartition("\n")[2]  # the line naming the exception that stopped it
        missing = MISSING_MODULE.match(final)
        if missing and missing[1].partition(".")[0] in OPTIONAL_PACKAGES:
            left_out[last] = BlockRun("missing", outputs.get(last, ""),
                                      f"needs {missing[1].partition('.')[0]}, which is not installed")
            continue
        absent = [result.why for result in left_out.values() if result.status == "missing"]
        if absent and final.startswith("NameError: "):
            left_out[last] = BlockRun("skipped", outputs.get(last, ""),
                                      f"uses a name from a block that was left out ({absent[-1]}): {final}")
            continue
        break
    for index, block in enumerate(blocks):
        if not block.runs:
            continue
        if index in left_out:
            run.results[index] = left_out[index]
        elif index in outputs and (code == 0 or index < last):
            run.results[index] = _checked(block, outputs[index])
        elif index == last:
            how = "a timeout" if code is None else f"signal {-code}" if code < 0 else f"exit code {code}"
            run.results[index] = BlockRun("failed", outputs.get(index, ""),
                                          f"the script stopped in this block ({how}):\n{error}")
        else:
            run.results[index] = BlockRun("not reached", "", f"an earlier block (line {blocks[last].line}) failed")
    return run


def _checked(block: Block, printed: str) -> BlockRun:
    if block.output is not None and printed != block.output:
        return BlockRun("failed", printed,
                        f"the block printed\n{printed}but the page shows\n{block.output}")
    return BlockRun("ran", printed)


def _run_script(script: Path, cwd: Path, env: dict | None, timeout: float) -> tuple[str, str, int | None]:
    """Runs `script` with this interpreter; returns stdout, stderr and the exit code (None: timed out)."""
    try:
        done = subprocess.run([sys.executable, str(script)], cwd=str(cwd), env=env,
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as expired:
        text = lambda out: out.decode(errors="replace") if isinstance(out, bytes) else out or ""  # noqa: E731
        return text(expired.stdout), text(expired.stderr) + f"\ntimed out after {timeout} s", None
    return done.stdout, done.stderr, done.returncode
