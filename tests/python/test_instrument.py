"""The register as an instrument: Pauli-product expectations and measurements,
postselection, fidelity, graph and stabilizer import, local complementation,
growth and noise as calls.

Oracles: Stim's tableau simulator (expectations, collapsed states compared by
canonical stabilizers, and the reduced fidelity of large registers) and dense
state vectors made with numpy from gate matrices written here.
"""

import math
import random

import pytest

import ordavine
from helpers import IS_PYPY, catch_panic, cpython_only
from ordavine import MeasurementResult, Ordavine

SINGLE = {"h": "h", "s": "s", "sdag": "s_dag", "x": "x", "y": "y", "z": "z"}
TWO = ["cz", "cx", "cy", "xcx", "xcy", "xcz", "ycx", "ycy", "ycz"]


def lockstep(stim, n, steps, rng):
    """A random register and a Stim simulator holding the same state."""
    sim, tab = Ordavine(n), stim.TableauSimulator()
    tab.set_num_qubits(n)
    for _ in range(steps):
        roll, q = rng.random(), rng.randrange(n)
        if roll < 0.1:
            basis = rng.choice("xyz")
            bit = int(getattr(sim, "measure_" + basis)(q))
            getattr(tab, "postselect_" + basis)(q, desired_value=bool(bit))
        elif roll < 0.55 and n > 1:
            gate, b = rng.choice(TWO), rng.choice([p for p in range(n) if p != q])
            getattr(sim, gate)(q, b)
            getattr(tab, gate)(q, b)
        else:
            gate = rng.choice(list(SINGLE))
            getattr(sim, gate)(q)
            getattr(tab, SINGLE[gate])(q)
    return sim, tab


def random_product(stim, n, rng):
    """A signed product in every accepted form, and as a stim.PauliString."""
    qubits = rng.sample(range(n), rng.randrange(n + 1))
    sign = rng.choice([1, -1])
    letters = {q: rng.choice("XYZ") for q in qubits}
    text = ("-" if sign < 0 else rng.choice(["", "+"])) + "*".join(f"{p}{q}" for q, p in letters.items())
    dense = ("-" if sign < 0 else "+") + "".join(letters.get(q, "_") for q in range(n))
    forms = [text, dense, (sign, letters)] + ([letters] if sign > 0 else [])
    pauli = stim.PauliString(n)
    for q, p in letters.items():
        pauli[q] = p
    return forms, pauli * sign, text


def canonical(stim, sim):
    tableau = stim.Tableau.from_stabilizers([stim.PauliString(s) for s in sim.stabilizers()])
    return [str(s) for s in tableau.to_stabilizers(canonicalize=True)]


def probe(count=32):
    """The next random bits of this thread's generator, drawn through a fresh qubit."""
    return [int(Ordavine(1).measure_x(0)) for _ in range(count)]


# ---- expectation and product measurement -------------------------------------


@pytest.mark.parametrize("n", [1, 2, 3, 5, 8, 40])
def test_expectation_agrees_with_stim_in_every_form(n):
    stim = pytest.importorskip("stim")
    rng = random.Random(n)
    for _ in range(30 if n < 40 else 8):
        sim, tab = lockstep(stim, n, rng.randrange(6 * n), rng)
        saved = sim.to_bytes()
        for _ in range(10):
            forms, pauli, _ = random_product(stim, n, rng)
            expected = tab.peek_observable_expectation(pauli)
            for form in forms:
                assert sim.expectation(form) == expected, (form, sim.stabilizers())
        assert sim.to_bytes() == saved
    # Around a hub of high degree, and long products: the test's marked path.
    # Z X Z X Z = -Z, so the last product is minus the hub's generator.
    star = Ordavine.from_graph(151, [(0, leaf) for leaf in range(1, 151)])
    assert star.expectation("X0*" + "*".join(f"Z{q}" for q in range(1, 151))) == 1
    assert star.expectation("X0*" + "*".join(f"Z{q}" for q in range(1, 150))) == 0
    assert star.expectation("Z5*X5*Z5*X5*Z5*X0*Z1*Z2*Z3*Z4*" + "*".join(f"Z{q}" for q in range(6, 151))) == -1
    assert star.expectation(star.stabilizer(7)) == 1


