"""peek_measure_set: outcomes of a qubit set measured on a copy of the register.

The qubits of the set are measured one after another in ascending index
order on one copy, each on the axis the copy fixes for it when there is one,
otherwise on a random axis.  Each reported outcome therefore has to be a
possible outcome of that sequence of measurements on the register's state,
and the register itself must not change.
"""

import math
import random

import pytest

from helpers import catch_panic
from ordavine import MeasurementResult, Ordavine, Outcome

SINGLE = {"h": "h", "s": "s", "sdag": "s_dag", "x": "x", "y": "y", "z": "z"}
TWO = ["cz", "cx", "xcx", "ycx", "xcz", "ycz", "cy", "xcy", "ycy"]
BASES = ("x", "y", "z")


@pytest.fixture(scope="module")
def stim():
    return pytest.importorskip("stim")


def assert_binomial(count, trials, p, sigmas=5):
    mean = trials * p
    sigma = math.sqrt(trials * p * (1 - p))
    assert abs(count - mean) <= sigmas * sigma, f"{count} of {trials}, expected about {mean:.0f}"


def outcome_fields(outcome):
    """(basis letter in lower case, result bit, deterministic), type-checked."""
    assert type(outcome) is Outcome
    result, basis, deterministic = outcome.result, outcome.basis, outcome.deterministic
    assert type(result) is MeasurementResult
    assert type(basis) is str and basis in ("X", "Y", "Z")
    assert type(deterministic) is bool
    value = int(result)
    assert repr(result) == ("MeasurementResult.PlusOne", "MeasurementResult.MinusOne")[value]
    return basis.lower(), value, deterministic


def snapshot(sim, n):
    """Every VOP and neighbour list, where the build can show them (else None)."""
    if not hasattr(sim, "get_neighbors"):
        return None
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


def peek(sim, qubits):
    answer = sim.peek_measure_set(qubits)
    assert type(answer) is dict
    assert all(type(key) is int for key in answer)
    assert set(answer) == set(qubits)
    return {q: outcome_fields(answer[q]) for q in sorted(answer)}


# --- arguments and failures -------------------------------------------------------


@pytest.mark.parametrize("empty", [set(), frozenset()], ids=repr)
@pytest.mark.parametrize("n", [0, 3])
def test_empty_set_gives_a_new_empty_dict(empty, n):
    sim = Ordavine(n)
    first, second = sim.peek_measure_set(empty), sim.peek_measure_set(empty)
    assert type(first) is dict and first == {} and first is not second


@pytest.mark.parametrize(
    "value, type_name", [([0, 1], "list"), ((0, 1), "tuple"), ({0: 0}, "dict")], ids=repr
)
def test_qubits_must_be_a_set_or_frozenset(value, type_name):
    with pytest.raises(TypeError) as caught:
        Ordavine(3).peek_measure_set(value)
    assert type(caught.value) is TypeError
    assert str(caught.value) == f"argument 'qubits': '{type_name}' object cannot be cast as 'set'"


@pytest.mark.parametrize("qubits", [{0, 1.5}, frozenset({1.5, 0}), {"1"}, {0, None}], ids=repr)
def test_non_integer_elements_are_refused(qubits):
    with pytest.raises(TypeError) as caught:
        Ordavine(3).peek_measure_set(qubits)
    assert type(caught.value) is TypeError
    assert str(caught.value).startswith("argument 'qubits': ")


def bell_and_marker():
    """Qubits 0 and 1 in |00> + |11>, qubit 2 in |1>."""
    sim = Ordavine(3)
    sim.h(0)
    sim.cx(0, 1)
    sim.x(2)
    return sim


def assert_bell_and_marker_intact(sim):
    # Qubit 0 is still entangled (a measured qubit would be fixed), qubit 1
    # follows it and qubit 2 is still |1>.
    outcomes = peek(sim, {0, 1, 2})
    assert outcomes[0][2] is False
    assert outcomes[1][2] is True
    assert outcomes[2] == ("z", 1, True)
    a, b = int(sim.measure_z(0)), int(sim.measure_z(1))
    assert a == b and int(sim.measure_z(2)) == 1


