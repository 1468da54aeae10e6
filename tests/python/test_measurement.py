"""Single-qubit measurements and the MeasurementResult class.

Expected outcomes come from the physics of the prepared states (eigenstates,
Bell pairs, GHZ states), not from the representation.  Random outcomes are
checked against binomial bounds of five standard deviations, which a correct
implementation misses with a probability below 1e-6 per check.
"""

import math
import operator
import random

import pytest

from helpers import catch_panic
from ordavine import MeasurementResult, Ordavine

BASES = ("x", "y", "z")
MEMBERS = [("PlusOne", 0), ("MinusOne", 1)]


def measure(sim, basis, q):
    return getattr(sim, "measure_" + basis)(q)


def bit(result):
    """0 for +1, 1 for -1, checked against the representation."""
    value = int(result)
    assert repr(result) == ("MeasurementResult.PlusOne", "MeasurementResult.MinusOne")[value]
    return value


def assert_binomial(count, trials, p=0.5, sigmas=5):
    mean = trials * p
    sigma = math.sqrt(trials * p * (1 - p))
    assert abs(count - mean) <= sigmas * sigma, f"{count} of {trials}, expected about {mean:.0f}"


def snapshot(sim, n):
    """Every VOP and neighbour list, where the build can show them (else None)."""
    if not hasattr(sim, "get_neighbors"):
        return None
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


# --- MeasurementResult ---------------------------------------------------------


@pytest.mark.parametrize("name, value", MEMBERS)
def test_member_representation_and_integer(name, value):
    member = getattr(MeasurementResult, name)
    assert type(member) is MeasurementResult
    assert repr(member) == f"MeasurementResult.{name}"
    assert str(member) == f"MeasurementResult.{name}"
    assert int(member) == value and type(int(member)) is int


@pytest.mark.parametrize("name, value", MEMBERS)
def test_member_is_the_same_object_on_every_access(name, value):
    assert getattr(MeasurementResult, name) is getattr(MeasurementResult, name)
    assert getattr(MeasurementResult, name) is MeasurementResult.__dict__[name]


def test_members_compare_by_identity():
    plus, minus = MeasurementResult.PlusOne, MeasurementResult.MinusOne
    assert plus == plus and minus == minus
    assert plus != minus
    assert len({plus, minus, MeasurementResult.PlusOne}) == 2


def test_every_result_is_true():
    sim = Ordavine(2)
    sim.x(1)
    results = [MeasurementResult.PlusOne, MeasurementResult.MinusOne, sim.measure_z(0), sim.measure_z(1)]
    assert [int(r) for r in results] == [0, 1, 0, 1]
    assert all(bool(r) for r in results)
    assert not [r for r in results if not r]


@pytest.mark.parametrize("name, value", MEMBERS)
def test_result_is_not_a_sequence_index(name, value):
    member = getattr(MeasurementResult, name)
    with pytest.raises(TypeError):
        [10, 11][member]
    with pytest.raises(TypeError):
        operator.index(member)
    with pytest.raises(TypeError):
        "ab"[Ordavine(1).measure_z(0)]


def test_instantiation_is_refused():
    with pytest.raises(TypeError):
        MeasurementResult()
    with pytest.raises(TypeError):
        type(Ordavine(1).measure_z(0))(0)


@pytest.mark.parametrize("basis", BASES)
def test_measurements_return_new_objects(basis):
    sim = Ordavine(4)
    sim.x(1)
    sim.h(2)
    sim.h(3)
    sim.s(3)
    # Qubit 0, 1, 2 or 3 gives a fixed outcome in Z, Z, X or Y respectively.
    q = {"z": 0, "x": 2, "y": 3}[basis]
    first, second = measure(sim, basis, q), measure(sim, basis, q)
    assert type(first) is MeasurementResult
    assert int(first) == int(second) == 0
    assert first is not second and first != second
    for member in (MeasurementResult.PlusOne, MeasurementResult.MinusOne):
        assert first is not member and first != member
    minus = sim.measure_z(1)
    assert int(minus) == 1 and repr(minus) == "MeasurementResult.MinusOne"
    assert minus is not MeasurementResult.MinusOne and minus != MeasurementResult.MinusOne


# --- fixed outcomes ---------------------------------------------------------------


def test_new_register_measures_plus_one_in_z():
    # Certain, not likely: 500 draws of a fair coin would show a -1.
    sim = Ordavine(500)
    assert [bit(sim.measure_z(q)) for q in range(500)] == [0] * 500
    assert [bit(sim.measure_z(q)) for q in range(0, 500, 7)] == [0] * len(range(0, 500, 7))