def test_expectation_and_measure_pauli_forms_and_refusals(panic_type):
    sim = Ordavine(3)
    sim.h(0)
    sim.cx(0, 1)
    assert [sim.expectation(p) for p in ("X0*X1", "x0*!x1", "-Y0*Y1", "Z0*Z1*Z0*Z0", "Z0", "", "-")] == \
        [1, -1, 1, 1, 0, 1, -1]
    assert type(sim.expectation("X0*X1")) is int
    assert sim.expectation("XX_") == sim.expectation({0: "X", 1: "X"}) == sim.expectation((1, {1: "X", 0: "X"})) == 1
    assert [sim.expectation(s) for s in sim.stabilizers()] == [1, 1, 1]
    cases = [
        ("X0*Z0", ValueError, "Pauli product 'X0*Z0' is not Hermitian"),
        ("X3", ValueError, "Pauli product 'X3', column 2: qubit 3 is outside the register of 3 qubits"),
        ("X0*", ValueError, "column 4: expected X, Y or Z, found the end of the text"),
        ("XXXX", ValueError, "a dense product of 4 letters is longer than the register of 3 qubits"),
        ({0: "Q"}, ValueError, "argument 'pauli': the Pauli of qubit 0 must be 'X', 'Y' or 'Z', not 'Q'"),
        ({0: 1}, TypeError, "argument 'pauli': the Pauli of qubit 0 must be 'X', 'Y' or 'Z', not 'int'"),
        ({"0": "X"}, TypeError, "argument 'pauli': 'str' object cannot be interpreted as an integer"),
        ({-1: "X"}, OverflowError, ""),  # the interpreter's own text
        ((2, {0: "X"}), ValueError, "argument 'pauli': the sign of a (sign, dict) product must be 1 or -1"),
        (["X0"], TypeError, "argument 'pauli': 'list' object cannot be cast as 'str | dict | tuple[int, dict]'"),
    ]
    for pauli, error, text in cases:
        for method in (sim.expectation, sim.measure_pauli):
            with pytest.raises(error) as caught:
                method(pauli)
            assert text in str(caught.value), (pauli, str(caught.value))
    assert str(catch_panic(sim.expectation, {3: "X"})) == "index out of bounds: the len is 3 but the index is 3"
    assert sim.expectation(pauli="Z2") == 1
    # A key whose __index__ reads the same register: a read inside a read.
    class Reads:
        def __index__(self):
            return sim.expectation("Z2") + 1

    assert sim.expectation({Reads(): "Z", 1: "Z"}) == 0

    class Writes:
        def __index__(self):
            sim.h(2)
            return 0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.measure_pauli({Writes(): "Z"})


def test_measure_pauli_follows_stim_and_draws_one_word_when_random():
    stim = pytest.importorskip("stim")
    rng = random.Random(17)
    random_seen = 0
    for trial in range(60):
        n = 1 + trial % 9
        sim, tab = lockstep(stim, n, rng.randrange(6 * n), rng)
        for _ in range(8):
            forms, pauli, _ = random_product(stim, n, rng)
            expected = tab.peek_observable_expectation(pauli)
            ordavine.seed(trial)
            result = sim.measure_pauli(rng.choice(forms))
            after = probe()
            ordavine.seed(trial)
            if expected == 0:
                Ordavine(1).measure_x(0)  # one word, as a random outcome draws
                random_seen += 1
            assert probe() == after, "measure_pauli drew other than one word for a random outcome"
            assert isinstance(result, MeasurementResult)
            if expected != 0:
                assert int(result) == (expected < 0)
            tab.postselect_observable(pauli, desired_value=bool(int(result)))
        assert canonical(stim, sim) == [str(s) for s in tab.canonical_stabilizers()]
    ordavine.seed(None)
    assert random_seen > 100


