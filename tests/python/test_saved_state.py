"""Copies and saved states: exact round trips through copy, bytes and
pickle, hostile bytes, and registers crossing process boundaries."""

import concurrent.futures
import copy
import multiprocessing
import pickle

import pytest
from hypothesis import given, settings, strategies as st

import ordavine
from helpers import IS_PYPY

GATES1 = ["x", "y", "z", "h", "s", "sdag"]
GATES2 = ["cz", "cx", "xcx", "ycx", "xcz", "ycz", "cy", "xcy", "ycy"]


def prepared(n, seed, steps=None):
    """A register after a seeded random circuit with measurements."""
    ordavine.seed(seed)
    sim = ordavine.Ordavine(n)
    state = seed
    for _ in range(steps if steps is not None else 8 * n):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        choice, a, b = state >> 60, (state >> 30) % n, (state >> 10) % n
        if choice < 4:
            getattr(sim, GATES1[choice])(a)
        elif choice < 14 and a != b:
            getattr(sim, GATES2[choice % 9])(a, b)
        elif choice >= 14:
            sim.measure_x(a) if choice == 14 else sim.measure_y(a)
    ordavine.seed(None)
    return sim


def graph(sim, n):
    return [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(n)]


def seeded_outcomes(sim, n):
    """Measures every qubit in Z under a fixed seed; the outcomes depend on
    the graph, its list order and the VOPs."""
    ordavine.seed(4242)
    try:
        return [int(sim.measure_z(q)) for q in range(n)] + [int(sim.measure_x(q)) for q in range(n)]
    finally:
        ordavine.seed(None)


def test_copies_are_equal_and_independent():
    n = 40
    original = prepared(n, 3)
    before = graph(original, n)
    assert sum(len(nbrs) for _, nbrs in before) > 20
    for make in (lambda s: s.copy(), copy.copy, copy.deepcopy,
                 lambda s: ordavine.Ordavine.from_bytes(s.to_bytes()),
                 lambda s: pickle.loads(pickle.dumps(s, 2)),
                 lambda s: pickle.loads(pickle.dumps(s, pickle.HIGHEST_PROTOCOL))):
        twin = make(original)
        assert type(twin) is ordavine.Ordavine and twin is not original
        assert graph(twin, n) == before
        assert seeded_outcomes(twin, n) == seeded_outcomes(original.copy(), n)
        assert graph(original, n) == before  # measuring the twin left the original alone


def test_bytes_like_inputs_and_argument_errors():
    sim = prepared(6, 2)
    data = sim.to_bytes()
    assert type(data) is bytes
    for form in (bytearray(data), memoryview(data)):
        assert ordavine.Ordavine.from_bytes(form).to_bytes() == data
    assert ordavine.Ordavine.from_bytes(data=data).to_bytes() == data
    with pytest.raises(TypeError, match=r"^argument 'data': 'str' object cannot be cast as 'bytes'$"):
        ordavine.Ordavine.from_bytes("ORDV")
    with pytest.raises(TypeError):
        sim.copy(1)


def size_of(sim):
    return int.from_bytes(sim.to_bytes()[5:13], "little")


def check_invariants(sim):
    """What a loaded register must satisfy, read through the public methods."""
    n = size_of(sim)
    for q in range(n):
        assert 0 <= sim.get_vop(q) < 24
        nbrs = sim.get_neighbors(q)
        assert len(set(nbrs)) == len(nbrs) and q not in nbrs
        for b in nbrs:
            assert q in sim.get_neighbors(b)


SAMPLE = prepared(10, 7).to_bytes()

# Views whose items are exactly `data`, laid out in memory in other ways: a
# load must read what the view shows, never the memory beneath it.
VIEW_LAYOUTS = {
    "bytes": bytes,
    "every other byte": lambda data: memoryview(bytes(x for b in data for x in (b, 0x4F)))[::2],
    "reversed": lambda data: memoryview(data[::-1])[::-1],
    "column": lambda data: memoryview(data).cast("B", (len(data), 1)) if data else data,
}


def load_outcome(data):
    try:
        return ordavine.Ordavine.from_bytes(data).to_bytes()
    except ValueError as error:
        return str(error)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(st.integers(0, len(SAMPLE) - 1), st.integers(0, 255)), max_size=4),
       st.integers(0, len(SAMPLE) + 3), st.sampled_from(sorted(VIEW_LAYOUTS)))
def test_hostile_bytes_are_refused_or_load_a_sound_register(changes, cut, layout):
    data = bytearray(SAMPLE)
    for position, value in changes:
        data[position] = value
    data = bytes(data[:cut]) + (b"\0" * (cut - len(SAMPLE)) if cut > len(SAMPLE) else b"")
    outcome = load_outcome(VIEW_LAYOUTS[layout](data))
    assert outcome == load_outcome(data)
    if isinstance(outcome, str):
        assert outcome.startswith("invalid saved state: ")
        return
    assert outcome == data  # accepted bytes are exactly a saved form
    check_invariants(ordavine.Ordavine.from_bytes(data))


def test_a_strided_view_loads_the_bytes_it_shows():
    saved = prepared(6, 5).to_bytes()
    doubled = memoryview(saved + saved)
    assert ordavine.Ordavine.from_bytes(doubled[:len(saved)]).to_bytes() == saved
    # Every other byte of the doubled state is no saved state at all.
    with pytest.raises(ValueError, match="^invalid saved state: "):
        ordavine.Ordavine.from_bytes(doubled[::2])


def measure_half(sim):
    """Runs in a worker process: measures the first half, returns the register."""
    ordavine.seed(77)
    try:
        outcomes = [int(sim.measure_z(q)) for q in range(size_of(sim) // 2)]
    finally:
        ordavine.seed(None)
    return outcomes, sim


def run_in_pool(kind, method, function, items):
    context = multiprocessing.get_context(method)
    if kind == "futures":
        with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=context) as pool:
            return list(pool.map(function, items))
    with context.Pool(2) as pool:
        return pool.map(function, items)


@pytest.mark.parametrize("kind, method", [
    pytest.param("futures", "spawn", marks=pytest.mark.skipif(
        IS_PYPY, reason="PyPy 3.9's ProcessPoolExecutor fails to start spawned workers")),
    ("futures", "fork"),
    ("multiprocessing", "spawn"),
])
def test_registers_cross_a_process_pool_both_ways(kind, method):
    n = 30
    originals = [prepared(n, seed) for seed in (11, 12, 13)]
    expected = []
    for sim in originals:
        outcomes, local = measure_half(sim.copy())
        expected.append((outcomes, graph(local, n)))
    results = run_in_pool(kind, method, measure_half, originals)
    for (outcomes, returned), (want_outcomes, want_graph) in zip(results, expected):
        assert outcomes == want_outcomes
        assert graph(returned, n) == want_graph


def fresh_draws(count):
    sim = ordavine.Ordavine(count)
    for q in range(count):
        sim.h(q)
    return [int(sim.measure_z(q)) for q in range(count)]


def forked_draws(_):
    return fresh_draws(256)


def test_forked_children_of_a_seeded_process_do_not_replay_its_stream():
    ordavine.seed(5)
    continuation = fresh_draws(256)
    ordavine.seed(5)
    context = multiprocessing.get_context("fork")
    try:
        with context.Pool(2) as pool:
            children = pool.map(forked_draws, range(4), chunksize=1)
        assert fresh_draws(256) == continuation  # the parent's stream went on untouched
    finally:
        ordavine.seed(None)
    for child in children:
        assert child != continuation
    assert len({tuple(child) for child in children}) == len(children)
