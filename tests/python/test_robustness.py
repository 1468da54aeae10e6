"""Interpreter-level fuzzing of the Ordavine class.

Each batch runs in a fresh interpreter (this file run as a script), so that a
crash shows up as a failed test with the batch's seed instead of taking the
test run down.  A batch makes thousands of calls with random argument counts,
keywords, types and values: integers of every size and sign, bools, floats,
None, strings, containers, sets that change while they are read, and objects
whose ``__index__`` raises, returns a non-integer, calls back into the same
register, or releases the interpreter lock while a second thread keeps
calling the same register; iterables (qubits, and the edges, pairs and
generators of a few graph and stabilizer imports) that raise part way.
Every call must either return the right kind of result or raise one of the
expected exception types (an iterable's raise as that very exception), and
afterwards the register must still answer a deterministic check.

Reproduce a failing batch with: python tests/python/test_robustness.py SEED
"""

import os
import random
import subprocess
import sys
import threading
import time

CALLS_PER_BATCH = 3000
SEEDS = range(8)

SINGLE = ["x", "y", "z", "h", "s", "sdag"]
TWO = ["cz", "cx", "cy", "xcx", "xcy", "xcz", "ycx", "ycy", "ycz"]
MEASURE = ["measure_x", "measure_y", "measure_z"]
READ = ["get_entangled_group", "peek_measure_set"]
PARAMETERS = {
    **{m: ("node",) for m in SINGLE},
    **{m: ("control", "target") for m in TWO},
    **{m: ("qubit",) for m in MEASURE},
    "get_entangled_group": ("qubit",),
    "peek_measure_set": ("qubits",),
}
# The instrument methods (add_qubits is left out: random counts would only
# measure how the machine runs out of memory).
INSTRUMENT = {
    **{f"postselect_{axis}": ("qubit", "result") for axis in "xyz"},
    **{m: ("qubit", "p") for m in ("x_error", "y_error", "z_error", "depolarize1")},
    "depolarize2": ("a", "b", "p"),
    "local_complement": ("qubit",),
    "expectation": ("pauli",),
    "measure_pauli": ("pauli",),
    "postselect_pauli": ("pauli", "result"),
    "fidelity": ("other", "qubits"),
}
PARAMETERS.update(INSTRUMENT)
METHODS = list(PARAMETERS)
SIZE = 6  # qubits of the fuzzed register


class Boom(Exception):
    """Raised on purpose by the argument objects below."""


class IndexRaises:
    def __index__(self):
        raise Boom("no index")


class IndexReturns:
    """`__index__` returns whatever it was given (an int, or not)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IntSubclass(int):
    pass


class IndexSleeps:
    """Releases the interpreter lock during conversion, while the call holds
    the register, so the background thread can try to get in."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        time.sleep(0)
        time.sleep(0.0001)
        return self.value


class IndexReenters:
    """Calls a random method of the same register from inside the call."""

    def __init__(self, fuzzer, value):
        self.fuzzer = fuzzer
        self.value = value

    def __index__(self):
        self.fuzzer.call_once(depth=1)
        return self.value


class IndexRecurses:
    """A read-only call whose argument makes the same read-only call again:
    shared access nests until the interpreter's recursion limit."""

    def __init__(self, sim):
        self.sim = sim

    def __index__(self):
        self.sim.get_entangled_group(self)
        return 0


class IndexMutatesSet:
    """An element of a set that changes the set while it is being read."""

    def __init__(self, target, value, action):
        self.target = target
        self.value = value
        self.action = action

    def __index__(self):
        if self.action == "add":
            self.target.add(IndexReturns(len(self.target)))
        elif self.action == "discard":
            self.target.clear()
        return self.value

    def __hash__(self):
        return id(self)


