"""The nine two-qubit gates and the entangled-group query, seen from Python.

Where a register's state has to be compared with what it should be, a Stim
tableau simulator runs the same circuit alongside ("lock-step"): every qubit
is measured in a basis the tableau says is fixed, when there is one, and our
outcome must then agree; otherwise the tableau is postselected onto our
outcome.
"""

import inspect
import random

import pytest

from helpers import TWO_QUBIT_GATES, catch_panic, cpython_only, gf2_rank
from ordavine import Ordavine

SINGLE = {"h": "h", "s": "s", "sdag": "s_dag", "x": "x", "y": "y", "z": "z"}
BASES = ("x", "y", "z")

# Which operand each gate checks first, by the order of its steps: the gates
# that change the target's basis first look at the target first.
FIRST_CHECKED = {
    "cz": "control",
    "cx": "target",
    "xcx": "control",
    "ycx": "control",
    "xcz": "control",
    "ycz": "control",
    "cy": "target",
    "xcy": "target",
    "ycy": "target",
}

# Gates that are the same operator with the operands exchanged.
SWAPPED_ALIASES = [("xcz", "cx"), ("ycz", "cy"), ("xcy", "ycx")]


@pytest.fixture(scope="module")
def stim():
    return pytest.importorskip("stim")


def index_failure(size, index):
    return f"index out of bounds: the len is {size} but the index is {index}"


def new_pair(stim, n):
    tab = stim.TableauSimulator()
    tab.set_num_qubits(n)
    return Ordavine(n), tab


def random_circuit(n, steps, rng):
    """A list of (gate, qubits) over all fifteen gates, mostly two-qubit ones."""
    ops = []
    for _ in range(steps):
        if rng.random() < 0.6:
            ops.append((rng.choice(TWO_QUBIT_GATES), tuple(rng.sample(range(n), 2))))
        else:
            ops.append((rng.choice(list(SINGLE)), (rng.randrange(n),)))
    return ops


def apply(ops, sim=None, tab=None):
    for gate, qubits in ops:
        if sim is not None:
            getattr(sim, gate)(*qubits)
        if tab is not None:
            getattr(tab, SINGLE.get(gate, gate))(*qubits)


def snapshot(sim, n):
    """Every VOP and neighbour list, where the build can show them (else None)."""
    if not hasattr(sim, "get_neighbors"):
        return None
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


def measure_lockstep(sim, tab, basis, q):
    """Measures q in `basis` on both simulators; returns (our bit, was it fixed)."""
    ours = int(getattr(sim, "measure_" + basis)(q))
    expected = getattr(tab, "peek_" + basis)(q)
    if expected:
        assert ours == (expected == -1), f"qubit {q} has a fixed {basis} outcome {expected:+d}"
    getattr(tab, "postselect_" + basis)(q, desired_value=bool(ours))
    return ours, bool(expected)


def fixed_bases(tab, q):
    return [b for b in BASES if getattr(tab, "peek_" + b)(q)]


def assert_same_state(sim, tab, n, rng):
    """Measures every qubit of both in random order, in a fixed basis where there is one."""
    for q in rng.sample(range(n), n):
        measure_lockstep(sim, tab, rng.choice(fixed_bases(tab, q) or BASES), q)


# --- signatures and argument matching -----------------------------------------


@cpython_only
@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
def test_text_signature(gate):
    assert getattr(Ordavine, gate).__text_signature__ == "($self, control, target)"
    parameters = inspect.signature(getattr(Ordavine(2), gate)).parameters
    assert list(parameters) == ["control", "target"]
    for parameter in parameters.values():
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert parameter.default is inspect.Parameter.empty