def test_measure_pauli_draws_what_mpp_draws():
    probe_register = Ordavine(4)
    try:
        probe_register.run("MPP X0*Z1")
    except ValueError:
        pytest.skip("this build's circuit reader has no MPP")
    for seed in range(20):
        text = "H 0\nCX 0 1\nH 2\nCZ 2 3\nS 3\n"
        by_call, by_circuit = Ordavine(4), Ordavine(4)
        by_call.run(text)
        by_circuit.run(text)
        ordavine.seed(seed)
        bits = [int(by_call.measure_pauli("X0*Z1*Y3")), int(by_call.measure_pauli("-Z2*X3"))]
        after_call = probe()
        ordavine.seed(seed)
        record = by_circuit.run("MPP X0*Z1*Y3 !Z2*X3")
        assert list(record) == bits and probe() == after_call
        assert by_call.to_bytes() == by_circuit.to_bytes()
    ordavine.seed(None)


# ---- postselection --------------------------------------------------------------


def test_postselection_forces_outcomes_and_refuses_impossible_ones():
    stim = pytest.importorskip("stim")
    rng = random.Random(3)
    refused = forced = 0
    for trial in range(80):
        n = 1 + trial % 7
        sim, tab = lockstep(stim, n, rng.randrange(6 * n), rng)
        for _ in range(6):
            if rng.random() < 0.5:
                q, basis = rng.randrange(n), rng.choice("XYZ")
                pauli = stim.PauliString(n)
                pauli[q] = basis
                call = getattr(sim, "postselect_" + basis.lower())
                args = (q,)
            else:
                forms, pauli, _ = random_product(stim, n, rng)
                call, args = sim.postselect_pauli, (rng.choice(forms),)
            wanted = rng.choice([0, 1, True, MeasurementResult.MinusOne, MeasurementResult.PlusOne])
            bit = int(wanted)
            expected = tab.peek_observable_expectation(pauli)
            saved = sim.to_bytes()
            ordavine.seed(trial)
            if expected == (-1 if bit == 0 else 1):
                with pytest.raises(ValueError, match=r" with certainty: [+-]1 cannot be postselected$"):
                    call(*args, wanted)
                assert sim.to_bytes() == saved
                refused += 1
            else:
                assert call(*args, wanted) == (0.5 if expected == 0 else 1.0)
                tab.postselect_observable(pauli, desired_value=bool(bit))
                forced += expected == 0
            after = probe()
            ordavine.seed(trial)
            assert probe() == after, "postselection drew from the generator"
        assert canonical(stim, sim) == [str(s) for s in tab.canonical_stabilizers()]
    ordavine.seed(None)
    assert refused > 40 and forced > 40


def test_postselection_messages_and_result_arguments(panic_type):
    sim = Ordavine(2)
    with pytest.raises(ValueError, match="^Z on qubit 1 is \\+1 with certainty: -1 cannot be postselected$"):
        sim.postselect_z(1, 1)
    with pytest.raises(ValueError, match="^the product -Z0\\*Z1 is -1 with certainty: \\+1 cannot be postselected$"):
        sim.postselect_pauli("-Z0*Z1", 0)
    with pytest.raises(ValueError, match="^the identity is \\+1 with certainty"):
        sim.postselect_pauli({}, MeasurementResult.MinusOne)
    np = pytest.importorskip("numpy") if not IS_PYPY else None
    ints = [0, False] + ([np.int64(0), np.uint8(0)] if np is not None else [])
    for value in ints:
        assert sim.postselect_z(0, value) == 1.0
    assert sim.postselect_x(qubit=0, result=MeasurementResult.MinusOne) == 0.5
    assert sim.expectation("X0") == -1
    for value, error in [(2, ValueError), (-1, ValueError), (2**70, ValueError), ("1", TypeError),
                         (1.0, TypeError), (None, TypeError)]:
        with pytest.raises(error, match="^argument 'result': "):
            sim.postselect_y(1, value)
    assert type(catch_panic(sim.postselect_x, 2, 0)) is panic_type