# Single-qubit preparations from |0> and the basis and eigenvalue they fix.
EIGENSTATES = [
    ([], "z", +1),
    (["x"], "z", -1),
    (["y"], "z", -1),
    (["z"], "z", +1),
    (["h"], "x", +1),
    (["x", "h"], "x", -1),
    (["h", "z"], "x", -1),
    (["h", "y"], "x", -1),
    (["h", "s", "s"], "x", -1),
    (["h", "s"], "y", +1),
    (["h", "sdag"], "y", -1),
    (["x", "h", "s"], "y", -1),
    (["h", "s", "h"], "y", -1),
    (["h", "s", "x"], "y", -1),
]


@pytest.mark.parametrize("gates, basis, eigenvalue", EIGENSTATES, ids=lambda v: str(v))
def test_eigenstates_give_their_eigenvalue(gates, basis, eigenvalue):
    n = 200
    sim = Ordavine(n)
    for q in range(n):
        for gate in gates:
            getattr(sim, gate)(q)
    expected = 0 if eigenvalue == 1 else 1
    assert [bit(measure(sim, basis, q)) for q in range(n)] == [expected] * n


@pytest.mark.parametrize("basis", BASES)
@pytest.mark.parametrize("entangled", [False, True])
def test_measuring_twice_in_the_same_basis_repeats(basis, entangled):
    rng = random.Random(f"repeat-{basis}-{entangled}")
    n = 300
    sim = Ordavine(n)
    for q in range(n):
        sim.h(q)
        if q % 2:
            sim.s(q)
    if entangled:
        for _ in range(600):
            getattr(sim, rng.choice(["cz", "cx", "ycx", "xcy"]))(*rng.sample(range(n), 2))
    first = {}
    for q in rng.sample(range(n), n):
        first[q] = bit(measure(sim, basis, q))
        assert bit(measure(sim, basis, q)) == first[q]
    assert [bit(measure(sim, basis, q)) for q in range(n)] == [first[q] for q in range(n)]
    # The first outcomes were not all fixed by the preparation.
    assert 0 < sum(first.values()) < n


# --- random outcomes ----------------------------------------------------------------


@pytest.mark.parametrize(
    "gates, basis",
    [
        ([], "x"),
        ([], "y"),
        (["h"], "z"),
        (["h"], "y"),
        (["h", "s"], "x"),
        (["h", "s"], "z"),
        (["x", "h", "sdag"], "x"),
    ],
    ids=str,
)
def test_outcomes_of_unbiased_measurements_are_balanced(gates, basis):
    n = 4000
    sim = Ordavine(n)
    for q in range(n):
        for gate in gates:
            getattr(sim, gate)(q)
    bits = [bit(measure(sim, basis, q)) for q in range(n)]
    assert_binomial(sum(bits), n)
    # Consecutive outcomes are independent: equal neighbours about half the time.
    assert_binomial(sum(a == b for a, b in zip(bits, bits[1:])), n - 1)


# Two-qubit gates with inputs that make them maximally entangling: the
# control unbiased with respect to its Pauli, the target with respect to the
# Pauli it applies.
ENTANGLING = {
    "cx": ["h"],
    "cz": ["h", "h"],
    "ycz": [None, "h"],
    "xcy": [],
    "ycy": ["h", "h"],
}


@pytest.mark.parametrize("basis", BASES)
@pytest.mark.parametrize("gate", list(ENTANGLING))
def test_either_qubit_of_an_entangled_pair_is_balanced(basis, gate):
    pairs = 2000
    sim = Ordavine(2 * pairs)
    for p in range(pairs):
        a, b = 2 * p, 2 * p + 1
        for q, prep in zip((a, b), ENTANGLING[gate]):
            if prep:
                getattr(sim, prep)(q)
        getattr(sim, gate)(a, b)
    assert sim.get_entangled_group(0) == {0, 1}
    bits = [bit(measure(sim, basis, 2 * p + p % 2)) for p in range(pairs)]
    assert_binomial(sum(bits), pairs)


# Bell states from |00> by h(0), cx(0, 1) and then the listed Paulis, with the
# eigenvalue of XX, YY and ZZ.
BELL_STATES = {
    "phi+": ([], {"x": 1, "y": -1, "z": 1}),
    "phi-": ([("z", 0)], {"x": -1, "y": 1, "z": 1}),
    "psi+": ([("x", 1)], {"x": 1, "y": 1, "z": -1}),
    "psi-": ([("x", 1), ("z", 0)], {"x": -1, "y": -1, "z": -1}),
}


