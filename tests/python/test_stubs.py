"""The type stubs shipped as the stub-only package ``ordavine-stubs``.

Checks that the installed distribution carries them, that they match the
compiled module (mypy's stubtest), that the examples type-check against
them in strict mode, and that they reject typical misuse.  The checks that
run mypy are skipped where it is not installed.
"""

import importlib.metadata
import importlib.util
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from helpers import cpython_only

needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None,
                                reason="mypy is not installed")

ROOT = Path(__file__).resolve().parents[2]
STUB_SOURCE = ROOT / "stubs" / "ordavine-stubs" / "__init__.pyi"


def run_mypy(*args, cwd=ROOT, env=None):
    environment = dict(os.environ)
    environment.pop("MYPYPATH", None)
    environment.update(env or {})
    return subprocess.run([sys.executable, "-m", *args], cwd=str(cwd), env=environment,
                          capture_output=True, text=True, timeout=600)


def installed_stub():
    for file in importlib.metadata.files("ordavine") or []:
        if str(file).replace("\\", "/") == "ordavine-stubs/__init__.pyi":
            return Path(file.locate())
    return None


def test_stubs_are_installed_with_the_distribution():
    stub = installed_stub()
    assert stub is not None, "the wheel does not install ordavine-stubs/__init__.pyi"
    assert stub.read_text() == STUB_SOURCE.read_text(), (
        "the installed stubs differ from stubs/ordavine-stubs: reinstall the package")


@needs_mypy
@cpython_only
def test_stubtest_finds_no_difference(tmp_path):
    # Stubtest writes mypy's cache in its working folder: the test's own.
    result = run_mypy("mypy.stubtest", "ordavine", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
@cpython_only
def test_stubtest_notices_a_wrong_stub(tmp_path):
    """Stubtest really compares: a stub with a renamed parameter and a
    method the module lacks is refused (it takes MYPYPATH before the
    installed stub package)."""
    broken = STUB_SOURCE.read_text()
    broken = broken.replace("def x(self, node: int)", "def x(self, qubit: int)")
    broken = broken.replace("    def get_vop(", "    def reset(self) -> None: ...\n    def get_vop(")
    (tmp_path / "ordavine.pyi").write_text(broken)
    result = run_mypy("mypy.stubtest", "ordavine", cwd=tmp_path, env={"MYPYPATH": str(tmp_path)})
    assert result.returncode != 0
    assert 'ordavine.Ordavine.x is inconsistent, stub parameter "qubit"' in result.stdout
    assert "ordavine.Ordavine.reset is not present at runtime" in result.stdout


@needs_mypy
def test_examples_pass_strict_mypy(tmp_path):
    # Run from the tree, for its mypy settings; the cache goes to the test's folder.
    result = run_mypy("mypy", "--strict", "--cache-dir", str(tmp_path / "mypy-cache"), "examples")
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
def test_strict_mypy_rejects_misuse(tmp_path):
    (tmp_path / "misuse.py").write_text(textwrap.dedent("""\
        from ordavine import MeasurementResult, Ordavine, Outcome

        sim = Ordavine(3)
        sim.h(0)                                   # fine
        bit: int = int(sim.measure_z(0))           # fine
        group: set[int] = sim.get_entangled_group(0)
        peeked: dict[int, Outcome] = sim.peek_measure_set(frozenset({0, 1}))
        vop: int = sim.get_vop(0)
        around: list[int] = sim.get_neighbors(0)
        sim.cx(control=0, target=1)                # fine
        sim.h("0")                                 # line 11: str for a qubit
        sim.peek_measure_set([0, 1])               # line 12: list for a set
        if sim.measure_x(1) == 1:                  # line 13: result compared to int
            pass
        basis: int = peeked[0].basis               # line 15: basis is a str
        sim.cx(0)                                  # line 16: target missing
        sim.x(qubit=0)                             # line 17: parameter is `node`
        peeked[0].result = MeasurementResult.PlusOne  # line 18: read-only
        """))
    result = run_mypy("mypy", "--strict", "--no-incremental", "misuse.py", cwd=tmp_path)
    errors = {int(line.split(":")[1]) for line in result.stdout.splitlines()
              if line.startswith("misuse.py:") and ": error:" in line}
    assert errors == {11, 12, 13, 15, 16, 17, 18}, result.stdout


@needs_mypy
def test_reveal_types(tmp_path):
    (tmp_path / "reveal.py").write_text(textwrap.dedent("""\
        from ordavine import MeasurementResult, Ordavine

        sim = Ordavine(2)
        reveal_type(sim.measure_y(0))
        reveal_type(MeasurementResult.MinusOne)
        reveal_type(sim.peek_measure_set({1})[1].basis)
        reveal_type(sim.peek_measure_set({1})[1].deterministic)
        reveal_type(sim.x(0))
        """))
    result = run_mypy("mypy", "--strict", "--no-incremental", "reveal.py", cwd=tmp_path)
    revealed = [line.split("Revealed type is ")[1].strip('"').replace("builtins.", "")
                for line in result.stdout.splitlines() if "Revealed type is" in line]
    assert len(revealed) == 5, result.stdout
    assert revealed[0] == revealed[1] == "ordavine.MeasurementResult"
    # The spelling of a union of literals differs between mypy versions.
    assert all(f"Literal['{axis}']" in revealed[2] for axis in "XYZ"), revealed[2]
    assert "str" not in revealed[2]
    assert revealed[3:] == ["bool", "None"]