# ---- fidelity ---------------------------------------------------------------------

GATE = {"h": [[1, 1], [1, -1]], "s": [[1, 0], [0, 1j]], "sdag": [[1, 0], [0, -1j]],
        "x": [[0, 1], [1, 0]], "y": [[0, -1j], [1j, 0]], "z": [[1, 0], [0, -1]]}


def dense_run(np, n, steps, rng):
    """A register and its state vector (qubit q is axis q of the tensor)."""
    sim = Ordavine(n)
    psi = np.zeros((2,) * n, dtype=complex)
    psi[(0,) * n] = 1
    for _ in range(steps):
        q = rng.randrange(n)
        if rng.random() < 0.4 and n > 1:
            b = rng.choice([p for p in range(n) if p != q])
            sim.cz(q, b)
            index = [slice(None)] * n
            index[q] = index[b] = 1
            psi[tuple(index)] *= -1
        else:
            gate = rng.choice(list(GATE))
            getattr(sim, gate)(q)
            matrix = np.array(GATE[gate], dtype=complex) / (math.sqrt(2) if gate == "h" else 1)
            psi = np.moveaxis(np.tensordot(matrix, psi, axes=([1], [q])), 0, q)
    return sim, psi


def test_fidelity_agrees_with_dense_state_vectors():
    np = pytest.importorskip("numpy")
    rng = random.Random(8)
    for trial in range(300):
        n = 1 + trial % 7
        sim, psi = dense_run(np, n, rng.randrange(6 * n), rng)
        qubits = rng.sample(range(n), rng.randrange(n + 1))
        other, phi = dense_run(np, max(len(qubits), 1), rng.randrange(8), rng)
        if not qubits:
            other, phi = Ordavine(0), np.ones(())
        rest = [q for q in range(n) if q not in qubits]
        block = np.transpose(psi, qubits + rest).reshape(2 ** len(qubits), -1)
        expected = np.linalg.norm(phi.reshape(-1).conj() @ block) ** 2
        assert sim.fidelity(other, qubits) == pytest.approx(expected, abs=1e-9)
        twin, chi = dense_run(np, n, rng.randrange(4 * n), rng)
        assert sim.fidelity(twin) == pytest.approx(abs(np.vdot(chi, psi)) ** 2, abs=1e-9)


def test_fidelity_of_large_registers_agrees_with_stim():
    stim = pytest.importorskip("stim")
    rng = random.Random(12)
    for trial in range(12):
        n = 300
        sim, tab = lockstep(stim, n, 1500, rng)
        k = rng.choice([2, 3, 10, 150, 300])
        qubits = rng.sample(range(n), k)
        other, _ = lockstep(stim, k, 6 * k, rng)
        # Stim: undo the other state's preparation on the qubits, then the
        # probability that they all read 0.
        preparation = stim.Tableau.from_stabilizers([stim.PauliString(s) for s in other.stabilizers()])
        tab.do_tableau(preparation.inverse(), qubits)
        probability = 1.0
        for q in qubits:
            value = tab.peek_z(q)
            if value == -1:
                probability = 0.0
                break
            if value == 0:
                probability /= 2
                tab.postselect_z(q, desired_value=False)
        assert sim.fidelity(other, qubits) == probability, trial
    # A pair inside a large cluster: maximally mixed, 1/4 for any pair state.
    side = 300
    edges = [(r * side + c, r * side + c + 1) for r in range(side) for c in range(side - 1)] + \
            [(r * side + c, (r + 1) * side + c) for r in range(side - 1) for c in range(side)]
    cluster = Ordavine.from_graph(side * side, edges)
    bell = Ordavine.from_graph(2, [(0, 1)])
    assert cluster.fidelity(bell, [side * 150 + 10, side * 150 + 11]) == 0.25
    assert cluster.fidelity(bell, (0, 1)) == 0.25  # a corner pair: still mixed


