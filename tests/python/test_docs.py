"""The README and the documentation site, checked against the module.

Every Python block of README.md and docs/**/*.md runs, page by page in
order, in one namespace per page (rules in docblocks.py); the reference
pages name every member of the type stubs; the README's links lead to
files that exist.  The site itself is built in strict mode by the test
command (tests/run_all.sh), where a broken link or reference fails it.

Blocks that import stim, numpy, sinter, pymatching, dask, networkx or
matplotlib skip where the package is missing, unless ORDAVINE_DOCS_ALL_BLOCKS=1 (set by the test
command on CPython, which has them all), where that is a failure.
"""

from __future__ import annotations

import ast
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import ordavine
from docblocks import DocsError, MissingPackage, PageRun, read_blocks, run_block

ROOT = Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
STUB = ROOT / "stubs" / "ordavine-stubs" / "__init__.pyi"
PAGES = [ROOT / "README.md", *sorted(DOCS.rglob("*.md"))]
ALL_BLOCKS = os.environ.get("ORDAVINE_DOCS_ALL_BLOCKS") == "1"


def relative(page: Path) -> str:
    return page.relative_to(ROOT).as_posix()


def every_block():
    for page in PAGES:
        for index, block in enumerate(read_blocks(page)):
            if block.runs:
                yield pytest.param(page, index, id=f"{relative(page)}:{block.line}")


_runs: dict[Path, PageRun] = {}


def run_page_up_to(page: Path, index: int, tmp_path_factory) -> None:
    """Runs the blocks of `page` before `index` that have not run yet, then block `index`.

    A block that needs a missing optional package is skipped; a later block
    of the page that then fails for a name such a block would have defined
    is skipped too.  Any other failure stops the page.
    """
    run = _runs.get(page)
    if run is None:
        run = _runs[page] = PageRun(read_blocks(page))
        run.cwd = tmp_path_factory.mktemp(page.stem)
        ordavine.seed(None)  # a page starts as a new interpreter would
    if run.stopped:
        pytest.skip(run.stopped)
    here = os.getcwd()
    os.chdir(run.cwd)  # files a block writes land in a directory of its own
    try:
        while run.done <= index:
            block = run.blocks[run.done]
            run.done += 1
            if not block.runs:
                continue
            where = f"{relative(page)}:{block.line}"
            try:
                run_block(block, run.main.__dict__, run.main)
            except MissingPackage as missing:
                reason = f"{where} needs {missing.name}, which is not installed"
                if ALL_BLOCKS:
                    run.stopped = reason
                    pytest.fail(reason)
                run.skipped.append(reason)
                if run.done > index:
                    pytest.skip(reason)
            except NameError as error:
                if not run.skipped:
                    run.stopped = f"{where}, before this block, failed"
                    raise
                reason = f"{where} uses a name from a block that was skipped ({run.skipped[-1]}): {error}"
                if run.done > index:
                    pytest.skip(reason)
            except BaseException:
                run.stopped = f"{where}, before this block, failed"
                raise
    finally:
        os.chdir(here)
        if run.stopped or not any(block.runs for block in run.blocks[run.done:]):
            # A page that seeded the thread's generator leaves it unseeded
            # for the tests after it (between its own blocks it stays seeded).
            ordavine.seed(None)


@pytest.mark.parametrize("page, index", list(every_block()))
def test_block_runs(page, index, tmp_path_factory):
    run_page_up_to(page, index, tmp_path_factory)


def test_no_python_hides_in_an_unmarked_fence():
    """Pages that show Python code run it: none is fenced under another name."""
    for page in PAGES:
        for block in read_blocks(page):
            if block.language in {"", "python-console", "ipython", "pyi"}:
                assert "import ordavine" not in block.code and "Ordavine(" not in block.code, (
                    f"{relative(page)}:{block.line}: Python code in a block fenced "
                    f"as {block.language or 'nothing'!r} would not run")


