"""Read-only graph inspection: Ordavine.get_vop and Ordavine.get_neighbors."""

import inspect
import random

import pytest

import ordavine
from ordavine import Ordavine

from helpers import catch_panic, cpython_only

# Where each VOP carries the Pauli X axis: (axis, sign bit; 1 for minus).  A
# qubit without neighbours is in VOP|+>, the +1 eigenstate of VOP X VOP^dagger,
# so this is the basis its state is fixed in and the outcome found there.
X_IMAGE = [
    ("X", 0), ("X", 0), ("X", 1), ("X", 1),
    ("Y", 1), ("Y", 1), ("Y", 0), ("Y", 0),
    ("Z", 1), ("Z", 1), ("Z", 0), ("Z", 0),
    ("X", 1), ("X", 1), ("X", 0), ("X", 0),
    ("Y", 0), ("Y", 0), ("Y", 1), ("Y", 1),
    ("Z", 0), ("Z", 0), ("Z", 1), ("Z", 1),
]

INSPECTORS = ["get_vop", "get_neighbors"]


def star(leaves):
    """h on every qubit, then cz(0, leaf) for each leaf in the given order."""
    sim = Ordavine(1 + max(leaves))
    for q in range(1 + max(leaves)):
        sim.h(q)
    for leaf in leaves:
        sim.cz(0, leaf)
    return sim


def snapshot(sim, n):
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


# --- registration ------------------------------------------------------------


@cpython_only
@pytest.mark.parametrize("name", INSPECTORS)
def test_text_signature(name):
    method = getattr(Ordavine, name)
    assert method.__text_signature__ == "($self, qubit)"
    assert str(inspect.signature(method)) == "(self, /, qubit)"
    assert str(inspect.signature(getattr(Ordavine(1), name))) == "(qubit)"


def test_inspectors_follow_the_twenty_methods_and_run_comes_last():
    names = [name for name, value in vars(Ordavine).items()
             if callable(value) and not name.startswith("__")]
    # The twenty come first, the inspectors right after them; later
    # additions (export, copies, saved states) follow.
    assert names.index("peek_measure_set") == 19
    assert names[20:22] == ["get_vop", "get_neighbors"]
    assert {"vops", "edges", "copy", "to_bytes", "from_bytes", "run"} <= set(names[22:])


@pytest.mark.parametrize("name", INSPECTORS)
def test_keyword_call(name):
    sim = star([1, 2])
    assert getattr(sim, name)(qubit=0) == getattr(sim, name)(0)


# --- get_vop -----------------------------------------------------------------


def test_new_register_has_vop_10_everywhere():
    sim = Ordavine(5)
    assert [sim.get_vop(q) for q in range(5)] == [10] * 5


@pytest.mark.parametrize("gate, vop", [
    ("h", 0), ("x", 9), ("y", 8), ("z", 11), ("s", 20), ("sdag", 21),
])
def test_one_gate_on_a_new_qubit(gate, vop):
    sim = Ordavine(2)
    getattr(sim, gate)(1)
    assert sim.get_vop(1) == vop
    assert sim.get_vop(0) == 10


def test_h_twice_and_s_sdag_restore_the_vop():
    sim = Ordavine(1)
    sim.h(0)
    assert sim.get_vop(0) == 0
    sim.h(0)
    assert sim.get_vop(0) == 10
    sim.s(0)
    sim.sdag(0)
    assert sim.get_vop(0) == 10


def test_vop_names_the_state_of_an_isolated_qubit():
    """get_vop must name the Clifford that the measurements see: for an
    isolated qubit the VOP fixes the basis and sign of a deterministic peek.
    Random words in h and s reach all 24 VOPs."""
    rng = random.Random(1234)
    sim = Ordavine(1)
    seen = set()
    for _ in range(600):
        getattr(sim, rng.choice(["h", "s", "sdag", "x", "y", "z"]))(0)
        vop = sim.get_vop(0)
        seen.add(vop)
        outcome = sim.peek_measure_set({0})[0]
        assert outcome.deterministic
        assert (outcome.basis, int(outcome.result)) == X_IMAGE[vop], vop
    assert seen == set(range(24))