def test_fidelity_arguments(panic_type):
    sim, pair, single = Ordavine(3), Ordavine(2), Ordavine(1)
    assert sim.fidelity(other=pair, qubits=range(2)) == 1.0
    assert sim.fidelity(single, iter([2])) == 1.0 and sim.fidelity(sim) == 1.0
    assert sim.fidelity(Ordavine(0), []) == 1.0
    with pytest.raises(ValueError, match="^fidelity of registers of different sizes: this one has 3 qubits, "
                                         "the other 2; name the qubits"):
        sim.fidelity(pair)
    with pytest.raises(ValueError, match="^qubits names 3 qubits, but the other register has 2$"):
        sim.fidelity(pair, [0, 1, 2])
    with pytest.raises(ValueError, match=r"^qubit 1 is listed twice \(at positions 0 and 1\)$"):
        sim.fidelity(pair, [1, 1])
    with pytest.raises(TypeError, match="^argument 'qubits': 'set' object cannot be cast as 'Sequence\\[int\\]'$"):
        sim.fidelity(pair, {0, 1})
    with pytest.raises(TypeError, match="^argument 'other': 'int' object cannot be cast as 'Ordavine'$"):
        sim.fidelity(2, [0, 1])
    with pytest.raises(TypeError, match="^argument 'qubits': 'str' object cannot be interpreted as an integer$"):
        sim.fidelity(pair, [0, "1"])
    assert str(catch_panic(sim.fidelity, pair, [0, 3])) == "index out of bounds: the len is 3 but the index is 3"


# ---- from_graph -----------------------------------------------------------------


def test_from_graph_builds_the_graph_state_in_edge_order():
    stim = pytest.importorskip("stim")
    rng = random.Random(5)
    for n in range(2, 30):
        pairs = [(a, b) for a in range(n) for b in range(a + 1, n) if rng.random() < 0.3]
        rng.shuffle(pairs)
        pairs = [(b, a) if rng.random() < 0.5 else (a, b) for a, b in pairs]
        vops = bytes(rng.randrange(24) for _ in range(n))
        sim = Ordavine.from_graph(n, pairs, vops)
        assert sim.vops() == vops
        for q in range(n):
            assert sim.get_neighbors(q) == [b if a == q else a for a, b in pairs if q in (a, b)]
        by_gates = Ordavine(n)
        for q in range(n):
            by_gates.h(q)
        for a, b in pairs:
            by_gates.cz(a, b)
        plain = Ordavine.from_graph(n, pairs)
        assert plain.vops() == bytes(n)
        assert canonical(stim, plain) == canonical(stim, by_gates)
        # Through edges() and vops(): the same state.
        assert canonical(stim, Ordavine.from_graph(n, sim.edges(), sim.vops())) == canonical(stim, sim)