class OddIterSet(set):
    """A set subclass whose iteration is its own."""

    def __init__(self, items, mode):
        super().__init__(items)
        self.mode = mode

    def __iter__(self):
        if self.mode == "raises":
            raise Boom("no iteration")
        if self.mode == "not-iterator":
            return 42
        if self.mode == "extra":
            return iter(list(super().__iter__()) + [0, "x"])
        return super().__iter__()


class Halt(BaseException):
    """Raised by the iterables below: not an Exception, like KeyboardInterrupt."""


class RaisingIterable:
    """Yields its items, then raises; remembers that it did, so that the
    call can be checked to have raised that very exception."""

    def __init__(self, items, error):
        self.items = items
        self.error = error
        self.raised = False

    def __iter__(self):
        yield from self.items
        self.raised = True
        raise self.error


# Exceptions a call may raise.  Anything else (SystemError above all) is a
# bug in how the module talks to the interpreter.
ALLOWED = (TypeError, OverflowError, RuntimeError, Boom, RecursionError, MemoryError)


def is_panic(error):
    return type(error).__name__ == "PanicException"


class Fuzzer:
    def __init__(self, seed):
        import ordavine

        self.ordavine = ordavine
        self.random = random.Random(seed)
        self.sim = ordavine.Ordavine(SIZE)
        self.outcomes = {"ok": 0, "panic": 0, "error": 0}
        self.watched = []  # the RaisingIterables of the calls under way

    # ---- values ----------------------------------------------------------

    def integer(self):
        r = self.random
        return r.choice(
            [
                r.randrange(SIZE),
                r.randrange(SIZE),
                SIZE,
                SIZE + 1,
                -1,
                -r.randrange(1, 2**70),
                2**31,
                2**32,
                2**63 - 1,
                2**63,
                2**64 - 1,
                2**64,
                2**200,
                -(2**200),
                r.getrandbits(r.choice([8, 32, 64, 65, 128])),
            ]
        )

    def value(self, depth=0):
        r = self.random
        kind = r.randrange(22)
        if kind < 6:
            return self.integer()
        if kind == 6:
            return r.choice([True, False])
        if kind == 7:
            return r.choice([0.0, 1.5, -0.0, float("nan"), float("inf"), 1e300])
        if kind == 8:
            return None
        if kind == 9:
            return r.choice(["0", "", "qubit", b"1", bytearray(b"\x00")])
        if kind == 10:
            return r.choice([[0], (0, 1), {0: 1}, range(3), iter([0]), object()])
        if kind == 11:
            return self.index_set(depth)
        if kind == 12:
            return IndexRaises()
        if kind == 13:
            return IndexReturns(
                r.choice([1.5, "1", None, True, IntSubclass(1), r.randrange(SIZE), -3, 2**70])
            )
        if kind == 14:
            return IntSubclass(r.randrange(SIZE + 2))
        if kind == 15 and depth == 0:
            return IndexReenters(self, r.randrange(SIZE))
        if kind == 16:
            return IndexSleeps(r.randrange(SIZE + 1))
        if kind == 17 and depth == 0:
            return IndexRecurses(self.sim)
        if kind == 18:
            return self.raising_iterable(r.sample(range(SIZE), r.randrange(3)))
        return r.randrange(SIZE)

    def raising_iterable(self, items):
        iterable = RaisingIterable(items, self.random.choice([Boom("no more items"), Halt("halt")]))
        self.watched.append(iterable)
        return iterable

    def index_set(self, depth):
        r = self.random
        kind = r.randrange(8)
        items = {r.randrange(SIZE) for _ in range(r.randrange(4))}
        if kind == 0:
            return frozenset(items)
        if kind == 1:
            return items | {self.integer()}
        if kind == 2:
            target = set(items)
            target.add(IndexMutatesSet(target, r.randrange(SIZE), r.choice(["add", "discard"])))
            return target
        if kind == 3:
            return OddIterSet(items, r.choice(["raises", "not-iterator", "extra", "plain"]))
        if kind == 4 and depth == 0:
            extra = self.value(depth + 1)
            try:
                return items | {extra}
            except TypeError:  # unhashable
                return items
        if kind == 5:
            return {IndexSleeps(q) for q in items}
        return items

    def pauli(self, depth):
        """A Pauli product in one of its forms, well-formed or not, with keys
        that may run Python code."""
        r = self.random
        kind = r.randrange(6)
        letters = "XYZxyz!*-+_I0123456789 "
        if kind == 0:
            return "*".join(f"{r.choice('XYZ')}{r.randrange(SIZE + 1)}" for _ in range(r.randrange(5)))
        if kind == 1:
            return "".join(r.choice(letters) for _ in range(r.randrange(10)))
        if kind == 2:
            return r.choice(["+", "-"]) + "".join(r.choice("_XYZ") for _ in range(r.randrange(SIZE + 2)))
        keys = [r.randrange(SIZE) if r.random() < 0.6 else self.value(depth) for _ in range(r.randrange(4))]
        paulis = {}
        for key in keys:
            try:
                paulis[key] = r.choice(["X", "Y", "Z", "Q", 1, ""])
            except TypeError:  # unhashable
                pass
        if kind == 3:
            return (r.choice([1, -1, 2, True, "1"]), paulis)
        if kind == 4:
            return paulis
        return self.value(depth)

    def instrument_value(self, name, depth):
        r = self.random
        if r.random() < 0.25:
            return self.value(depth)
        if name in ("qubit", "a", "b"):
            return r.randrange(SIZE)
        if name == "p":
            return r.choice([0.0, 0.3, 1.0, 1, r.random()])
        if name == "result":
            return r.choice([0, 1, True, self.ordavine.MeasurementResult.MinusOne])
        if name == "pauli":
            return self.pauli(depth)
        if name == "other":
            return r.choice([self.sim, self.ordavine.Ordavine(r.randrange(4)), self.ordavine.Ordavine(SIZE)])
        # qubits of fidelity: a sequence, None, or a set (refused)
        qubits = r.sample(range(SIZE), r.randrange(4))
        return r.choice([qubits, tuple(qubits), None, set(qubits), [IndexSleeps(q) for q in qubits],
                         [IndexReenters(self, q) for q in qubits] if depth == 0 else qubits,
                         self.raising_iterable(qubits)])

    def import_call(self):
        """from_graph or from_stabilizers, whose edges, pairs or generators
        may be iterables that raise part way."""
        r = self.random
        ordavine = self.ordavine
        if r.random() < 0.5:
            pairs = [tuple(r.sample(range(SIZE), 2)) for _ in range(r.randrange(4))]
            pairs = [self.raising_iterable(list(p)[: r.randrange(3)]) if r.random() < 0.2 else p for p in pairs]
            edges = self.raising_iterable(pairs) if r.random() < 0.5 else pairs
            return ordavine.Ordavine.from_graph, (SIZE, edges)
        generators = r.choice([["+Z", "+X"][: r.randrange(3)], ["XZ", "ZX"], ["Z"]])
        return ordavine.Ordavine.from_stabilizers, (self.raising_iterable(generators),)

    # ---- calls -----------------------------------------------------------

    def arguments(self, method, depth):
        """Mostly well-formed calls with one bad value, sometimes a wrong
        number of arguments or made-up keywords."""
        r = self.random
        names = PARAMETERS[method]
        values = []
        for name in names:
            if method in INSTRUMENT:
                values.append(self.instrument_value(name, depth))
            elif name == "qubits":
                values.append(self.index_set(depth) if r.random() < 0.8 else self.value(depth))
            else:
                values.append(r.randrange(SIZE) if r.random() < 0.5 else self.value(depth))
        shape = r.randrange(6)
        if shape == 0:  # too few or too many positionals
            count = r.randrange(len(names) + 3)
            return (values + [self.value(depth) for _ in range(3)])[:count], {}
        if shape == 1:  # all by keyword, in random order
            pairs = list(zip(names, values))
            r.shuffle(pairs)
            return [], dict(pairs)
        if shape == 2:  # mixed, possibly duplicated
            split = r.randrange(len(names) + 1)
            keywords = dict(zip(names[r.randrange(len(names)) :], values))
            return values[:split], keywords
        if shape == 3:  # unknown keyword
            return values, {r.choice(["qubit", "node", "nodes", "x", "é", "\U0001f600"]): 1}
        return values, {}

    def check_result(self, method, result):
        if method in INSTRUMENT:
            expected = {"expectation": (int, {-1, 0, 1}), "fidelity": (float, None)}
            if method.startswith("postselect"):
                assert type(result) is float and result in (0.5, 1.0), (method, result)
            elif method == "measure_pauli":
                assert type(result).__name__ == "MeasurementResult" and int(result) in (0, 1)
            elif method in expected:
                kind, values = expected[method]
                assert type(result) is kind and (values is None or result in values), (method, result)
                assert method != "fidelity" or 0.0 <= result <= 1.0
            else:
                assert result is None, (method, result)
        elif method in SINGLE or method in TWO:
            assert result is None, (method, result)
        elif method in MEASURE:
            assert type(result).__name__ == "MeasurementResult" and int(result) in (0, 1)
        elif method == "get_entangled_group":
            assert isinstance(result, set) and all(0 <= q < SIZE for q in result)
        else:
            assert isinstance(result, dict) and all(0 <= q < SIZE for q in result)

    def call_once(self, depth=0):
        r = self.random
        watched = len(self.watched)  # nested calls watch theirs after these
        if depth == 0 and r.random() < 0.03:
            method = "import"
            target, args = self.import_call()
            kwargs = {}
        elif r.random() < 0.03:
            target, method = self.ordavine.Ordavine, "__new__"
            args, kwargs = (
                ([r.choice([0, 1, 7, -1, 2**64 - 1, 2**63, 1.0, None, "3", IndexRaises()])], {})
                if r.random() < 0.8
                else ([], {r.choice(["nodes", "n"]): 2})
            )
            if r.random() < 0.3:
                # The constructor handed a class of its own choosing, or none.
                module = self.ordavine
                target = module.Ordavine.__new__
                args = [r.choice([module.Ordavine, module.MeasurementResult, module.Outcome, int, IndexRaises, 3])] + args
        else:
            method = r.choice(METHODS)
            target = getattr(self.sim, method)
            args, kwargs = self.arguments(method, depth)
        try:
            result = target(*args, **kwargs)
        except BaseException as error:  # noqa: BLE001
            # An iterable that raised while the call read it: the call
            # ended with that very exception, not one made from it.
            raised = [iterable.error for iterable in self.watched[watched:] if iterable.raised]
            del self.watched[watched:]
            if raised and not any(error is e for e in raised):
                raise AssertionError(f"{raised[0]!r} came back as {error!r}") from error
            self.count_error(method, error)
            return
        assert not any(iterable.raised for iterable in self.watched[watched:]), (method, args)
        del self.watched[watched:]
        self.outcomes["ok"] += 1
        if method in ("__new__", "import"):
            assert type(result).__name__ == "Ordavine"
        else:
            self.check_result(method, result)

    def count_error(self, method, error):
        if isinstance(error, ALLOWED + (Halt,)):
            self.outcomes["error"] += 1
        elif isinstance(error, ValueError):
            # Refused values (a product, a probability, an outcome that
            # cannot be postselected, a graph) come only from the
            # instrument methods and the imports.
            if method not in INSTRUMENT and method != "import":
                raise error
            self.outcomes["error"] += 1
        elif is_panic(error):
            self.outcomes["panic"] += 1
        else:
            raise error

    # ---- checks ----------------------------------------------------------

    def deterministic_check(self, q):
        """Whatever state the fuzzing left: measuring a qubit twice on the
        same axis repeats the outcome, a fresh register knows its state, and
        the register is free for the next call."""
        sim = self.sim
        first = int(sim.measure_z(q))
        assert int(sim.measure_z(q)) == first
        assert q in sim.get_entangled_group(q)
        fresh = self.ordavine.Ordavine(3)
        fresh.h(0)
        fresh.cx(0, 1)
        fresh.x(2)
        bit = int(fresh.measure_z(0))
        assert int(fresh.measure_z(1)) == bit and int(fresh.measure_z(2)) == 1

    def check_graph(self):
        sim = self.sim
        if not hasattr(sim, "get_neighbors"):
            return
        lists = [sim.get_neighbors(q) for q in range(SIZE)]
        for q, neighbors in enumerate(lists):
            assert 0 <= sim.get_vop(q) < 24
            assert q not in neighbors and len(set(neighbors)) == len(neighbors)
            assert all(q in lists[other] for other in neighbors)


