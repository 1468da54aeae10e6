"""The README and the documentation site, checked against the module.

Every Python block of README.md and docs/**/*.md runs, a page's blocks in
order as one script run with `python` (rules in docblocks.py); the reference
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
import platform
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import ordavine
from docblocks import DocsError, PageRun, read_blocks, run_page

ROOT = Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
STUB = ROOT / "stubs" / "ordavine-stubs" / "__init__.pyi"
PAGES = [ROOT / "README.md", *sorted(DOCS.rglob("*.md"))]
ALL_BLOCKS = os.environ.get("ORDAVINE_DOCS_ALL_BLOCKS") == "1"


def relative(page: Path) -> str:
    return page.relative_to(ROOT).as_posix()


def every_block():
    # A page's blocks share one run of its script (see test_block_runs): with
    # pytest-xdist (--dist loadgroup) they go to one worker, which runs it once.
    for page in PAGES:
        for index, block in enumerate(read_blocks(page)):
            if block.runs:
                yield pytest.param(page, index, id=f"{relative(page)}:{block.line}",
                                   marks=pytest.mark.xdist_group(relative(page)))


def script_environment() -> dict:
    """The environment of the page scripts: this one, with the ordavine the
    tests import first on the path, so the scripts run the same build."""
    location = Path(ordavine.__file__).resolve()
    directory = location.parent.parent if location.stem == "__init__" else location.parent
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(directory), env.get("PYTHONPATH")]))
    return env


_runs: dict[Path, PageRun] = {}


@pytest.mark.parametrize("page, index", list(every_block()))
def test_block_runs(page, index, tmp_path_factory):
    """The page runs as one script, once (at its first block's test); each
    block's test then reports that block: it ran and printed what the page
    shows, or it failed, or it was left out for a package not installed."""
    run = _runs.get(page)
    if run is None:
        run = _runs[page] = run_page(read_blocks(page), tmp_path_factory.mktemp(page.stem),
                                     env=script_environment())
    result = run.results[index]
    where = f"{relative(page)}:{run.blocks[index].line}"
    if result.status == "failed":
        pytest.fail(f"{where}: {result.why}", pytrace=False)
    if result.status == "missing" and ALL_BLOCKS:
        pytest.fail(f"{where} {result.why}", pytrace=False)
    if result.status != "ran":
        pytest.skip(f"{where} {result.why}")


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


def run(path):
    """The page's blocks that run, by status and what they printed (or why not)."""
    results = run_page(read_blocks(path), path.parent, timeout=120).results
    return [(result.status, result.printed if result.status == "ran" else result.why)
            for _, result in sorted(results.items())]


def test_runner_runs_blocks_in_order_as_one_script(tmp_path):
    path = page(tmp_path, """\
        ```python
        value = 2
        print(__name__, end="")
        ```
        text
        ```py
        print(value * 3)
        ```
        """)
    assert run(path) == [("ran", "__main__"), ("ran", "6\n")]


def test_runner_fails_a_failing_block_and_names_its_line(tmp_path):
    path = page(tmp_path, """\
        ```python
        print("before")
        ```

        ```python
        x = 1
        assert x + 1 == 3
        ```

        ```python
        print("after")
        ```
        """)
    (first, _), (second, why), (third, _) = run(path)
    assert (first, second, third) == ("ran", "failed", "not reached")
    assert f'File "{path}", line 7' in why and "AssertionError" in why


def test_runner_compares_the_output(tmp_path):
    path = page(tmp_path, """\
        ```python
        print(sorted({3, 1}))
        ```

        ```text title="Output"
        [1, 2]
        ```
        """)
    [(status, why)] = run(path)
    assert status == "failed" and "printed\n[1, 3]" in why
    path.write_text(path.read_text().replace("[1, 2]", "[1, 3]"))
    assert run(path) == [("ran", "[1, 3]\n")]


@pytest.mark.skipif(platform.python_implementation() == "PyPy",
                    reason="PyPy 3.9's ProcessPoolExecutor cannot start spawned workers, even in a plain "
                           "script (its library lacks _adjust_process_count)")
def test_runner_runs_process_pools_as_a_script_does(tmp_path):
    """Workers that spawn import the script again: a pool under the
    `__main__` guard works and a function of the page pickles by name;
    without the guard each worker would start a pool of its own, and the
    pool breaks."""
    code = """\
        ```python
        import multiprocessing
        from concurrent.futures import ProcessPoolExecutor

        def square(x):
            return x * x
        ```

        ```python
        if __name__ == "__main__":
            with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
                print(list(pool.map(square, [1, 2, 3])))
        ```
        """
    assert run(page(tmp_path, code)) == [("ran", ""), ("ran", "[1, 4, 9]\n")]
    unguarded = code.replace('if __name__ == "__main__":\n', "if True:\n")
    (_, _), (status, why) = run(page(tmp_path, unguarded))
    assert status == "failed" and "BrokenProcessPool" in why


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
    assert run(path) == []


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


def test_runner_leaves_out_only_what_needs_a_missing_optional_package(tmp_path):
    """A block importing an optional package that is missing is left out,
    and a later block that needs its names; the other blocks still run.  A
    missing package that is not optional fails its block."""
    path = page(tmp_path, """\
        ```python
        print("first")
        ```

        ```python
        raise ModuleNotFoundError("No module named 'numpy.linalg'", name="numpy.linalg")
        table = 1
        ```

        ```python
        print(table)
        ```

        ```python
        print("last")
        ```
        """)
    first, missing, (status, why), last = run(path)
    assert (first, missing, last) == (("ran", "first\n"), ("missing", "needs numpy, which is not installed"),
                                      ("ran", "last\n"))
    assert status == "skipped" and why.startswith(
        "uses a name from a block that was left out (needs numpy, which is not installed): "
        "NameError: name 'table' is not defined")
    path.write_text(path.read_text().replace("numpy.linalg", "stim_that_is_not_there"))
    assert [status for status, _ in run(path)] == ["ran", "failed", "not reached", "not reached"]


def test_runner_reads_blocks_inside_admonitions(tmp_path):
    path = page(tmp_path, """\
        !!! note
            ```python
            x = [1,
                 2]
            print(len(x))
            ```
        """)
    assert run(path) == [("ran", "2\n")]
