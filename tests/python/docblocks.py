"""Reads the fenced Python blocks of Markdown pages and runs them as a reader would.

A page's blocks run in order, in one namespace per page.  Rules of the pages:

* A block fenced as ``python`` (or ``py``, ``python3``, ``pycon``) runs.
* A block that is deliberately not run has, on the line before its fence
  (blank lines between allowed), the comment ``<!-- not run: why -->``.
* A Python block followed directly by a ``text`` block whose fence carries
  ``title="Output"`` must print exactly that text.
"""

from __future__ import annotations

import contextlib
import io
import re
import sys
import types
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


class MissingPackage(Exception):
    """A block imports an optional package that is not installed."""

    def __init__(self, name: str):
        super().__init__(name)
        self.name = name


@contextlib.contextmanager
def as_main(module: types.ModuleType | None):
    """Makes `module` the __main__ module for a while, as a script's is: what
    a block defines can then be pickled by name (process pools need that)."""
    if module is None:
        yield
        return
    saved = sys.modules["__main__"]
    sys.modules["__main__"] = module
    try:
        yield
    finally:
        sys.modules["__main__"] = saved


def run_block(block: Block, namespace: dict, main: types.ModuleType | None = None) -> str:
    """Runs `block` in `namespace` (the dict of `main`, when given); returns what it printed.

    Raises MissingPackage for an optional package that is not installed,
    AssertionError when the output differs from the page's, and whatever
    the block itself raises otherwise.
    """
    # Line numbers in tracebacks are the page's own.
    code = compile("\n" * block.line + block.code, str(block.page), "exec")
    printed = io.StringIO()
    try:
        with contextlib.redirect_stdout(printed), as_main(main):
            exec(code, namespace)
    except ModuleNotFoundError as error:
        top = (error.name or "").partition(".")[0]
        if top in OPTIONAL_PACKAGES:
            raise MissingPackage(top) from error
        raise
    if block.output is not None and printed.getvalue() != block.output:
        raise AssertionError(
            f"{block.page}:{block.line}: the block printed\n{printed.getvalue()}"
            f"but the page shows\n{block.output}")
    return printed.getvalue()


@dataclass
class PageRun:
    """The blocks of one page run so far, and the module whose namespace they share."""

    blocks: list[Block]
    main: types.ModuleType = field(default_factory=lambda: types.ModuleType("__main__"))
    done: int = 0
    stopped: str | None = None  # why the rest of the page cannot run
    skipped: list[str] = field(default_factory=list)  # blocks skipped for a missing package
    cwd: Path | None = None  # where its blocks run