def background(fuzzer, gate, stop, errors, refused):
    """Calls the shared register with valid arguments while the main thread
    fuzzes it: only the two borrow errors may come back.  `gate` keeps it
    out while the main thread runs its checks."""
    r = random.Random(1)
    sim = fuzzer.sim
    while not stop.is_set():
        try:
            with gate:
                kind = r.randrange(4)
                if kind == 0:
                    getattr(sim, r.choice(SINGLE))(r.randrange(SIZE))
                elif kind == 1:
                    a, b = r.sample(range(SIZE), 2)
                    getattr(sim, r.choice(TWO))(a, b)
                elif kind == 2:
                    getattr(sim, r.choice(MEASURE))(r.randrange(SIZE))
                else:
                    sim.get_entangled_group(r.randrange(SIZE))
        except RuntimeError as error:
            if str(error) in ("Already borrowed", "Already mutably borrowed"):
                refused.append(1)
            else:
                errors.append(error)
        except BaseException as error:  # noqa: BLE001
            errors.append(error)
            return
        time.sleep(0)


def run_batch(seed, calls=CALLS_PER_BATCH):
    import resource

    # A safety net against a runaway allocation; sanitizer runtimes reserve
    # far more address space than this, so none is set under them.
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        limit = 4 << 30
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    sys.setrecursionlimit(400)
    sys.setswitchinterval(1e-5)
    fuzzer = Fuzzer(seed)
    gate, stop, errors, refused = threading.Lock(), threading.Event(), [], []
    thread = threading.Thread(
        target=background, args=(fuzzer, gate, stop, errors, refused), daemon=True
    )
    thread.start()
    try:
        for step in range(calls):
            fuzzer.call_once()
            if step % 25 == 0:
                with gate:
                    fuzzer.check_graph()
                    fuzzer.deterministic_check(step % SIZE)
    finally:
        stop.set()
        thread.join(timeout=30)
    assert not errors, errors
    fuzzer.check_graph()
    fuzzer.deterministic_check(0)
    counts = fuzzer.outcomes
    print("batch", seed, "ok", counts["ok"], counts["error"], counts["panic"], len(refused))


if __name__ == "__main__":
    run_batch(int(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else CALLS_PER_BATCH)
    sys.exit(0)


import pytest  # noqa: E402 - the batch above runs without pytest


@pytest.mark.parametrize("seed", SEEDS)
def test_random_calls_never_crash(seed):
    completed = subprocess.run(
        [sys.executable, os.path.abspath(__file__), str(seed)],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert completed.returncode == 0, (
        f"batch {seed} exited with {completed.returncode}\n--- stdout ---\n{completed.stdout}"
        f"\n--- stderr (last 4000 characters) ---\n{completed.stderr[-4000:]}"
    )
    words = completed.stdout.split()
    assert words[:3] == ["batch", str(seed), "ok"], completed.stdout
    ok, errors, panics, refused = map(int, words[3:7])
    # The batch reached the register: calls that worked, argument errors and
    # internal failures all happened, and the second thread ran into calls
    # that were holding the register.
    assert ok > 100 and errors > 100 and panics > 10 and refused > 0, words