@pytest.mark.parametrize(
    "qubits, index",
    [
        ({3}, 3),
        ({0, 3}, 3),
        ({0, 1, 2, 3}, 3),
        (frozenset({1, 7}), 7),
        ({2**64 - 1, 1}, 2**64 - 1),
        # Iterated as 16 before 9; the smaller index is visited first.
        (set([16, 9]), 9),
        (set([16, 9, 0, 1]), 9),
    ],
    ids=repr,
)
def test_out_of_range_index_fails_and_changes_nothing(qubits, index):
    sim = bell_and_marker()
    before = snapshot(sim, 3)
    error = catch_panic(sim.peek_measure_set, qubits)
    assert snapshot(sim, 3) == before
    assert str(error) == f"index out of bounds: the len is 3 but the index is {index}"
    assert_bell_and_marker_intact(sim)


@pytest.mark.parametrize("qubits", [{0}, frozenset({0, 5})], ids=repr)
def test_any_index_fails_on_an_empty_register(qubits):
    sim = Ordavine(0)
    error = catch_panic(sim.peek_measure_set, qubits)
    assert str(error) == "index out of bounds: the len is 0 but the index is 0"
    assert sim.peek_measure_set(set()) == {}


def test_iteration_order_of_the_failure_cases():
    # The cases above only test the visiting order if the set's own order differs.
    assert list(set([16, 9])) == [16, 9]


# --- the Outcome objects -----------------------------------------------------------------


@pytest.mark.parametrize("attribute", ["result", "basis", "deterministic"])
def test_outcome_attributes_are_read_only(attribute):
    outcome = bell_and_marker().peek_measure_set({2})[2]
    before = getattr(outcome, attribute)
    with pytest.raises(AttributeError):
        setattr(outcome, attribute, before)
    with pytest.raises(AttributeError):
        delattr(outcome, attribute)
    assert outcome_fields(outcome) == ("z", 1, True)


def test_outcome_result_is_a_new_measurement_result():
    outcomes = bell_and_marker().peek_measure_set({0, 1, 2})
    for outcome in outcomes.values():
        for member in (MeasurementResult.PlusOne, MeasurementResult.MinusOne):
            assert outcome.result is not member and outcome.result != member
    assert outcomes[0] is not outcomes[1]


def test_each_call_builds_new_outcomes():
    sim = bell_and_marker()
    first, second = sim.peek_measure_set({2}), sim.peek_measure_set(frozenset({2}))
    assert first is not second and first[2] is not second[2]
    assert outcome_fields(first[2]) == outcome_fields(second[2]) == ("z", 1, True)


# --- outcomes of known states --------------------------------------------------------------


@pytest.mark.parametrize("n", [1, 2, 9])
def test_new_register_is_fixed_plus_one_in_z(n):
    sim = Ordavine(n)
    everything = set(range(n))
    assert peek(sim, everything) == {q: ("z", 0, True) for q in range(n)}
    assert peek(sim, frozenset(everything)) == {q: ("z", 0, True) for q in range(n)}
    assert peek(sim, {n - 1}) == {n - 1: ("z", 0, True)}


# Single-qubit preparations from |0> and the basis and result they fix.
EIGENSTATES = [
    ([], ("z", 0)),
    (["x"], ("z", 1)),
    (["h"], ("x", 0)),
    (["x", "h"], ("x", 1)),
    (["h", "s"], ("y", 0)),
    (["h", "sdag"], ("y", 1)),
    (["h", "s", "h"], ("y", 1)),
    (["h", "y"], ("x", 1)),
]


def test_product_states_report_their_fixed_basis_and_value():
    n = len(EIGENSTATES)
    sim = Ordavine(n)
    for q, (gates, _) in enumerate(EIGENSTATES):
        for gate in gates:
            getattr(sim, gate)(q)
    expected = {q: (basis, value, True) for q, (_, (basis, value)) in enumerate(EIGENSTATES)}
    for _ in range(5):
        assert peek(sim, set(range(n))) == expected
    for q in range(n):
        assert peek(sim, {q}) == {q: expected[q]}
    # Measuring in the reported basis agrees, so the peek left the states alone.
    for q, (basis, value, _) in expected.items():
        assert int(getattr(sim, "measure_" + basis)(q)) == value


def ghz(n, preparation):
    """|0...0> + |1...1> on qubits 0..n-1 of a register with two spare qubits."""
    sim = Ordavine(n + 2)
    if preparation == "star":
        sim.h(0)
        for q in range(1, n):
            sim.cx(0, q)
    elif preparation == "chain":
        sim.h(0)
        for q in range(1, n):
            sim.cx(q - 1, q)
    elif preparation == "cz-star":
        for q in range(n):
            sim.h(q)
        for q in range(1, n):
            sim.cz(0, q)
        for q in range(1, n):
            sim.h(q)
    else:
        raise ValueError(preparation)
    sim.h(n + 1)  # spare qubits: n in |0>, n + 1 in |+>
    return sim


