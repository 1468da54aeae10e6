"""Bulk export (vops, edges, stabilizers) and the cut entropy.

Oracles: a dense state vector driven by gate matrices written here (small
registers), and Stim's tableau simulator run on the same circuits, compared
by canonical stabilizers (registers up to 500 qubits).  Set
ORDAVINE_EXPORT_SWEEP=N to run N times as many Stim circuits.
"""

import os
import random

import pytest

from helpers import catch_panic, gf2_rank
from ordavine import Ordavine

np = pytest.importorskip("numpy")

SINGLE = ["h", "s", "sdag", "x", "y", "z"]
TWO = ["cz", "cx", "cy", "xcx", "xcy", "xcz", "ycx", "ycy", "ycz"]
BASES = "xyz"
SWEEP = int(os.environ.get("ORDAVINE_EXPORT_SWEEP", "1"))

I2 = np.eye(2, dtype=complex)
PAULI = {"X": np.array([[0, 1], [1, 0]], dtype=complex),
         "Y": np.array([[0, -1j], [1j, 0]]),
         "Z": np.diag([1, -1]).astype(complex)}
GATE = {"h": (PAULI["X"] + PAULI["Z"]) / np.sqrt(2), "s": np.diag([1, 1j]),
        "sdag": np.diag([1, -1j]), "x": PAULI["X"], "y": PAULI["Y"], "z": PAULI["Z"]}


def controlled(control_pauli, target_pauli):
    """Applies target_pauli when the control is in the -1 eigenspace of control_pauli."""
    plus, minus = (I2 + control_pauli) / 2, (I2 - control_pauli) / 2
    return (np.kron(plus, I2) + np.kron(minus, target_pauli)).reshape(2, 2, 2, 2)


TWO_MATRIX = {name: controlled(PAULI["Z" if len(name) == 2 else name[0].upper()],
                               PAULI[name[-1].upper()]) for name in TWO}


def apply(psi, matrix, *qubits):
    """Applies a 1- or 2-qubit matrix to a state tensor with one axis per qubit."""
    k = len(qubits)
    out = np.tensordot(matrix.reshape((2,) * 2 * k), psi, axes=(list(range(k, 2 * k)), list(qubits)))
    return np.moveaxis(out, list(range(k)), list(qubits))


def measure_dense(psi, qubit, basis, bit):
    """Projects onto the outcome our register reported; it must be possible."""
    projector = (I2 + (-1) ** bit * PAULI[basis.upper()]) / 2
    out = apply(psi, projector, qubit)
    norm = np.linalg.norm(out)
    assert norm > 1e-6, f"impossible outcome {bit} for {basis} on qubit {qubit}"
    return out / norm


def random_dense_run(n, steps, rng):
    sim = Ordavine(n)
    psi = np.zeros((2,) * n, dtype=complex)
    psi[(0,) * n] = 1
    for _ in range(steps):
        roll, q = rng.random(), rng.randrange(n)
        if roll < 0.12:
            basis = rng.choice(BASES)
            psi = measure_dense(psi, q, basis, int(getattr(sim, "measure_" + basis)(q)))
        elif roll < 0.6 and n > 1:
            gate, b = rng.choice(TWO), rng.choice([p for p in range(n) if p != q])
            getattr(sim, gate)(q, b)
            psi = apply(psi, TWO_MATRIX[gate], q, b)
        else:
            gate = rng.choice(SINGLE)
            getattr(sim, gate)(q)
            psi = apply(psi, GATE[gate], q)
    return sim, psi


def sparse_as_text(n, sign, paulis):
    return ("+" if sign == 1 else "-") + "".join(paulis.get(q, "_") for q in range(n))


@pytest.mark.parametrize("n", range(1, 7))
def test_generators_fix_and_entropies_match_the_dense_state(n):
    rng = random.Random(n)
    for _ in range(60):
        sim, psi = random_dense_run(n, 8 * n, rng)
        generators = sim.stabilizers()
        assert len(generators) == n
        for q, text in enumerate(generators):
            sign, paulis = sim.stabilizer(q)
            assert sparse_as_text(n, sign, paulis) == text
            assert list(paulis) == [q] + sim.get_neighbors(q)
            image = psi
            for p, letter in enumerate(text[1:]):
                if letter != "_":
                    image = apply(image, PAULI[letter], p)
            assert np.allclose((1 if text[0] == "+" else -1) * image, psi), (q, text)
        for _ in range(4):
            part = sorted(rng.sample(range(n), rng.randrange(n + 1)))
            rest = [q for q in range(n) if q not in part]
            schmidt = np.linalg.matrix_rank(psi.transpose(part + rest).reshape(2 ** len(part), -1),
                                            tol=1e-8)
            assert 2 ** sim.entanglement_entropy(set(part)) == schmidt, part