def test_vop_after_bell_pair_and_measurement():
    sim = Ordavine(2)
    sim.h(0)
    sim.cx(0, 1)
    assert (sim.get_vop(0), sim.get_vop(1)) == (0, 10)
    bit = int(sim.measure_z(0))
    assert sim.get_neighbors(0) == [] and sim.get_neighbors(1) == []
    # Both qubits now sit in |bit> in Z: VOPs whose X image is +-Z.
    for q in (0, 1):
        assert X_IMAGE[sim.get_vop(q)] == ("Z", bit)


# --- get_neighbors -----------------------------------------------------------


def test_new_register_has_no_neighbours():
    sim = Ordavine(3)
    assert [sim.get_neighbors(q) for q in range(3)] == [[], [], []]


def test_neighbours_in_the_order_the_edges_were_made():
    sim = star([1, 2, 3])
    assert sim.get_neighbors(0) == [1, 2, 3]
    assert [sim.get_neighbors(q) for q in (1, 2, 3)] == [[0], [0], [0]]
    sim = star([3, 1, 2])
    assert sim.get_neighbors(0) == [3, 1, 2]


def test_removing_an_edge_keeps_the_order_and_a_new_one_goes_last():
    sim = star([1, 2, 3])
    sim.cz(0, 2)
    assert sim.get_neighbors(0) == [1, 3]
    assert sim.get_neighbors(2) == []
    sim.cz(0, 2)
    assert sim.get_neighbors(0) == [1, 3, 2]


def test_neighbours_are_symmetric_after_random_circuits():
    rng = random.Random(99)
    gates = ["cz", "cx", "cy", "xcx", "xcy", "xcz", "ycx", "ycy", "ycz"]
    n = 8
    sim = Ordavine(n)
    for step in range(400):
        if rng.random() < 0.5:
            getattr(sim, rng.choice(["h", "s", "x"]))(rng.randrange(n))
        else:
            a, b = rng.sample(range(n), 2)
            getattr(sim, rng.choice(gates))(a, b)
        if step % 37 == 0:
            sim.measure_x(rng.randrange(n))
        for q in range(n):
            neighbours = sim.get_neighbors(q)
            assert q not in neighbours
            assert len(set(neighbours)) == len(neighbours)
            for other in neighbours:
                assert q in sim.get_neighbors(other)
            assert 0 <= sim.get_vop(q) < 24
        # The component of a qubit is what the neighbour lists connect.
        start = rng.randrange(n)
        reached, frontier = {start}, [start]
        while frontier:
            for other in sim.get_neighbors(frontier.pop()):
                if other not in reached:
                    reached.add(other)
                    frontier.append(other)
        assert reached == sim.get_entangled_group(start)


def test_each_call_returns_a_new_list():
    sim = star([1, 2])
    first = sim.get_neighbors(0)
    second = sim.get_neighbors(0)
    assert type(first) is list and first == second and first is not second
    first.append(7)
    first.remove(1)
    assert sim.get_neighbors(0) == [1, 2]


def test_inspection_changes_nothing():
    sim = star([1, 2, 3])
    sim.s(2)
    before = snapshot(sim, 4)
    for _ in range(3):
        for q in range(4):
            sim.get_vop(q)
            sim.get_neighbors(q)
    assert snapshot(sim, 4) == before


def test_measurement_cuts_the_qubit_out():
    sim = star([1, 2, 3])
    sim.measure_z(0)
    assert snapshot(sim, 4)[0][1] == []
    assert all(sim.get_neighbors(q) == [] for q in (1, 2, 3))


# --- failures ----------------------------------------------------------------


@pytest.mark.parametrize("name", INSPECTORS)
def test_index_failure_then_usable(name, panic_type):
    sim = star([1, 2, 3])
    error = catch_panic(getattr(sim, name), 4)
    assert type(error) is panic_type
    assert str(error) == "index out of bounds: the len is 4 but the index is 4"
    assert getattr(sim, name)(3) is not None
    sim.h(0)  # exclusive access is free again