def type_error_text(call, *args, **kwargs):
    with pytest.raises(TypeError) as caught:
        call(*args, **kwargs)
    assert type(caught.value) is TypeError
    return str(caught.value)


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "missing 2 required positional arguments: 'control' and 'target'"),
        ((0,), {}, "missing 1 required positional argument: 'target'"),
        ((), {"target": 1}, "missing 1 required positional argument: 'control'"),
        ((), {"control": 1}, "missing 1 required positional argument: 'target'"),
        ((0, 1, 2), {}, "takes 2 positional arguments but 3 were given"),
        ((0, 1, 2, 3), {}, "takes 2 positional arguments but 4 were given"),
        ((0, 1, 2), {"target": 1}, "takes 2 positional arguments but 3 were given"),
        ((0, 1), {"control": 0}, "got multiple values for argument 'control'"),
        ((0,), {"control": 1}, "got multiple values for argument 'control'"),
        ((0,), {"target": 1, "qubit": 2}, "got an unexpected keyword argument 'qubit'"),
        ((0, 1), {"Control": 0}, "got an unexpected keyword argument 'Control'"),
    ],
)
def test_argument_matching_errors(gate, args, kwargs, message):
    sim = Ordavine(3)
    assert type_error_text(getattr(sim, gate), *args, **kwargs) == f"Ordavine.{gate}() {message}"
    assert getattr(sim, gate)(0, 1) is None  # still usable


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize(
    "args, kwargs, parameter",
    [
        ((1.5, 2.5), {}, "control"),  # conversion stops at the first failure
        ((0, 2.5), {}, "target"),
        ((1.5, 1), {}, "control"),
        ((), {"target": 2.5, "control": 1.5}, "control"),  # parameter order, not keyword order
        ((), {"target": "1", "control": 0}, "target"),
    ],
)
def test_conversion_errors_name_the_first_failing_argument(gate, args, kwargs, parameter):
    text = type_error_text(getattr(Ordavine(3), gate), *args, **kwargs)
    assert text.startswith(f"argument '{parameter}': ")
    assert ("control" in text) == (parameter == "control")
    assert ("target" in text) == (parameter == "target")


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize(
    "call",
    [
        lambda g, c, t: g(c, t),
        lambda g, c, t: g(c, target=t),
        lambda g, c, t: g(control=c, target=t),
        lambda g, c, t: g(target=t, control=c),
    ],
    ids=["positional", "mixed", "keywords", "keywords-reversed"],
)
def test_keywords_reach_the_right_operand(stim, gate, call):
    # Control and target must not be exchanged on the way in: the state after
    # the call has to match the gate applied to (control, target).
    rng = random.Random(f"{gate}-keywords")
    for _ in range(6):
        sim, tab = new_pair(stim, 4)
        apply(random_circuit(4, 12, rng), sim, tab)
        c, t = rng.sample(range(4), 2)
        assert call(getattr(sim, gate), c, t) is None
        getattr(tab, gate)(c, t)
        assert_same_state(sim, tab, 4, rng)


# The six single-qubit eigenstates, prepared from |0>, with the basis and
# result a peek must report for them.  Any single-qubit Clifford other than
# the identity moves at least one of them, so a stray basis change on an
# operand shows up with certainty.
EIGENSTATES = [
    ([], ("Z", 0)),
    (["x"], ("Z", 1)),
    (["h"], ("X", 0)),
    (["x", "h"], ("X", 1)),
    (["h", "s"], ("Y", 0)),
    (["h", "sdag"], ("Y", 1)),
]


def eigenstate_register(extra=0):
    """Qubit k in the k-th eigenstate, then `extra` qubits in |0>."""
    sim = Ordavine(len(EIGENSTATES) + extra)
    for q, (gates, _) in enumerate(EIGENSTATES):
        for gate in gates:
            getattr(sim, gate)(q)
    return sim


def peeked_states(sim, qubits):
    outcomes = sim.peek_measure_set(set(qubits))
    return {q: (o.basis, int(o.result), o.deterministic) for q, o in outcomes.items()}


def assert_eigenstates_intact(sim):
    expected = {q: (basis, value, True) for q, (_, (basis, value)) in enumerate(EIGENSTATES)}
    assert peeked_states(sim, expected) == expected


# --- refused calls -------------------------------------------------------------

INDEX_CASES = [
    # (control, target) on a register of 4 qubits
    (4, 0),
    (0, 4),
    (3, 4),
    (4, 3),
    (5, 7),
    (7, 5),
    (2**64 - 1, 1),
    (1, 2**64 - 1),
]


