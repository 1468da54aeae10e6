"""Smoke run of the benchmark harness (bench/run.py) at tiny sizes.

Only checks that every workload runs to the end and that the report is
written; no timing is asserted.  Stim and matplotlib are used when present.
"""

import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUN = os.path.join(ROOT, "bench", "run.py")


def test_bench_harness_smoke(tmp_path):
    out = tmp_path / "bench-out"
    proc = subprocess.run(
        [sys.executable, RUN, "--smoke", "--out", str(out)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        universal_newlines=True,
        timeout=300,
    )
    assert proc.returncode == 0, proc.stderr[-3000:]

    with open(out / "results.json") as f:
        saved = json.load(f)
    results = saved["results"]
    workloads = {r["workload"] for r in results}
    assert workloads == {"percall", "cluster1d", "cluster2d", "cluster2d_rows", "ghz", "random", "peek",
                         "sweep2d"}
    orders = {r["order"] for r in results if r["workload"] == "sweep2d" and r["status"] == "ok"}
    assert orders == {"tailored", "rows", "columns", "diagonal", "interleaved"}
    failed = [r for r in results if r["status"] not in ("ok", "skipped")]
    assert not failed, failed
    ours = [r for r in results if r["impl"] == "ours" and r["workload"] != "percall"]
    assert ours and all(r["status"] == "ok" for r in ours)
    percall = [r for r in results if r["workload"] == "percall" and r["impl"] == "ours"]
    assert percall and {"h", "cz_sparse", "floor_get", "floor_is"} <= set(percall[0]["cases"])

    report = (out / "report.md").read_text()
    for heading in ("# ordavine benchmark report", "## Per-call cost", "## Scaling",
                    "## Bulk export and entanglement entropy",
                    "## Measurement orders on a 2D cluster state", "## Many shots as Pauli frames"):
        assert heading in report


def test_instrument_bench_smoke():
    """bench/instrument_bench.py runs at tiny sizes and prints its table."""
    import pytest

    pytest.importorskip("numpy")
    proc = subprocess.run(
        [sys.executable, os.path.join(ROOT, "bench", "instrument_bench.py"), "--smoke"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        universal_newlines=True,
        timeout=300,
    )
    assert proc.returncode == 0, proc.stderr[-3000:]
    for row in ("`expectation` of a weight-4 product", "`fidelity(bell, [a, b])`", "`from_graph`"):
        assert row in proc.stdout


def test_codes_per_shot_smoke(tmp_path):
    """bench/codes_per_shot.py runs at d = 3 and writes both tables, with a
    row for the distance in each and the register's graph measured."""
    import pytest

    pytest.importorskip("numpy")
    pytest.importorskip("stim")
    out = tmp_path / "codes.md"
    proc = subprocess.run(
        [sys.executable, os.path.join(ROOT, "bench", "codes_per_shot.py"), "--smoke", "--out", str(out)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        universal_newlines=True,
        timeout=300,
    )
    assert proc.returncode == 0, proc.stderr[-3000:]
    report = out.read_text()
    assert report == proc.stdout
    assert "### Shot by shot" in report and "### Compiled detector samplers" in report
    rows = [line.split("|")[1:-1] for line in report.splitlines() if line.startswith("| 3 |")]
    assert len(rows) == 2
    register, frames = rows
    assert int(register[1]) == 26 and int(register[9].replace(",", "")) > 0  # qubits, edges of the code word
    assert int(frames[1]) == 24  # detectors