@pytest.mark.parametrize("name", INSPECTORS)
def test_index_failure_on_empty_register(name):
    error = catch_panic(getattr(Ordavine(0), name), 0)
    assert str(error) == "index out of bounds: the len is 0 but the index is 0"


@pytest.mark.parametrize("name", INSPECTORS)
def test_panic_is_not_an_exception(name):
    sim = Ordavine(1)
    with pytest.raises(BaseException) as caught:
        try:
            getattr(sim, name)(5)
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert type(caught.value).__module__ == "pyo3_runtime"
    assert not isinstance(caught.value, Exception)


@pytest.mark.parametrize("name", INSPECTORS)
@pytest.mark.parametrize("call, error_type, message", [
    (lambda m: m(), TypeError,
     "Ordavine.{name}() missing 1 required positional argument: 'qubit'"),
    (lambda m: m(0, 1), TypeError,
     "Ordavine.{name}() takes 1 positional arguments but 2 were given"),
    (lambda m: m(node=0), TypeError,
     "Ordavine.{name}() got an unexpected keyword argument 'node'"),
    (lambda m: m(0, qubit=0), TypeError,
     "Ordavine.{name}() got multiple values for argument 'qubit'"),
    (lambda m: m(2 ** 64), OverflowError, None),
    (lambda m: m(-1), OverflowError, None),
])
def test_argument_errors(name, call, error_type, message):
    sim = Ordavine(2)
    with pytest.raises(error_type) as caught:
        call(getattr(sim, name))
    if message is not None:
        assert str(caught.value) == message.format(name=name)
    else:
        assert "qubit" not in str(caught.value)  # raised unchanged, without the name


@pytest.mark.parametrize("name", INSPECTORS)
@pytest.mark.parametrize("value", [1.0, "0", None, [0]])
def test_non_integer_argument_names_the_parameter(name, value):
    with pytest.raises(TypeError) as caught:
        getattr(Ordavine(2), name)(value)
    assert str(caught.value).startswith("argument 'qubit': ")


def test_bool_and_index_objects_are_qubit_indices():
    class Two:
        def __index__(self):
            return 2

    sim = star([1, 2])
    sim.s(2)
    assert sim.get_vop(True) == sim.get_vop(1)
    assert sim.get_vop(Two()) == sim.get_vop(2) == 6
    assert sim.get_neighbors(Two()) == [0]


def test_calls_on_a_foreign_object_are_refused():
    with pytest.raises(TypeError):
        Ordavine.get_vop(object(), 0)
    with pytest.raises(TypeError):
        Ordavine.get_neighbors(ordavine.MeasurementResult.PlusOne, 0)


# --- shared access -----------------------------------------------------------


def test_shared_access_inside_a_read_only_call():
    sim = star([1, 2])
    seen = []

    class Peeking:
        def __index__(self):
            seen.append((sim.get_vop(0), sim.get_neighbors(0)))
            return 1

    assert sim.get_neighbors(Peeking()) == [0]
    assert sim.get_vop(Peeking()) == 0
    assert seen == [(0, [1, 2])] * 2


def test_refused_inside_a_mutating_call():
    sim = star([1, 2])
    errors = []

    class Intruding:
        def __init__(self, name):
            self.name = name

        def __index__(self):
            try:
                getattr(sim, self.name)(0)
            except RuntimeError as error:
                errors.append(str(error))
                raise
            return 0

    for name in INSPECTORS:
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            sim.h(Intruding(name))
    assert errors == ["Already mutably borrowed"] * 2
    # A mutating call made inside an inspection is refused in turn.

    class Mutating:
        def __index__(self):
            sim.h(0)
            return 0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.get_vop(Mutating())
    assert sim.get_vop(0) == 0  # the inner h never ran
    sim.h(0)
    assert sim.get_vop(0) == 10
