"""The register methods of the circuit format's gates: every unitary gate,
the resets and the state vector, against Stim, dense vectors and `run`."""

import random
import subprocess
import sys

import pytest

import ordavine
from helpers import catch_panic


def gate_methods_by_format_name():
    """{format name: method name} for every unitary gate on one qubit or a pair
    that Stim lists under its own name; the identities I and II have none, and
    the product rotations SPP and SPP_DAG are circuit lines only."""
    stim_module = pytest.importorskip("stim")
    names = {}
    for name, data in stim_module.gate_data().items():
        if name != data.name or not data.is_unitary or name in ("I", "II", "SPP", "SPP_DAG"):
            continue
        names[name] = name.lower()
    return names


def arity(stim_module, name):
    return 2 if stim_module.gate_data(name).is_two_qubit_gate else 1


def test_every_unitary_gate_of_the_format_is_a_method():
    methods = gate_methods_by_format_name()
    assert len(methods) >= 40
    missing = [m for m in methods.values() if not callable(getattr(ordavine.Ordavine, m, None))]
    assert missing == []


def test_the_register_guide_lists_every_gate_method_once():
    import pathlib
    import re

    text = (pathlib.Path(__file__).parents[2] / "docs/guide/register.md").read_text(encoding="utf-8")
    table = text.split("<!-- gate-table:start -->")[1].split("<!-- gate-table:end -->")[0]
    rows = [line for line in table.splitlines() if line.startswith("| `")]
    listed = {re.match(r"\| `([A-Z_]+)`", row).group(1): re.findall(r"\[`([a-z_]+)`\]", row) for row in rows}
    expected = gate_methods_by_format_name()
    assert sorted(listed) == sorted(expected)
    for name, methods in listed.items():
        assert expected[name] in methods
        assert all(callable(getattr(ordavine.Ordavine, m)) for m in methods)


def random_sequence(stim_module, rng, n, length):
    names = sorted(gate_methods_by_format_name())
    calls = []
    for _ in range(length):
        name = rng.choice(names)
        qubits = rng.sample(range(n), arity(stim_module, name))
        calls.append((name, qubits))
    return calls


def test_every_gate_method_acts_as_stims_gate_with_its_phases():
    stim_module = pytest.importorskip("stim")
    numpy = pytest.importorskip("numpy")
    rng = random.Random(5)
    for trial in range(60):
        n = rng.randint(2, 6)
        reg, sim = ordavine.Ordavine(n), stim_module.TableauSimulator()
        sim.set_num_qubits(n)
        for name, qubits in random_sequence(stim_module, rng, n, 25):
            getattr(reg, name.lower())(*qubits)
            sim.do(stim_module.Circuit(f"{name} {' '.join(map(str, qubits))}"))
        ours, theirs = reg.state_vector(), sim.state_vector(endian="little")
        assert ours.dtype == numpy.complex64 and ours.shape == (2**n,)
        numpy.testing.assert_allclose(ours, theirs, atol=1e-6, err_msg=f"trial {trial}")


def test_a_gate_method_leaves_the_register_that_run_of_its_line_leaves():
    stim_module = pytest.importorskip("stim")
    rng = random.Random(9)
    for name in sorted(gate_methods_by_format_name()):
        for _ in range(3):
            start = ordavine.Ordavine(5)
            for other, qubits in random_sequence(stim_module, rng, 5, 12):
                getattr(start, other.lower())(*qubits)
            by_method, by_run = start.copy(), start.copy()
            qubits = rng.sample(range(5), arity(stim_module, name))
            getattr(by_method, name.lower())(*qubits)
            by_run.run(f"{name} {' '.join(map(str, qubits))}")
            assert by_method.to_bytes() == by_run.to_bytes(), name


@pytest.mark.parametrize("method", ["swap", "iswap", "sqrt_yy_dag", "czswap"])
def test_two_qubit_methods_refuse_bad_and_equal_operands_and_change_nothing(method):
    reg = ordavine.Ordavine(3)
    reg.h(0)
    reg.cx(0, 1)
    reg.s(2)
    before = reg.to_bytes()
    error = catch_panic(getattr(reg, method), 1, 3)
    assert "index out of bounds: the len is 3 but the index is 3" in str(error)
    error = catch_panic(getattr(reg, method), 2, 2)
    assert "control and target must be different qubits, both are 2" in str(error)
    assert reg.to_bytes() == before
    with pytest.raises(TypeError):
        getattr(reg, method)(0)
    getattr(reg, method)(a=0, b=2)


@pytest.mark.parametrize("axis", ["x", "y", "z"])
def test_resets_draw_as_run_does_and_leave_the_plus_one_eigenstate(axis):
    line = {"x": "RX", "y": "RY", "z": "R"}[axis]
    for seed in range(8):
        by_method, by_run = ordavine.Ordavine(4), ordavine.Ordavine(4)
        for reg in (by_method, by_run):
            reg.h(0)
            reg.cx(0, 1)
            reg.h_yz(2)
            reg.cz(1, 2)
        ordavine.seed(seed)
        for q in (1, 2, 0):
            getattr(by_method, f"reset_{axis}")(q)
        ordavine.seed(seed)
        by_run.run(f"{line} 1 2 0")
        assert by_method.to_bytes() == by_run.to_bytes()
        for q in (0, 1, 2):
            assert by_method.expectation(f"{axis.upper()}{q}") == 1
    ordavine.seed(None)


def test_state_vector_refuses_large_registers_and_says_when_numpy_is_missing():
    with pytest.raises(ValueError, match="at most 24 qubits; this one has 25"):
        ordavine.Ordavine(25).state_vector()
    code = (
        "import sys\n"
        "sys.modules['numpy'] = None\n"
        "import ordavine\n"
        "try:\n"
        "    ordavine.Ordavine(2).state_vector()\n"
        "except ImportError as error:\n"
        "    print('ImportError:', error)\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.stdout.startswith("ImportError: state_vector() returns a numpy array"), result.stderr


def test_state_vector_of_a_cluster_against_the_graph_state_formula():
    numpy = pytest.importorskip("numpy")
    reg = ordavine.Ordavine(6)
    for q in range(6):
        reg.h(q)
    edges = [(0, 1), (1, 2), (2, 3), (3, 4), (4, 5), (5, 0), (0, 3)]
    for a, b in edges:
        reg.cz(a, b)
    expected = numpy.array(
        [(-1) ** sum((x >> a) & (x >> b) & 1 for a, b in edges) for x in range(64)]) / 8
    numpy.testing.assert_allclose(reg.state_vector(), expected, atol=1e-7)