def check_ghz_outcomes(n, qubits, outcomes):
    """Whether the outcomes of a peek of `qubits` on an n-qubit GHZ state can occur.

    In ascending order: while two or more GHZ qubits are unmeasured, a qubit
    is random; a Z outcome collapses the rest to that value, fixed in Z; X
    and Y outcomes leave a smaller GHZ state, whose last qubit is fixed in X
    or Y so that the Ys are even in number and the product of all outcomes
    is (-1)^(Ys / 2).  Returns the basis and bit of the first random qubit.
    """
    unmeasured = n
    collapsed = None
    ys = parity = 0
    first = None
    for q in sorted(qubits):
        basis, value, deterministic = outcomes[q]
        if q >= n:  # a spare qubit
            assert (basis, value, deterministic) == (("z", 0, True) if q == n else ("x", 0, True))
            continue
        if collapsed is not None:
            assert (basis, value, deterministic) == ("z", collapsed, True), q
        elif unmeasured >= 2:
            assert deterministic is False, q
            if first is None:
                first = (basis, value)
            if basis == "z":
                collapsed = value
            else:
                ys += basis == "y"
                parity ^= value
        else:
            assert deterministic is True, q
            assert basis == ("y" if ys % 2 else "x"), q
            ys += basis == "y"
            assert parity ^ value == (ys // 2) % 2, q
        unmeasured -= 1
    return first


@pytest.mark.parametrize("preparation", ["star", "chain", "cz-star"])
@pytest.mark.parametrize("n", [2, 3, 5])
@pytest.mark.parametrize("subset", ["all", "all-and-spares", "some"])
def test_ghz_outcomes_are_consistent(preparation, n, subset):
    rng = random.Random(f"{preparation}-{n}-{subset}")
    sim = ghz(n, preparation)
    firsts = []
    for _ in range(150):
        if subset == "all":
            qubits = set(range(n))
        elif subset == "all-and-spares":
            qubits = frozenset(range(n + 2))
        else:
            qubits = set(rng.sample(range(n + 2), rng.randrange(1, n + 2)))
        outcomes = peek(sim, qubits)
        first = check_ghz_outcomes(n, qubits, outcomes)
        if first is not None:
            firsts.append(first)
    # The random qubits use every axis and both outcomes.
    assert {basis for basis, _ in firsts} == {"x", "y", "z"}
    assert {value for _, value in firsts} == {0, 1}
    # The register is still the GHZ state: its X parity is +1.
    bits = [int(sim.measure_x(q)) for q in rng.sample(range(n), n)]
    assert sum(bits) % 2 == 0


def test_bell_pair_reports_the_lower_index_as_random():
    # Qubits 1 and 8 share a Bell pair; the set iterates 8 before 1 but the
    # lower index is measured first, so 1 is random and 8 follows it.
    sim = Ordavine(9)
    sim.h(8)
    sim.cx(8, 1)
    qubits = {8, 1}
    assert list(qubits) == [8, 1]
    for _ in range(50):
        outcomes = peek(sim, qubits)
        basis, value, deterministic = outcomes[1]
        assert deterministic is False
        expected = value ^ (basis == "y")  # YY is -1 on |00> + |11>
        assert outcomes[8] == (basis, expected, True)


def test_random_axis_and_result_are_uniform():
    sim = Ordavine(2)
    sim.h(0)
    sim.cx(0, 1)
    trials = 3000
    counts = {"x": 0, "y": 0, "z": 0}
    minus = 0
    for _ in range(trials):
        basis, value, deterministic = peek(sim, {0})[0]
        assert deterministic is False
        counts[basis] += 1
        minus += value
    for basis in BASES:
        assert_binomial(counts[basis], trials, 1 / 3)
    assert_binomial(minus, trials, 1 / 2)


# --- the register is left alone -----------------------------------------------------------


def new_pair(stim, n):
    tab = stim.TableauSimulator()
    tab.set_num_qubits(n)
    return Ordavine(n), tab


def measure_lockstep(sim, tab, basis, q):
    ours = int(getattr(sim, "measure_" + basis)(q))
    expected = getattr(tab, "peek_" + basis)(q)
    if expected:
        assert ours == (expected == -1), f"qubit {q} has a fixed {basis} outcome {expected:+d}"
    getattr(tab, "postselect_" + basis)(q, desired_value=bool(ours))


def replay(tab, qubits, outcomes):
    """Checks a peek against a copy of the reference state, in ascending order."""
    copy = tab.copy()
    for q in sorted(qubits):
        basis, value, deterministic = outcomes[q]
        fixed = {b: getattr(copy, "peek_" + b)(q) for b in BASES}
        if deterministic:
            assert fixed[basis] == (-1 if value else 1), f"qubit {q}: {outcomes[q]}, reference {fixed}"
        else:
            # A qubit with any fixed axis must be measured on it.
            assert fixed == {"x": 0, "y": 0, "z": 0}, f"qubit {q}: {outcomes[q]}, reference {fixed}"
        getattr(copy, "postselect_" + basis)(q, desired_value=bool(value))


@pytest.mark.parametrize("seed", range(12))
def test_peeks_agree_with_a_reference_and_change_nothing(stim, seed):
    rng = random.Random(f"peek-{seed}")
    n = 8
    sim, tab = new_pair(stim, n)
    for _ in range(40):
        roll = rng.random()
        if roll < 0.1:
            measure_lockstep(sim, tab, rng.choice(BASES), rng.randrange(n))
        elif roll < 0.5:
            gate, pair = rng.choice(TWO), rng.sample(range(n), 2)
            getattr(sim, gate)(*pair)
            getattr(tab, gate)(*pair)
        elif roll < 0.75:
            gate, q = rng.choice(list(SINGLE)), rng.randrange(n)
            getattr(sim, gate)(q)
            getattr(tab, SINGLE[gate])(q)
        else:
            before = snapshot(sim, n)
            for _ in range(3):
                qubits = set(rng.sample(range(n), rng.randrange(1, n + 1)))
                replay(tab, qubits, peek(sim, qubits))
            # A failing peek changes nothing either.
            catch_panic(sim.peek_measure_set, {rng.randrange(n), n})
            assert snapshot(sim, n) == before
    # Everything peeked above was measured on copies only.
    for q in rng.sample(range(n), n):
        fixed = [b for b in BASES if getattr(tab, "peek_" + b)(q)]
        measure_lockstep(sim, tab, rng.choice(fixed or BASES), q)


def test_peeked_and_untouched_registers_stay_alike():
    # Two registers built alike; one is peeked many times.  Their fixed
    # outcomes must still be the same.
    def build():
        sim = Ordavine(6)
        sim.h(0)
        sim.cx(0, 1)
        sim.cx(0, 2)  # GHZ on 0, 1, 2
        sim.h(3)
        sim.s(3)  # |+i>
        sim.x(4)
        sim.h(4)  # |->
        return sim

    peeked, untouched = build(), build()
    for qubits in [{0}, {0, 1, 2}, {1, 3}, {2, 4, 5}, set(range(6))] * 20:
        peeked.peek_measure_set(qubits)
    for sim in (peeked, untouched):
        assert peek(sim, {0})[0][2] is False  # still entangled
        assert int(sim.measure_y(3)) == 0
        assert int(sim.measure_x(4)) == 1
        assert int(sim.measure_z(5)) == 0
        assert sim.get_entangled_group(1) == {0, 1, 2}


# --- access -------------------------------------------------------------------------------


class CallingIndex:
    """A set element that runs `action` while it is converted to `value`."""

    def __init__(self, action, value):
        self.action = action
        self.value = value
        self.result = None

    def __index__(self):
        self.result = self.action()
        return self.value


def test_peek_holds_shared_access():
    sim = Ordavine(3)
    sim.h(0)
    sim.cx(0, 1)
    # Reading the register during the conversion is allowed ...
    reader = CallingIndex(lambda: sim.get_entangled_group(0), 2)
    nested = CallingIndex(lambda: sim.peek_measure_set({1}), 1)
    outcomes = sim.peek_measure_set({reader, nested})
    assert sorted(outcomes) == [1, 2]
    assert reader.result == {0, 1}
    assert set(nested.result) == {1}
    assert outcome_fields(outcomes[2]) == ("z", 0, True)
    assert outcome_fields(outcomes[1])[2] is False  # qubit 0 was not in the set
    # ... changing it is not.
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.peek_measure_set({CallingIndex(lambda: sim.x(2), 2)})
    assert peek(sim, {2}) == {2: ("z", 0, True)}
    assert sim.get_entangled_group(1) == {0, 1}