def stub_members():
    """Qualified names of everything public the stubs declare."""
    tree = ast.parse(STUB.read_text())
    names = set()
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
            names.add(f"ordavine.{node.name}")
        elif isinstance(node, ast.ClassDef):
            names.add(f"ordavine.{node.name}")
            for member in node.body:
                name = None
                if isinstance(member, ast.FunctionDef):
                    name = member.name
                elif isinstance(member, ast.AnnAssign) and isinstance(member.target, ast.Name):
                    name = member.target.id
                if name and name != "__new__" and (not name.startswith("_") or name.endswith("__")):
                    names.add(f"ordavine.{node.name}.{name}")
    return names


def test_reference_shows_every_member_of_the_stubs():
    """The reference lists members one by one; a member added to the stubs
    without a place in it would be missing from the site."""
    shown = set()
    for page in (DOCS / "reference").glob("*.md"):
        shown |= set(re.findall(r"^::: (ordavine[\w.]*)", page.read_text(), re.MULTILINE))
    missing = stub_members() - shown
    assert not missing, f"not in the reference: {sorted(missing)}"
    assert not shown - stub_members() - {"ordavine"}, "the reference names members the stubs lack"


def test_readme_links_lead_to_files():
    text = (ROOT / "README.md").read_text()
    targets = re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", text)
    local = [t for t in targets if not re.match(r"[a-z]+:", t)]
    assert local, "the README links into the documentation"
    missing = [t for t in local if not (ROOT / t).exists()]
    assert not missing, missing


def test_readme_quick_start_has_the_two_commands():
    text = (ROOT / "README.md").read_text()
    start = text.index("## Quick start")
    section = text[start:text.index("\n## ", start + 1)]
    assert section.count("```sh") == 2 and section.count("```") == 4
    blocks = section.split("```")[1::2]
    commands = [line for block in blocks for line in block.splitlines()[1:] if line.strip()]
    assert commands == [
        "python3 -m venv .venv && .venv/bin/pip install . && .venv/bin/python examples/cluster_wire.py",
        "bash tests/run_all.sh",
    ]


def test_readme_stays_short():
    assert len((ROOT / "README.md").read_text().splitlines()) <= 200, (
        "the README stays short; details belong on the site")


def test_every_method_and_example_has_its_place():
    """Every method the module has at run time is in the reference, and every
    example program is in the README's table and on the examples page."""
    reference = (DOCS / "reference" / "ordavine.md").read_text()
    for name in dir(ordavine.Ordavine):
        if not name.startswith("_"):
            assert f"::: ordavine.Ordavine.{name}\n" in reference, name
    readme = (ROOT / "README.md").read_text()
    examples_page = (DOCS / "getting-started" / "examples.md").read_text()
    for path in (ROOT / "examples").glob("*.py"):
        assert f"`examples/{path.name}`" in readme, path.name
        assert f"**`examples/{path.name}" in examples_page, path.name


def test_vop_table_is_the_modules():
    """Every entry of the VOP table, read from the page, against the module:
    an isolated qubit's generator is its VOP's image of X, a neighbour's
    factor in a generator its VOP's image of Z, and Y's image follows."""
    rows = re.findall(r"^\|(.+)\|\s*$", (DOCS / "reference" / "vops.md").read_text(), re.MULTILINE)
    images = {}
    for row in rows:
        cells = [cell.strip() for cell in row.split("|")]
        for half in (cells[:5], cells[5:]):
            if half[0].isdigit():
                images[int(half[0])] = [(-1 if image[0] == "−" else 1, image[1]) for image in half[2:5]]
    assert sorted(images) == list(range(24))
    products = {("X", "Y"): (1j, "Z"), ("Y", "Z"): (1j, "X"), ("Z", "X"): (1j, "Y"),
                ("Y", "X"): (-1j, "Z"), ("Z", "Y"): (-1j, "X"), ("X", "Z"): (-1j, "Y")}
    for vop, (x_image, y_image, z_image) in images.items():
        alone = ordavine.Ordavine.from_graph(1, [], bytes([vop]))
        sign, paulis = alone.stabilizer(0)
        assert (sign, paulis[0]) == x_image, f"VOP {vop}: X is carried to {sign} {paulis[0]}"
        pair = ordavine.Ordavine.from_graph(2, [(0, 1)], bytes([0, vop]))
        sign, paulis = pair.stabilizer(0)
        assert paulis[0] == "X" and (sign, paulis[1]) == z_image, f"VOP {vop}: Z is carried to {sign} {paulis[1]}"
        phase, pauli = products[(x_image[1], z_image[1])]
        assert (1j * x_image[0] * z_image[0] * phase, pauli) == (y_image[0], y_image[1]), f"VOP {vop}: Y"