def expected_failing_index(gate, control, target, size):
    bad = {"control": control >= size, "target": target >= size}
    first = FIRST_CHECKED[gate]
    second = "target" if first == "control" else "control"
    return {"control": control, "target": target}[first if bad[first] else second]


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize("control, target", INDEX_CASES)
def test_index_failure_reports_the_first_checked_operand(gate, control, target):
    error = catch_panic(getattr(Ordavine(4), gate), control, target)
    assert str(error) == index_failure(4, expected_failing_index(gate, control, target, 4))


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize("control, target", [(4, 1), (1, 4), (6, 5)])
def test_index_failure_changes_nothing(stim, gate, control, target):
    # A gate that changed the valid operand's basis before noticing the bad
    # one would leave an H or S on it; each trial catches that with
    # probability at least one half.
    rng = random.Random(f"{gate}-{control}-{target}")
    for _ in range(20):
        sim, tab = new_pair(stim, 4)
        apply(random_circuit(4, 15, rng), sim, tab)
        before = snapshot(sim, 4)
        catch_panic(getattr(sim, gate), control, target)
        assert snapshot(sim, 4) == before
        # Usable afterwards, and in the state it had.
        getattr(sim, gate)(0, 1)
        getattr(tab, gate)(0, 1)
        assert_same_state(sim, tab, 4, rng)


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize("bad", [6, 2**64 - 1])
def test_index_failure_leaves_the_valid_operand_alone(gate, bad):
    sim = eigenstate_register()
    for q in range(len(EIGENSTATES)):
        for control, target in ((q, bad), (bad, q)):
            error = catch_panic(getattr(sim, gate), control, target)
            assert str(error) == index_failure(6, bad)
    assert_eigenstates_intact(sim)


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize("qubit", [0, 2, 3])
def test_control_equal_to_target_is_refused(gate, qubit):
    error = catch_panic(getattr(Ordavine(4), gate), qubit, qubit)
    assert str(error) == f"control and target must be different qubits, both are {qubit}"


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
def test_equal_out_of_range_operands_fail_on_the_index(gate):
    error = catch_panic(getattr(Ordavine(4), gate), 9, 9)
    assert str(error) == index_failure(4, 9)


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
def test_control_equal_to_target_leaves_the_qubit_alone(gate):
    sim = eigenstate_register()
    for q in range(len(EIGENSTATES)):
        catch_panic(getattr(sim, gate), q, q)
    assert_eigenstates_intact(sim)
    assert [sim.get_entangled_group(q) for q in range(6)] == [{q} for q in range(6)]


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
def test_control_equal_to_target_changes_nothing(stim, gate):
    rng = random.Random(f"{gate}-same")
    for _ in range(20):
        sim, tab = new_pair(stim, 4)
        apply(random_circuit(4, 15, rng), sim, tab)
        q = rng.randrange(4)
        before = snapshot(sim, 4)
        catch_panic(getattr(sim, gate), q, q)
        assert snapshot(sim, 4) == before
        assert_same_state(sim, tab, 4, rng)


# --- algebra of the gates -----------------------------------------------------


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
def test_each_gate_twice_restores_every_eigenstate_pair(gate):
    # 36 product inputs; most of them are entangled by one application.
    entangled = 0
    for c, (c_gates, c_state) in enumerate(EIGENSTATES):
        for t, (t_gates, t_state) in enumerate(EIGENSTATES):
            sim = Ordavine(2)
            for q, gates in ((0, c_gates), (1, t_gates)):
                for g in gates:
                    getattr(sim, g)(q)
            getattr(sim, gate)(0, 1)
            entangled += sim.get_entangled_group(0) == {0, 1}
            getattr(sim, gate)(0, 1)
            assert peeked_states(sim, {0, 1}) == {0: c_state + (True,), 1: t_state + (True,)}, (c, t)
    # Control unbiased to its Pauli and target unbiased to the applied one:
    # four of six states each.
    assert entangled == 16


@pytest.mark.parametrize("gate", TWO_QUBIT_GATES)
@pytest.mark.parametrize("seed", range(12))
def test_each_gate_is_its_own_inverse(stim, gate, seed):
    rng = random.Random(f"{gate}-inverse-{seed}")
    n = 5
    sim, tab = new_pair(stim, n)
    apply(random_circuit(n, 30, rng), sim, tab)
    for _ in range(4):
        c, t = rng.sample(range(n), 2)
        getattr(sim, gate)(c, t)
        getattr(sim, gate)(c, t)
    assert_same_state(sim, tab, n, rng)


@pytest.mark.parametrize("gate, alias", SWAPPED_ALIASES)
@pytest.mark.parametrize("seed", range(10))
def test_gate_equals_its_alias_with_operands_exchanged(stim, gate, alias, seed):
    rng = random.Random(f"{gate}-{alias}-{seed}")
    n = 5
    tab = stim.TableauSimulator()
    tab.set_num_qubits(n)
    first, second = Ordavine(n), Ordavine(n)
    ops = random_circuit(n, 25, rng)
    apply(ops, first, tab)
    apply(ops, second)
    for _ in range(3):
        c, t = rng.sample(range(n), 2)
        getattr(first, gate)(c, t)
        getattr(second, alias)(t, c)
        getattr(tab, gate)(c, t)
    # Both registers are read in the same order and bases, each against its
    # own copy of the reference state.
    other = tab.copy()
    for q in rng.sample(range(n), n):
        basis = rng.choice(fixed_bases(tab, q) or fixed_bases(other, q) or BASES)
        measure_lockstep(first, tab, basis, q)
        measure_lockstep(second, other, basis, q)


# --- entangled groups -----------------------------------------------------------


def test_entangled_group_examples():
    sim = Ordavine(4)
    sim.h(0)
    sim.cx(0, 1)
    sim.h(2)
    sim.cx(2, 3)
    assert sim.get_entangled_group(0) == {0, 1}
    assert sim.get_entangled_group(1) == {0, 1}
    assert sim.get_entangled_group(2) == {2, 3}
    assert sim.get_entangled_group(3) == {2, 3}
    sim.cz(1, 2)
    for q in range(4):
        assert sim.get_entangled_group(q) == {0, 1, 2, 3}