def test_vops_and_edges_read_the_whole_graph_in_documented_order():
    sim, _ = random_dense_run(6, 60, random.Random(5))
    assert sim.vops() == bytes(sim.get_vop(q) for q in range(6))
    view = sim.edges()
    assert (view.format, view.itemsize, view.readonly, view.ndim) == ("I", 4, True, 1)
    expected = [(a, b) for a in range(6) for b in sim.get_neighbors(a) if a < b]
    assert expected, "the register should have edges"
    pairs = np.frombuffer(view, dtype=view.format).reshape(-1, 2)
    assert pairs.dtype == np.uint32 and [tuple(p) for p in pairs.tolist()] == expected
    empty = Ordavine(3).edges()
    assert (empty.format, len(empty)) == ("I", 0)
    assert np.frombuffer(empty, dtype=empty.format).reshape(-1, 2).shape == (0, 2)


def test_stabilizer_table_limit_and_argument_errors(panic_type):
    sim = Ordavine(8192)
    table = sim.stabilizers()
    assert len(table) == 8192 and table[-1] == "+" + "_" * 8191 + "Z"
    with pytest.raises(ValueError, match=r"^stabilizers\(\) is limited to registers of at most "
                                         r"8192 qubits, this one has 8193; use stabilizer"):
        Ordavine(8193).stabilizers()
    assert Ordavine(10**6).stabilizer(999_999) == (1, {999_999: "Z"})

    small = Ordavine(2)
    with pytest.raises(TypeError, match=r"^Ordavine\.vops\(\) takes 0 positional arguments but 1 was given$"):
        small.vops(1)
    with pytest.raises(TypeError, match=r"^Ordavine\.edges\(\) got an unexpected keyword argument 'qubit'$"):
        small.edges(qubit=0)
    with pytest.raises(TypeError, match="^argument 'qubit': 'str' object cannot be interpreted"):
        small.stabilizer("0")
    with pytest.raises(TypeError, match="^argument 'qubits': 'list' object cannot be cast as 'set'$"):
        small.entanglement_entropy([0])
    for call in (lambda: small.stabilizer(2), lambda: small.entanglement_entropy({0, 5, 3})):
        error = catch_panic(call)
        assert type(error) is panic_type
    assert str(catch_panic(small.entanglement_entropy, frozenset({5, 3}))) == \
        "index out of bounds: the len is 2 but the index is 3"


def test_queries_share_the_register_and_refuse_a_gate_inside():
    sim = Ordavine(3)
    sim.h(0)
    sim.cx(0, 1)
    seen = []

    class Peeking(set):
        def __iter__(self):
            seen.append((sim.vops(), sim.stabilizer(0)))  # a read inside a read is allowed
            return super().__iter__()

    assert sim.entanglement_entropy(Peeking({0})) == 1
    assert len(seen) == 1

    class Mutating:
        def __index__(self):
            sim.h(2)
            return 0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.stabilizer(Mutating())


# ---- Stim ---------------------------------------------------------------------

STIM_SINGLE = {"h": "h", "s": "s", "sdag": "s_dag", "x": "x", "y": "y", "z": "z"}


def random_stim_run(stim, n, steps, rng):
    sim = Ordavine(n)
    tab = stim.TableauSimulator()
    tab.set_num_qubits(n)
    for _ in range(steps):
        roll, q = rng.random(), rng.randrange(n)
        if roll < 0.1:
            basis = rng.choice(BASES)
            bit = int(getattr(sim, "measure_" + basis)(q))
            getattr(tab, "postselect_" + basis)(q, desired_value=bool(bit))
        elif roll < 0.5:
            gate, b = rng.choice(TWO), rng.choice([p for p in range(n) if p != q])
            getattr(sim, gate)(q, b)
            getattr(tab, gate)(q, b)
        else:
            gate = rng.choice(SINGLE)
            getattr(sim, gate)(q)
            getattr(tab, STIM_SINGLE[gate])(q)
    return sim, tab


def tableau_entropy(tab, part):
    """S(A) = rank of the stabilizer generators restricted to A, minus |A|."""
    rows = []
    for generator in tab.canonical_stabilizers():
        xs, zs = generator.to_numpy()
        bits = np.concatenate([xs[part], zs[part]])
        rows.append(int("".join("1" if b else "0" for b in bits) or "0", 2))
    return gf2_rank(rows) - len(part)


@pytest.mark.parametrize("n, circuits", [(2, 2000), (5, 2000), (12, 1000), (40, 300), (150, 60), (500, 20)])
def test_generators_give_the_tableau_simulators_state(n, circuits):
    stim = pytest.importorskip("stim")
    rng = random.Random(1000 * n)
    for _ in range(circuits * SWEEP):
        sim, tab = random_stim_run(stim, n, 3 * n + 20, rng)
        ours = stim.Tableau.from_stabilizers([stim.PauliString(s) for s in sim.stabilizers()])
        assert ours.to_stabilizers(canonicalize=True) == tab.canonical_stabilizers()
        part = sorted(rng.sample(range(n), rng.randrange(n + 1)))
        if n <= 150 or rng.random() < 0.5:
            assert sim.entanglement_entropy(set(part)) == tableau_entropy(tab, part)