def test_from_graph_reads_every_edge_layout():
    expected = [[1, 3], [0, 2], [1], [0]]
    layouts = [[(0, 1), (1, 2), (3, 0)], [[0, 1], [1, 2], [3, 0]], ((a, b) for a, b in [(0, 1), (1, 2), (3, 0)]),
               bytes([0, 1, 1, 2, 3, 0]), memoryview(bytes([0, 1, 1, 2, 3, 0]))]
    import array
    layouts.append(array.array("q", [0, 1, 1, 2, 3, 0]))
    # Views read through their strides, never as the memory beneath them.
    layouts += [memoryview(bytes([0, 9, 1, 9, 1, 9, 2, 9, 3, 9, 0, 9]))[::2], memoryview(bytes([0, 3, 2, 1, 1, 0]))[::-1],
                memoryview(array.array("i", [0, 1, 1, 2, 3, 0])).cast("B").cast("i", (3, 2))]
    strided_vops = memoryview(bytes([7, 99, 0, 99, 23, 99, 1]))[::2]
    assert Ordavine.from_graph(4, [(0, 1)], strided_vops).vops() == bytes([7, 0, 23, 1])
    if not IS_PYPY:
        np = pytest.importorskip("numpy")
        base = np.array([[0, 1], [1, 2], [3, 0]])
        for dtype in ("int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64", ">i4", "<u8"):
            layouts += [base.astype(dtype), base.astype(dtype).ravel()]
        layouts += [np.asfortranarray(base), np.array([[0, 1], [9, 9], [1, 2], [9, 9], [3, 0], [9, 9]])[::2],
                    base[:, ::-1][:, ::-1], np.array([[0, 1, 1, 2, 3, 0]]).reshape(-1)]
        vops = np.array([0, 10, 0, 3], dtype=np.uint8)
        assert Ordavine.from_graph(4, base, vops).vops() == bytes([0, 10, 0, 3])
    for edges in layouts:
        sim = Ordavine.from_graph(4, edges)
        assert [sim.get_neighbors(q) for q in range(4)] == expected, edges
    assert Ordavine.from_graph(nodes=3, edges=[], vops=bytearray([1, 2, 3])).vops() == b"\x01\x02\x03"
    assert Ordavine(1).from_graph(0, []).num_qubits == 0


def test_from_graph_refuses_bad_input_by_name(panic_type):
    # The core's refusals are checked in the C++ tests; here, that they
    # arrive as ValueError, and the refusals of the binding itself.
    cases = [
        ((3, [(0, 1), (1, 0)]), ValueError, "invalid graph: edge 1 is (1, 0), which repeats edge 0 (0, 1)"),
        ((3, [(-1, 1)]), ValueError, "invalid graph: edge 0 is (-1, 1), but qubits are numbered 0 to 2"),
        ((3, [(0, 2**70)]), ValueError, f"invalid graph: edge 0 is (0, {2**70}), but qubits are numbered 0 to 2"),
        ((3, [(0, 1, 2)]), ValueError, "invalid graph: edge 0 has 3 entries, not 2"),
        ((3, [(0, 1)], b"\x00\x18\x00"), ValueError, "invalid graph: VOP 24 of qubit 1 is not below 24"),
        ((3, b"\x00\x01\x02"), ValueError, "invalid graph: a flat edge buffer holds pairs, but this one has 3 entries"),
        ((3, [0, 1]), TypeError, "argument 'edges': edge 0 is a 'int', not a pair of qubits"),
        ((3, 5), TypeError, "argument 'edges': 'int' object is not iterable"),
        ((3, [("0", 1)]), TypeError, "argument 'edges': 'str' object cannot be interpreted as an integer"),
        ((3, [], [0, 0, 0]), TypeError, "argument 'vops': 'list' object cannot be cast as 'bytes'"),
        ((-1, []), OverflowError, None),  # the interpreter's own text
    ]
    if not IS_PYPY:
        np = pytest.importorskip("numpy")
        cases += [
            ((3, np.zeros((2, 3), dtype=np.int64)), ValueError,
             "invalid graph: an edge array has shape (m, 2) or (2m,), not (2, 3)"),
            ((3, np.zeros((2, 2))), TypeError, "argument 'edges': a buffer of integers is needed, not one of format 'd'"),
            ((3, [], np.zeros(3, dtype=np.int32)), TypeError,
             "argument 'vops': a buffer of bytes is needed, not one of format 'i'"),
        ]
    for args, error, text in cases:
        with pytest.raises(error) as caught:
            Ordavine.from_graph(*args)
        assert text is None or str(caught.value) == text, args
    assert str(catch_panic(Ordavine.from_graph, 2**32, [])) == "capacity overflow"