def test_circuit_format_table_names_every_instruction():
    """The instruction table names every gate Stim knows, aliases included,
    and nothing else."""
    stim = pytest.importorskip("stim")
    text = (DOCS / "reference" / "circuit-format.md").read_text()
    named = set()
    for row in re.findall(r"^\|(.+?)\|.*\|\s*$", text, re.MULTILINE):
        for code in re.findall(r"`([^`]+)`", row):
            match = re.match(r"([A-Z][A-Z0-9_]*)", code)
            if match:
                named.add(match.group(1))
    known = set()
    for name, gate in stim.gate_data().items():
        known |= {name, *gate.aliases}
    assert not known - named, f"not in the table: {sorted(known - named)}"
    assert not named - known, f"in the table, unknown to Stim: {sorted(named - known)}"


def test_detector_rate_picture_script_runs(tmp_path):
    """The script behind the detector-rate picture still runs (at a few
    shots: it stops if ordavine's and Stim's rates disagree)."""
    for package in ("stim", "numpy", "matplotlib"):
        pytest.importorskip(package)
    out = tmp_path / "rates.png"
    result = subprocess.run(
        [sys.executable, str(DOCS / "scripts" / "detector_rates.py"), "--distance", "3",
         "--rounds", "2", "--shots", "20000", "--out", str(out)],
        capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert out.stat().st_size > 10_000 and "16 detectors" in result.stdout


# --- the runner itself -------------------------------------------------------


def page(tmp_path, text):
    path = tmp_path / "page.md"
    path.write_text(textwrap.dedent(text))
    return path


def run_all(path):
    namespace = {}
    return [run_block(block, namespace) for block in read_blocks(path) if block.runs]


def test_runner_runs_blocks_in_order_in_one_namespace(tmp_path):
    path = page(tmp_path, """\
        ```python
        value = 2
        ```
        text
        ```py
        print(value * 3)
        ```
        """)
    assert run_all(path) == ["", "6\n"]


def test_runner_fails_a_failing_block(tmp_path):
    path = page(tmp_path, """\
        ```python
        assert 1 + 1 == 3
        ```
        """)
    with pytest.raises(AssertionError):
        run_all(path)


def test_runner_compares_the_output(tmp_path):
    path = page(tmp_path, """\
        ```python
        print(sorted({3, 1}))
        ```

        ```text title="Output"
        [1, 2]
        ```
        """)
    with pytest.raises(AssertionError, match="printed"):
        run_all(path)
    path.write_text(path.read_text().replace("[1, 2]", "[1, 3]"))
    assert run_all(path) == ["[1, 3]\n"]


def test_runner_needs_a_reason_to_leave_a_block_out(tmp_path):
    path = page(tmp_path, """\
        <!-- not run: -->
        ```python
        boom()
        ```
        """)
    with pytest.raises(DocsError, match="say why"):
        read_blocks(path)
    path.write_text(path.read_text().replace("not run:", "not run: it talks to a scheduler"))
    assert run_all(path) == []


def test_runner_refuses_an_output_block_without_its_code(tmp_path):
    path = page(tmp_path, """\
        ```sh
        echo 1
        ```
        ```text title="Output"
        1
        ```
        """)
    with pytest.raises(DocsError, match="must follow"):
        read_blocks(path)


def test_runner_skips_only_optional_packages(tmp_path):
    path = page(tmp_path, """\
        ```python
        import stim_that_is_not_there
        ```
        """)
    with pytest.raises(ModuleNotFoundError):
        run_all(path)
    block = read_blocks(path)[0]
    block.code = "raise ModuleNotFoundError('no', name='numpy.linalg')\n"
    with pytest.raises(MissingPackage):
        run_block(block, {})


def test_runner_reads_blocks_inside_admonitions(tmp_path):
    path = page(tmp_path, """\
        !!! note
            ```python
            x = [1,
                 2]
            print(len(x))
            ```
        """)
    assert run_all(path) == ["2\n"]
