"""Runs every program in examples/ at small sizes and checks what it checks.

The examples raise AssertionError when a physical prediction fails; these
tests also make sure that those checks have teeth, by running the examples
against a register that lies about one measurement outcome.
"""

import importlib.util
import os
import subprocess
import sys
from collections import Counter
from pathlib import Path

import pytest

import ordavine

from helpers import IS_PYPY

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
ALL_STATES = ["0", "1", "+", "-", "+i", "-i"]


def load(name):
    """Imports examples/<name>.py as a fresh module."""
    spec = importlib.util.spec_from_file_location(f"example_{name}", EXAMPLES / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def run_script(name, *args, timeout=600):
    """Runs examples/<name>.py in a new process; returns the CompletedProcess."""
    return subprocess.run([sys.executable, str(EXAMPLES / f"{name}.py"), *args],
                          cwd=str(ROOT), capture_output=True, text=True, timeout=timeout)


class FlippedResult:
    """Stands in for a MeasurementResult with the opposite value."""

    def __init__(self, result):
        self.value = 1 - int(result)

    def __int__(self):
        return self.value


class Liar:
    """Forwards everything to a real register, but reports the opposite of
    the true outcome for the `call`-th call of measurement `method`."""

    def __init__(self, method, call, nodes):
        self._sim = ordavine.Ordavine(nodes)
        self._method = method
        self._call = call
        self._calls = 0

    def __getattr__(self, name):
        real = getattr(self._sim, name)
        if name != self._method:
            return real

        def measure(qubit):
            result = real(qubit)
            self._calls += 1
            return FlippedResult(result) if self._calls == self._call else result

        return measure


def lying(method, call=1):
    """A stand-in for the Ordavine class whose registers lie once."""
    return lambda nodes: Liar(method, call, nodes)


def test_every_example_is_tested():
    tested = {"bell_ghz", "teleport_wire", "cluster_wire", "repeater_chain",
              "repetition_code", "draw_graph", "export_state",
              "dask_shots", "repeater_fidelity", "mbqc_presimulation", "large_cluster_shots",
              "surface_code_threshold"}
    assert {path.stem for path in EXAMPLES.glob("*.py")} == tested


# --- Bell and GHZ ------------------------------------------------------------


def test_bell_ghz_main(capsys):
    assert load("bell_ghz").main(["--shots", "40", "--qubits", "6"]) == 0
    out = capsys.readouterr().out
    assert "all correlations as predicted" in out
    assert "Bell YY over 40 shots: 01:" in out


def test_bell_correlations():
    counts = load("bell_ghz").bell_correlations(60)
    assert set(counts["Z"]) == {(0, 0), (1, 1)}
    assert set(counts["X"]) == {(0, 0), (1, 1)}
    assert set(counts["Y"]) == {(0, 1), (1, 0)}
    assert all(sum(tally.values()) == 60 for tally in counts.values())


@pytest.mark.parametrize("qubits", [2, 3, 7])
def test_ghz_peek_takes_both_branches(qubits):
    example = load("bell_ghz")
    first_bases = Counter(example.ghz_peek(qubits)[0][0] for _ in range(60))
    assert first_bases["Z"] > 0 and first_bases["X"] + first_bases["Y"] > 0


def test_bell_check_catches_a_missing_cnot(monkeypatch):
    example = load("bell_ghz")

    class NoCnot:
        def __init__(self, nodes):
            self._sim = ordavine.Ordavine(nodes)

        def __getattr__(self, name):
            return (lambda control, target: None) if name == "cx" else getattr(self._sim, name)

    monkeypatch.setattr(example, "Ordavine", NoCnot)
    with pytest.raises(AssertionError):
        example.bell_correlations(40)


def test_ghz_check_catches_a_wrong_outcome(monkeypatch):
    example = load("bell_ghz")
    monkeypatch.setattr(example, "Ordavine", lying("measure_x", call=3))
    with pytest.raises(AssertionError, match="parity"):
        example.ghz_correlations(4, 1)


# --- teleportation along a wire ----------------------------------------------


@pytest.mark.parametrize("state", ALL_STATES)
@pytest.mark.parametrize("length", [2, 3, 4, 5, 64])
def test_teleport_every_input(state, length):
    example = load("teleport_wire")
    expected = example.INPUT_STATES[state][2]
    for _ in range(8):
        found, minus_ones = example.teleport(length, state)
        assert found == expected
        assert 0 <= minus_ones <= length - 1


def test_teleport_main(capsys):
    assert load("teleport_wire").main(["--length", "41", "--trials", "3"]) == 0
    out = capsys.readouterr().out
    assert out.count("every time") == 6 and "all inputs teleported" in out


@pytest.mark.parametrize("call", [1, 2, 5])
def test_teleport_check_catches_a_wrong_outcome(monkeypatch, call):
    example = load("teleport_wire")
    monkeypatch.setattr(example, "Ordavine", lying("measure_x", call))
    with pytest.raises(AssertionError, match="arrived as"):
        example.teleport(8, "+i")


# --- the main job: a wire carved from a 2D cluster ---------------------------


@pytest.mark.parametrize("state", ALL_STATES)
@pytest.mark.parametrize("rows, cols", [(1, 2), (2, 2), (3, 3), (4, 5), (7, 6), (12, 9)])
def test_cluster_wire_shapes(state, rows, cols):
    example = load("cluster_wire")
    for _ in range(3):
        result = example.run(rows, cols, state, example.Progress(None))
        assert result["qubits"] == rows * cols
        assert result["edges"] == rows * (cols - 1) + (rows - 1) * cols
        assert result["wire"] + result["off_path"] == rows * cols
        assert result["output"] == example.snake_path(rows, cols)[-1]


def test_snake_path():
    example = load("cluster_wire")
    assert example.snake_path(3, 3) == [0, 1, 2, 5, 8, 7, 6]
    assert example.snake_path(4, 3) == [0, 1, 2, 5, 8, 7, 6]
    assert example.snake_path(5, 2) == [0, 1, 3, 5, 4, 6, 8, 9]


# On a 4 x 4 lattice the Z calls 4 to 7 measure the last row, whose qubits
# each have one wire neighbour, so one wrong outcome leaves one wrong
# byproduct.  (A qubit of an inner odd row touches the wire at two points an
# even number of steps apart, whose byproducts cancel.)
@pytest.mark.parametrize("method, call", [("measure_z", 4), ("measure_z", 7),
                                          ("measure_x", 1), ("measure_x", 6)])
def test_cluster_wire_check_catches_a_wrong_outcome(monkeypatch, method, call):
    example = load("cluster_wire")
    monkeypatch.setattr(example, "Ordavine", lying(method, call))
    with pytest.raises(AssertionError, match="arrived with"):
        example.run(4, 4, "+i", example.Progress(None))


def test_cluster_wire_command_line():
    result = run_script("cluster_wire", "--rows", "30", "--cols", "40", "--state", "-")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("lattice 30 x 40: 1,200 qubits, 2,330 edges")
    # Rows 0, 2, ..., 28 carry the wire; row 28 runs left to right.
    assert lines[-1].startswith("qubit 1,159 measured in X: -1, as sent")


def test_cluster_wire_progress_line():
    example = load("cluster_wire")

    class Log:
        def __init__(self):
            self.text = ""

        def isatty(self):
            return False

        def write(self, text):
            self.text += text

        def flush(self):
            pass

    log = Log()
    example.run(40, 40, "+", example.Progress(log, delay=0.0))
    for phase in ("build cluster", "carve wire (Z)", "check graph", "teleport (X)"):
        assert phase + ": " in log.text
    assert log.text.count("(100.0%)") == 4


@pytest.mark.skipif(IS_PYPY or os.environ.get("ORDAVINE_SKIP_MAIN_JOB") == "1",
                    reason="the full-size run is timed on CPython")
def test_cluster_wire_full_size():
    """The README's main job, as a user runs it: 10^6 qubits."""
    result = run_script("cluster_wire", "--quiet")
    assert result.returncode == 0, result.stderr
    assert "1,000,000 qubits, 1,998,000 edges" in result.stdout
    assert "as sent" in result.stdout


# --- entanglement swapping ---------------------------------------------------


@pytest.mark.parametrize("links", [1, 2, 3, 10])
def test_repeater_chain(links):
    counts = load("repeater_chain").end_to_end(links, 30)
    assert set(counts["Z"]) == {(0, 0), (1, 1)}
    assert set(counts["X"]) == {(0, 0), (1, 1)}
    assert set(counts["Y"]) == {(0, 1), (1, 0)}


def test_repeater_chain_main(capsys):
    assert load("repeater_chain").main(["--links", "16", "--shots", "20"]) == 0
    assert "end-to-end Bell pair as predicted" in capsys.readouterr().out


@pytest.mark.parametrize("call", [1, 2, 6])
def test_repeater_check_catches_a_wrong_outcome(monkeypatch, call):
    example = load("repeater_chain")
    monkeypatch.setattr(example, "Ordavine", lying("measure_z", call))
    with pytest.raises(AssertionError, match="correlation broken"):
        example.end_to_end(4, 1)


# --- repetition code ---------------------------------------------------------


@pytest.mark.parametrize("distance", [3, 4, 7])
def test_repetition_code_finds_every_x_error(distance):
    example = load("repetition_code")
    rounds = 3
    for round_ in range(rounds):
        for qubit in range(distance):
            for basis in "XZ":
                found = example.run_trial(distance, rounds, ("X", round_, qubit), basis)
                assert found == (round_, qubit)


def test_repetition_code_no_error_and_z_error():
    example = load("repetition_code")
    assert example.run_trial(5, 4, None, "X") is None
    assert example.run_trial(5, 4, ("Z", 1, 2), "X") is None


def test_repetition_decoder():
    decode = load("repetition_code").decode
    assert decode([[0, 0, 0]] * 3, 4) is None
    assert decode([[0, 0, 0], [1, 0, 0], [1, 0, 0]], 4) == (1, 0)
    assert decode([[0, 0, 0], [0, 0, 0], [0, 1, 1]], 4) == (2, 2)
    assert decode([[0, 0, 1]], 4) == (0, 3)
    with pytest.raises(AssertionError):
        decode([[1, 0, 1]], 4)


def test_repetition_code_main(capsys):
    assert load("repetition_code").main(["--distance", "5", "--rounds", "3",
                                         "--trials", "10", "--seed", "7"]) == 0
    assert "10 of 10 injected X errors located" in capsys.readouterr().out


def test_repetition_check_catches_a_wrong_syndrome(monkeypatch):
    example = load("repetition_code")
    monkeypatch.setattr(example, "Ordavine", lying("measure_z", call=2))
    with pytest.raises(AssertionError):
        example.run_trial(5, 2, ("X", 1, 3), "X")


# --- drawing -----------------------------------------------------------------


def test_draw_graph(tmp_path):
    pytest.importorskip("networkx")
    pytest.importorskip("matplotlib")
    example = load("draw_graph")
    target = tmp_path / "graph.png"
    assert example.main([str(target)]) == 0
    assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    graph = example.read_graph(example.build(), 10)
    assert sorted(graph.neighbors(9)) == [4]
    assert graph.nodes[9]["vop"] == 10
    assert {frozenset(e) for e in graph.edges} - {frozenset((4, 9))} == example.expected_edges()


# --- export to networkx and Stim ----------------------------------------------


@pytest.mark.parametrize("side", [3, 4, 7])
def test_export_state(side, capsys):
    pytest.importorskip("networkx")
    pytest.importorskip("stim")
    assert load("export_state").main(["--side", str(side)]) == 0
    assert f"Stim confirms all {side * side} generators" in capsys.readouterr().out


def test_export_state_notices_a_wrong_generator(monkeypatch):
    pytest.importorskip("networkx")
    stim = pytest.importorskip("stim")
    example = load("export_state")
    honest = example.to_stim

    def flipped(sim):  # the tableau of the state with one generator's sign flipped
        tableau = honest(sim)
        return stim.Tableau.from_stabilizers(
            [-s if q == 1 else s for q, s in enumerate(tableau.to_stabilizers())])

    monkeypatch.setattr(example, "to_stim", flipped)
    with pytest.raises(AssertionError, match="generator 1"):
        example.main(["--side", "4"])


# --- repeater fidelity and purification ---------------------------------------


def test_repeater_fidelity_predictions_hold(capsys):
    example = load("repeater_fidelity")
    assert example.main(["--links", "3", "--p", "0.08", "--runs", "1500", "--seed", "3"]) == 0
    assert "all estimates within 4 standard errors" in capsys.readouterr().out
    # The closed forms at their fixed points.
    assert example.link_fidelity(0.0) == 1.0
    assert example.chain_fidelity(0.9, 1) == pytest.approx(0.9)
    assert example.purified_fidelity(1.0) == 1.0 and example.purification_success(1.0) == 1.0
    assert example.chain_fidelity(0.25, 5) == pytest.approx(0.25)  # the maximally mixed state stays so


def test_repeater_fidelity_notices_a_wrong_model(monkeypatch):
    example = load("repeater_fidelity")
    # Noise twice as strong as the prediction assumes.
    monkeypatch.setattr(example, "link_fidelity", lambda p: (1 - p / 2) ** 2 + (p / 2) ** 2 / 3)
    with pytest.raises(AssertionError, match="end-to-end fidelity"):
        example.simulate(4, 0.05, 2000, 1)


def test_repeater_fidelity_notices_a_missing_correction(monkeypatch):
    example = load("repeater_fidelity")

    def swap_without_z(sim, left, right, far):
        sim.cx(left, right)
        sim.h(left)
        if int(sim.measure_z(right)):
            sim.x(far)
        sim.measure_z(left)

    monkeypatch.setattr(example, "swap", swap_without_z)
    with pytest.raises(AssertionError, match="end-to-end fidelity"):
        example.simulate(3, 0.0, 200, 2)


# --- MBQC presimulation -------------------------------------------------------


@pytest.mark.parametrize("rows, cols", [(1, 2), (1, 9), (2, 3), (3, 8), (5, 5), (8, 30)])
def test_mbqc_presimulation_shapes(rows, cols):
    pytest.importorskip("numpy")
    example = load("mbqc_presimulation")
    for seed in range(4):
        result = example.run(rows, cols, seed)
        assert result["qubits"] == rows * cols and result["measured"] == rows * (cols - 1)


def test_mbqc_presimulation_main(capsys):
    pytest.importorskip("numpy")
    assert load("mbqc_presimulation").main(["--rows", "4", "--cols", "12"]) == 0
    assert "every stabilizer of the circuit's state is +1 on it" in capsys.readouterr().out


@pytest.mark.parametrize("method, call", [("measure_x", 1), ("measure_y", 1), ("measure_x", 4), ("measure_y", 6)])
def test_mbqc_presimulation_notices_a_wrong_outcome(monkeypatch, method, call):
    pytest.importorskip("numpy")
    example = load("mbqc_presimulation")
    monkeypatch.setattr(example, "Ordavine", LyingClass(method, call))
    with pytest.raises(AssertionError, match="output stabilizer|differ"):
        for seed in range(4):
            example.run(3, 6, seed)


class LyingClass:
    """Stands in for the Ordavine class: from_graph gives registers that lie
    once about one measurement, everything else is the real class."""

    def __init__(self, method, call):
        self._method, self._call = method, call

    def __call__(self, nodes):
        return ordavine.Ordavine(nodes)

    def from_graph(self, nodes, edges, vops=None):
        liar = Liar(self._method, self._call, 0)
        liar._sim = ordavine.Ordavine.from_graph(nodes, edges, vops)
        return liar


# --- Dask fan-out ----------------------------------------------------------------

def test_dask_shots_gathers_what_one_process_samples():
    pytest.importorskip("dask.distributed")
    result = run_script("dask_shots", "--shots", "3000", "--batch", "700", "--workers", "2",
                        "--distance", "3", timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "identical to one process's sample" in result.stdout


def test_dask_shots_circuit_is_silent_without_noise_and_fires_with_it():
    pytest.importorskip("dask.distributed")  # the example imports it
    shots = load("dask_shots")
    for distance, rounds in [(3, 1), (5, 4)]:
        quiet = ordavine.sample_detectors(shots.repetition_code(distance, rounds, 0.0), 40, seed=1)
        assert not any(quiet[0]) and not any(quiet[1])
        noisy = ordavine.sample_detectors(shots.repetition_code(distance, rounds, 0.05), 40, seed=1)
        assert any(noisy[0])


# --- large cluster shots ------------------------------------------------------


def test_large_cluster_shots_streams_the_rows_it_samples(tmp_path):
    pytest.importorskip("numpy")
    out = tmp_path / "shots.b8"
    result = run_script("large_cluster_shots", "--side", "60", "--shots", "700", "--out", str(out),
                        "--threads", "2")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "700 of 700 shots" in result.stdout and "a cluster state predicts 1/2" in result.stdout
    assert out.stat().st_size == 700 * ((3600 + 7) // 8)


# --- surface code threshold ---------------------------------------------------


def test_surface_code_threshold_runs_sinter_and_draws(tmp_path):
    for package in ("sinter", "pymatching", "matplotlib"):
        pytest.importorskip(package)
    plot = tmp_path / "threshold.png"
    result = run_script("surface_code_threshold", "--distances", "3,5", "--rates", "0.003,0.01",
                        "--max-shots", "6000", "--max-errors", "100", "--out", str(plot))
    assert result.returncode == 0, result.stdout + result.stderr
    assert "falls with the distance" in result.stdout and plot.stat().st_size > 10_000