# ---- from_stabilizers -------------------------------------------------------------


def test_from_stabilizers_round_trips_every_state():
    stim = pytest.importorskip("stim")
    rng = random.Random(21)
    for trial in range(80):
        n = 1 + trial % 40
        sim, tab = lockstep(stim, n, rng.randrange(8 * n), rng)
        back = Ordavine.from_stabilizers(sim.stabilizers())
        assert canonical(stim, back) == [str(s) for s in tab.canonical_stabilizers()]
        tableau = stim.Tableau.random(n)
        given = [str(s) for s in tableau.to_stabilizers()]
        rebuilt = Ordavine.from_stabilizers(tuple(given))
        assert canonical(stim, rebuilt) == [str(s) for s in tableau.to_stabilizers(canonicalize=True)]
        assert all(rebuilt.expectation(g) == 1 for g in given)
    assert Ordavine.from_stabilizers(iter([])).num_qubits == 0
    big = stim.Tableau.random(400)
    assert canonical(stim, Ordavine.from_stabilizers([str(s) for s in big.to_stabilizers()])) == \
        [str(s) for s in big.to_stabilizers(canonicalize=True)]


def test_from_stabilizers_refusals():
    # The core's refusals are checked in the C++ tests; here, that they
    # arrive as ValueError, and the refusals of the binding itself.
    cases = [
        (["+X_", "+Z_"], ValueError, "invalid stabilizers: generators 0 and 1 anticommute"),
        ("+XZ", TypeError, "argument 'stabilizers': a sequence of generators is needed (one str per qubit), "
                           "not one 'str'"),
        (["+Z", 5], TypeError, "argument 'stabilizers': generator 1 is a 'int', not a 'str'"),
        (5, TypeError, "argument 'stabilizers': 'int' object cannot be cast as 'Sequence[str]'"),
    ]
    for given, error, text in cases:
        with pytest.raises(error) as caught:
            Ordavine.from_stabilizers(given)
        assert str(caught.value) == text


# ---- local complementation and growth -------------------------------------------


def test_local_complement_keeps_the_state(panic_type):
    stim = pytest.importorskip("stim")
    rng = random.Random(9)
    for trial in range(60):
        n = 2 + trial % 12
        sim, tab = lockstep(stim, n, 8 * n, rng)
        w = rng.randrange(n)
        around = set(sim.get_neighbors(w))
        before = {(a, b) for a in range(n) for b in sim.get_neighbors(a) if a < b}
        sim.local_complement(w)
        after = {(a, b) for a in range(n) for b in sim.get_neighbors(a) if a < b}
        assert after == before ^ {(a, b) for a in around for b in around if a < b}
        assert canonical(stim, sim) == [str(s) for s in tab.canonical_stabilizers()]
    assert type(catch_panic(Ordavine(2).local_complement, 2)) is panic_type


def test_add_qubits_appends_zeros_and_keeps_the_rest(panic_type):
    sim = Ordavine(3)
    sim.h(0)
    sim.cx(0, 2)
    lists, vops = [sim.get_neighbors(q) for q in range(3)], sim.vops()
    assert sim.add_qubits(0) == 3 and sim.num_qubits == 3
    assert sim.add_qubits(4) == 3 and sim.num_qubits == 7
    assert [sim.get_neighbors(q) for q in range(3)] == lists and sim.vops()[:3] == vops
    assert all(sim.expectation(f"Z{q}") == 1 and sim.get_neighbors(q) == [] for q in range(3, 7))
    sim.cx(0, 6)
    assert sim.expectation("Z0*Z6") == 1 and sim.expectation("X0*X2*X6") == 1
    with pytest.raises(OverflowError):
        sim.add_qubits(-1)
    with pytest.raises(TypeError, match="^argument 'count': "):
        sim.add_qubits("2")
    assert str(catch_panic(sim.add_qubits, 2**32)) == "capacity overflow"
    assert sim.num_qubits == 7
    with pytest.raises(AttributeError):
        sim.num_qubits = 3
    grown = Ordavine(0)
    assert [grown.add_qubits(1) for _ in range(100)] == list(range(100))


