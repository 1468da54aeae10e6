"""Several Python threads using the module at once.

The module never releases the interpreter lock itself, but Python code run
during argument conversion can (an ``__index__`` that sleeps), and then
another thread runs while a call holds a register.  These tests check that
separate registers do not interfere, that contention on one register shows
up only as the two borrow errors and never as a half-applied change, and
that every thread draws its own random stream.
"""

import os
import random
import sys
import threading
import time

import pytest

from helpers import IS_PYPY, assert_ran
from ordavine import Ordavine

BORROW_ERRORS = ("Already borrowed", "Already mutably borrowed")


@pytest.fixture(autouse=True)
def fast_switching():
    """Switch threads as often as the interpreter allows."""
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


def run_threads(targets):
    """Starts one thread per callable, joins them and re-raises the first
    error any of them raised."""
    errors = []

    def wrap(target):
        def run():
            try:
                target()
            except BaseException as error:  # noqa: BLE001 - PanicException included
                errors.append(error)

        return run

    threads = [threading.Thread(target=wrap(t)) for t in targets]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
        assert not thread.is_alive(), "a thread did not finish"
    if errors:
        raise errors[0]


class SleepingIndex:
    """An index whose conversion releases the interpreter lock for a moment,
    so that another thread runs while the call holds the register."""

    def __init__(self, value, seconds=0.0005):
        self.value = value
        self.seconds = seconds

    def __index__(self):
        time.sleep(self.seconds)
        return self.value


def test_threads_on_separate_registers_get_correct_results():
    def ghz_rounds():
        for size in range(2, 40):
            sim = Ordavine(size)
            sim.h(0)
            for q in range(1, size):
                sim.cx(q - 1, q)
            # A GHZ state: every Z outcome equals the first, all one group.
            assert sim.get_entangled_group(size - 1) == set(range(size))
            first = int(sim.measure_z(0))
            assert [int(sim.measure_z(q)) for q in range(size)] == [first] * size
            # Deterministic gates interleaved with the other threads.
            sim.x(SleepingIndex(0, 0.0))
            assert int(sim.measure_z(0)) == 1 - first

    run_threads([ghz_rounds] * 6)


def test_contention_on_one_register_only_raises_borrow_errors():
    """Two writers and a reader share one register.  Each writer flips its
    own qubit with every successful call; the final state must account for
    exactly the calls that succeeded, and nothing but the borrow errors may
    be raised."""
    sim = Ordavine(4)
    sim.x(0)  # control of the controlled-X writer, left in |1>
    successes = {"x": 0, "cx": 0, "group": 0}
    refusals = []
    # Only a safety stop: the loop ends as soon as every thread has got
    # through and been refused often enough, however fast the machine is.
    deadline = time.monotonic() + 120

    def keep_going(name):
        # Until every thread has got through and been refused a few times.
        enough = min(successes.values()) >= 20 and len(refusals) >= 20
        return not enough and time.monotonic() < deadline

    def contend(name, call, allowed):
        pause = random.Random(name)
        while keep_going(name):
            try:
                call()
                successes[name] += 1
            except RuntimeError as error:
                assert str(error) in allowed
                refusals.append(str(error))
            time.sleep(pause.random() * 0.001)  # let the others in between calls

    def check_group():
        assert sim.get_entangled_group(SleepingIndex(3)) == {3}

    run_threads(
        [
            lambda: contend("x", lambda: sim.x(SleepingIndex(1)), BORROW_ERRORS),
            lambda: contend("cx", lambda: sim.cx(SleepingIndex(0), 2), BORROW_ERRORS),
            lambda: contend("group", check_group, ("Already mutably borrowed",)),
        ]
    )
    assert min(successes.values()) >= 20 and len(refusals) >= 20, (successes, len(refusals))
    # Every flip that was reported as done happened, and no other.
    assert int(sim.measure_z(0)) == 1
    assert int(sim.measure_z(1)) == successes["x"] % 2
    assert int(sim.measure_z(2)) == successes["cx"] % 2
    assert int(sim.measure_z(3)) == 0
    # The flag is free again: a plain call goes through.
    assert sim.h(3) is None