def bell_pairs(state, pairs):
    paulis, _ = BELL_STATES[state]
    sim = Ordavine(2 * pairs)
    for p in range(pairs):
        sim.h(2 * p)
        sim.cx(2 * p, 2 * p + 1)
        for gate, offset in paulis:
            getattr(sim, gate)(2 * p + offset)
    return sim


@pytest.mark.parametrize("state", list(BELL_STATES))
@pytest.mark.parametrize("basis", BASES)
@pytest.mark.parametrize("first", [0, 1])
def test_bell_correlations(state, basis, first):
    pairs = 200
    sim = bell_pairs(state, pairs)
    eigenvalue = BELL_STATES[state][1][basis]
    firsts = []
    for p in range(pairs):
        a, b = 2 * p + first, 2 * p + 1 - first
        x = bit(measure(sim, basis, a))
        y = bit(measure(sim, basis, b))
        assert (x ^ y) == (eigenvalue == -1), f"pair {p}"
        firsts.append(x)
    assert_binomial(sum(firsts), pairs)


@pytest.mark.parametrize("bases", [("x", "z"), ("z", "x"), ("x", "y"), ("y", "z"), ("z", "y"), ("y", "x")])
def test_bell_pair_in_different_bases_is_uncorrelated(bases):
    pairs = 1000
    sim = bell_pairs("phi+", pairs)
    equal = 0
    for p in range(pairs):
        equal += bit(measure(sim, bases[0], 2 * p)) == bit(measure(sim, bases[1], 2 * p + 1))
    assert_binomial(equal, pairs)


def ghz(n, preparation):
    """|0...0> + |1...1> on n qubits, built in one of several ways."""
    sim = Ordavine(n)
    if preparation == "star":
        sim.h(0)
        for q in range(1, n):
            sim.cx(0, q)
    elif preparation == "chain":
        sim.h(0)
        for q in range(1, n):
            sim.cx(q - 1, q)
    elif preparation == "last-hub":
        sim.h(n - 1)
        for q in range(n - 1):
            sim.cx(n - 1, q)
    elif preparation == "cz-star":
        for q in range(n):
            sim.h(q)
        for q in range(1, n):
            sim.cz(0, q)
        for q in range(1, n):
            sim.h(q)
    else:
        raise ValueError(preparation)
    return sim


GHZ_PREPARATIONS = ["star", "chain", "last-hub", "cz-star"]


@pytest.mark.parametrize("preparation", GHZ_PREPARATIONS)
@pytest.mark.parametrize("n", [3, 4, 9])
def test_ghz_parities(preparation, n):
    # X and Y on every qubit with an even number of Ys: the product of the
    # outcomes is (-1)^(number of Ys / 2).  Z on every qubit: all equal.
    rng = random.Random(f"ghz-{preparation}-{n}")
    firsts = []
    for _ in range(40):
        sim = ghz(n, preparation)
        ys = rng.randrange(0, n + 1, 2)
        bases = ["y"] * ys + ["x"] * (n - ys)
        rng.shuffle(bases)
        order = rng.sample(range(n), n)
        bits = {q: bit(measure(sim, bases[q], q)) for q in order}
        firsts.append(bits[order[0]])
        assert sum(bits.values()) % 2 == (ys // 2) % 2, f"bases {bases}, order {order}"
    assert 0 < sum(firsts) < len(firsts)
    for _ in range(20):
        sim = ghz(n, preparation)
        order = rng.sample(range(n), n)
        bits = [bit(sim.measure_z(q)) for q in order]
        assert len(set(bits)) == 1


# --- refused measurements -------------------------------------------------------------


@pytest.mark.parametrize("basis", BASES)
@pytest.mark.parametrize("n, index", [(0, 0), (3, 3), (3, 4), (3, 2**64 - 1)])
def test_out_of_range_measurement_fails(basis, n, index):
    error = catch_panic(getattr(Ordavine(n), "measure_" + basis), index)
    assert str(error) == f"index out of bounds: the len is {n} but the index is {index}"


@pytest.mark.parametrize("basis", BASES)
def test_failed_measurement_leaves_the_register_usable_and_unchanged(basis):
    pairs = 100
    sim = bell_pairs("psi-", pairs)
    before = snapshot(sim, 2 * pairs)
    for index in (2 * pairs, 2 * pairs + 1, 2**64 - 1):
        catch_panic(getattr(sim, "measure_" + basis), index)
    assert snapshot(sim, 2 * pairs) == before
    # Read the pairs in another basis: a stray measurement of any qubit in
    # `basis` would break that correlation half of the time.
    check = "z" if basis != "z" else "x"
    for p in range(pairs):
        a, b = bit(measure(sim, check, 2 * p)), bit(measure(sim, check, 2 * p + 1))
        assert a != b, f"pair {p}"