# ---- noise as calls -------------------------------------------------------------

NOISE = [("x_error", "X_ERROR", (3,)), ("y_error", "Y_ERROR", (3,)), ("z_error", "Z_ERROR", (3,)),
         ("depolarize1", "DEPOLARIZE1", (3,)), ("depolarize2", "DEPOLARIZE2", (1, 3))]


@pytest.mark.parametrize("method, instruction, qubits", NOISE)
def test_noise_calls_draw_what_the_circuit_draws(method, instruction, qubits):
    setup = "H 0\nCX 0 1\nH 2\nCZ 2 3\nS 3\n"
    for p in (0.0, 0.05, 0.5, 1.0):
        for seed in range(25):
            by_circuit, by_call = Ordavine(5), Ordavine(5)
            by_circuit.run(setup)
            by_call.run(setup)
            ordavine.seed(seed)
            by_circuit.run(f"{instruction}({p}) " + " ".join(map(str, qubits)))
            after_circuit = probe(8)
            ordavine.seed(seed)
            getattr(by_call, method)(*qubits, p)
            assert probe(8) == after_circuit
            assert by_call.to_bytes() == by_circuit.to_bytes(), (p, seed)
    ordavine.seed(None)


def test_noise_call_arguments(panic_type):
    sim = Ordavine(3)
    for p in (-0.1, 1.5, float("nan"), float("inf")):
        with pytest.raises(ValueError, match="^argument 'p': a probability must be in \\[0, 1\\], not "):
            sim.depolarize1(0, p)
    with pytest.raises(TypeError, match="^argument 'p': must be real number, not str$"):
        sim.x_error(0, "0.1")
    sim.x_error(qubit=2, p=1)
    assert sim.expectation("-Z2") == 1
    assert str(catch_panic(sim.depolarize2, 1, 1, 0.1)) == "a and b must be different qubits, both are 1"
    assert str(catch_panic(sim.y_error, 3, 0.5)) == "index out of bounds: the len is 3 but the index is 3"


@cpython_only
def test_text_signatures():
    expected = {
        "expectation": "($self, pauli)", "measure_pauli": "($self, pauli)",
        "postselect_x": "($self, qubit, result)", "postselect_pauli": "($self, pauli, result)",
        "fidelity": "($self, other, qubits=None)", "from_graph": "($type, nodes, edges, vops=None)",
        "from_stabilizers": "($type, stabilizers)", "local_complement": "($self, qubit)",
        "add_qubits": "($self, count)", "depolarize2": "($self, a, b, p)", "x_error": "($self, qubit, p)",
    }
    for name, signature in expected.items():
        assert getattr(Ordavine, name).__text_signature__ == signature


def test_noise_refusals_check_a_then_b_and_draw_nothing(panic_type):
    sim = Ordavine(3)
    sim.run("H 0\nCX 0 1\nS 2")
    before = sim.to_bytes()
    refusals = [("x_error", (3,), 3), ("y_error", (7,), 7), ("z_error", (3,), 3), ("depolarize1", (4,), 4),
                ("depolarize2", (5, 9), 5), ("depolarize2", (0, 3), 3), ("depolarize2", (6, 6), 6),
                ("depolarize2", (2, 2), None)]
    ordavine.seed(11)
    for method, qubits, index in refusals:
        error = catch_panic(getattr(sim, method), *qubits, 1.0)
        assert type(error) is panic_type
        assert str(error) == (f"index out of bounds: the len is 3 but the index is {index}" if index is not None
                              else "a and b must be different qubits, both are 2")
    after_refusals = probe(16)
    ordavine.seed(11)
    assert probe(16) == after_refusals
    assert sim.to_bytes() == before
    ordavine.seed(None)