@pytest.mark.parametrize("n", [1, 2, 7])
def test_new_register_gives_singletons(n):
    sim = Ordavine(n)
    assert [sim.get_entangled_group(q) for q in range(n)] == [{q} for q in range(n)]
    # Single-qubit gates never join qubits.
    for q in range(n):
        for gate in ("h", "s", "x", "sdag", "y", "z"):
            getattr(sim, gate)(q)
    assert [sim.get_entangled_group(q) for q in range(n)] == [{q} for q in range(n)]


def test_gate_on_product_inputs_that_cannot_entangle():
    # cx with the control in |0> does nothing; with the target in |+> it
    # does nothing either (X|+> = |+>).  Neither may join the two qubits.
    sim = Ordavine(4)
    sim.cx(0, 1)
    sim.h(3)
    sim.cx(2, 3)
    assert [sim.get_entangled_group(q) for q in range(4)] == [{0}, {1}, {2}, {3}]


def test_returned_set_is_a_new_mutable_object():
    sim = Ordavine(3)
    sim.h(0)
    sim.cx(0, 1)
    first = sim.get_entangled_group(0)
    second = sim.get_entangled_group(0)
    assert type(first) is set and first is not second
    assert all(type(q) is int for q in first)
    first.add(2)
    first.discard(0)
    assert second == {0, 1}
    assert sim.get_entangled_group(0) == {0, 1}
    assert sim.get_entangled_group(2) == {2}


@pytest.mark.parametrize("n", [0, 1, 5])
def test_query_out_of_range_fails(n):
    sim = Ordavine(n)
    for index in (n, n + 3):
        error = catch_panic(sim.get_entangled_group, index)
        assert str(error) == index_failure(n, index)
    if n:
        assert sim.get_entangled_group(n - 1) == {n - 1}


@pytest.mark.parametrize("basis, rest_joined", [("z", False), ("x", True), ("y", True)])
def test_measuring_a_ghz_qubit_splits_the_group(basis, rest_joined):
    n = 100
    sim = Ordavine(n)
    sim.h(0)
    for q in range(1, n):
        sim.cx(0, q)
    assert sim.get_entangled_group(57) == set(range(n))
    getattr(sim, "measure_" + basis)(0)
    # Z collapses the whole state to a product; X or Y leaves the other
    # qubits in a smaller GHZ state.
    assert sim.get_entangled_group(0) == {0}
    for q in (1, 50, n - 1):
        assert sim.get_entangled_group(q) == (set(range(1, n)) if rest_joined else {q})


def product_factors(tab, n):
    """For each qubit, the smallest set of qubits whose state factors out of the rest.

    A set A factors out exactly when its entanglement entropy is zero, that
    is when the stabilizers restricted to A have GF(2) rank |A|.  The
    smallest such set containing q is the intersection of all of them.
    """
    generators = [[p[k] for k in range(n)] for p in tab.canonical_stabilizers()]
    # Two bits per qubit: x part (X or Y), z part (Y or Z).
    bits = [[(code in (1, 2)) | ((code in (2, 3)) << 1) for code in g] for g in generators]
    full = (1 << n) - 1
    factor = [full] * n
    for mask in range(1, full):
        members = [k for k in range(n) if mask >> k & 1]
        rows = []
        for g in bits:
            row = 0
            for i, k in enumerate(members):
                row |= g[k] << (2 * i)
            rows.append(row)
        if gf2_rank(rows) == len(members):
            for k in members:
                factor[k] &= mask
    return [{k for k in range(n) if f >> k & 1} for f in factor]


@pytest.mark.parametrize("seed", range(15))
def test_entangled_groups_match_the_product_structure(stim, seed):
    # In a graph state two qubits are entangled exactly when they share a
    # connected component, so the group must be the smallest factor of the
    # state that contains the qubit, after every gate and measurement.
    rng = random.Random(f"groups-{seed}")
    n = 6
    sim, tab = new_pair(stim, n)
    for step in range(60):
        roll = rng.random()
        if roll < 0.15:
            q = rng.randrange(n)
            measure_lockstep(sim, tab, rng.choice(BASES), q)
        elif roll < 0.4:
            # Few two-qubit gates, so that the state is seldom one block.
            gate, pair = rng.choice(TWO_QUBIT_GATES), rng.sample(range(n), 2)
            apply([(gate, pair)], sim, tab)
        else:
            apply([(rng.choice(list(SINGLE)), (rng.randrange(n),))], sim, tab)
        expected = product_factors(tab, n)
        for q in range(n):
            assert sim.get_entangled_group(q) == expected[q], f"step {step}, qubit {q}"