def test_a_reader_holding_the_register_refuses_writers():
    sim = Ordavine(2)
    holding = threading.Event()
    release = threading.Event()
    seen = []

    class BlockingIndex:
        def __index__(self):
            holding.set()
            release.wait(timeout=30)
            return 0

    def reader():
        assert sim.get_entangled_group(BlockingIndex()) == {0}

    def writer():
        holding.wait(timeout=30)
        try:
            for method in (sim.h, sim.measure_x):
                with pytest.raises(RuntimeError, match="^Already borrowed$"):
                    method(1)
            # A second reader is welcome while the first one reads.
            assert sim.get_entangled_group(1) == {1}
            seen.append("done")
        finally:
            release.set()

    run_threads([reader, writer])
    assert seen == ["done"]
    assert sim.h(0) is None


def test_a_writer_holding_the_register_refuses_readers_and_writers():
    sim = Ordavine(2)
    holding = threading.Event()
    release = threading.Event()

    class BlockingIndex:
        def __index__(self):
            holding.set()
            release.wait(timeout=30)
            return 0

    def writer():
        sim.h(BlockingIndex())

    def other():
        holding.wait(timeout=30)
        try:
            with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
                sim.get_entangled_group(1)
            with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
                sim.peek_measure_set({1})
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                sim.cz(0, 1)
        finally:
            release.set()

    run_threads([writer, other])
    # The held call completed: qubit 0 is now in |+>.
    assert int(sim.measure_x(0)) == 0


def random_bits(count):
    """`count` random outcomes: X measurements of fresh |0> qubits."""
    sim = Ordavine(count)
    return tuple(int(sim.measure_x(q)) for q in range(count))


def test_each_thread_draws_its_own_stream():
    streams = []

    def draw():
        streams.append(random_bits(128))

    run_threads([draw] * 8)
    streams.append(random_bits(128))  # the main thread's own
    assert len(set(streams)) == len(streams), "two threads drew the same outcomes"
    for stream in streams:
        assert 20 < sum(stream) < 108, "outcomes far from balanced"


def test_many_short_lived_threads():
    """Each thread's generator is created on its first draw and destroyed at
    exit; hundreds of them in a row must neither fail nor repeat."""
    outcomes = []

    def one():
        outcomes.append(random_bits(32))

    for _ in range(10):
        run_threads([one] * 20)
    assert len(set(outcomes)) == len(outcomes)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_forked_child_draws_a_different_stream(run_python):
    result = run_python(
        """
        import os
        import ordavine

        def bits():
            sim = ordavine.Ordavine(64)
            return "".join(str(int(sim.measure_x(q))) for q in range(64))

        bits()  # the parent's generator exists before the fork
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.write(write, bits().encode())
            os._exit(0)
        os.close(write)
        child = os.read(read, 64).decode()
        os.waitpid(pid, 0)
        parent = bits()
        print("same" if child == parent else "different", len(child))
        """
    )
    assert_ran(result)
    assert result.stdout.split() == ["different", "64"]


@pytest.mark.skipif(IS_PYPY, reason="daemon threads at exit behave differently on PyPy")
def test_interpreter_exits_while_threads_hold_registers(run_python):
    """Daemon threads still inside calls when the interpreter shuts down:
    the forced unwind of such a thread must pass through the call (releasing
    the register) instead of ending the process."""
    result = run_python(
        """
        import threading, time
        import ordavine

        class Slow:
            def __index__(self):
                time.sleep(0.001)
                return 0

        def spin():
            sim = ordavine.Ordavine(8)
            while True:
                sim.h(Slow())
                sim.cx(0, 1)
                sim.measure_y(1)

        for _ in range(4):
            threading.Thread(target=spin, daemon=True).start()
        time.sleep(0.3)
        print("exiting")
        """
    )
    assert_ran(result)
    assert result.stdout.split() == ["exiting"]
