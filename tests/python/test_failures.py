"""Internal failures: the PanicException type, its messages and the report on stderr."""

import re

import pytest

import ordavine
from helpers import SINGLE_QUBIT_GATES, assert_ran, catch_panic
from ordavine import Ordavine

MAX_WORD = 2**64 - 1
LOCATION = re.compile(r"\bsrc/[\w./-]+\.(?:cpp|hpp|cc|h):\d+")
ADDRESS = re.compile(r"0x[0-9a-fA-F]{6,}")
MARKER = "=== end of failure {} ==="


def index_message(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


@pytest.mark.parametrize("gate", SINGLE_QUBIT_GATES)
@pytest.mark.parametrize(
    "size, index", [(3, 3), (3, 7), (1, 1), (0, 0), (0, 5), (2, MAX_WORD)]
)
def test_index_failure(gate, size, index, panic_type):
    sim = Ordavine(size)
    error = catch_panic(getattr(sim, gate), index)
    assert type(error) is panic_type
    assert str(error) == index_message(size, index)
    assert error.args == (index_message(size, index),)
    # The object is usable afterwards: access was released.
    if size:
        assert getattr(sim, gate)(size - 1) is None
    error = catch_panic(getattr(sim, gate), index)
    assert str(error) == index_message(size, index)


def test_panic_exception_type(panic_type):
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__module__ == "pyo3_runtime"
    assert panic_type.__qualname__ == "PanicException"
    assert panic_type.__bases__ == (BaseException,)
    assert not issubclass(panic_type, Exception)


def test_exception_handlers_do_not_catch_it():
    sim = Ordavine(3)
    reached = []
    with pytest.raises(BaseException) as caught:
        try:
            sim.x(3)
        except Exception:
            reached.append("Exception handler")
    assert reached == []
    assert type(caught.value).__name__ == "PanicException"
    assert sim.x(2) is None


def test_panic_exception_documentation(panic_type):
    doc = panic_type.__doc__
    assert doc.startswith("\n") and doc.endswith("\n")
    paragraphs = [p for p in doc.strip("\n").split("\n\n") if p.strip()]
    assert len(paragraphs) == 2, doc
    assert "BaseException" in paragraphs[1]


def test_panic_exception_is_not_a_module_attribute():
    assert "PanicException" not in vars(ordavine)


def test_failures_share_one_type():
    first = catch_panic(Ordavine(1).x, 1)
    second = catch_panic(Ordavine(5).h, 9)
    third = catch_panic(Ordavine, 2**62)
    assert type(first) is type(second) is type(third)


def test_many_failures_leave_the_object_usable():
    sim = Ordavine(2)
    for index in range(2, 200):
        catch_panic(sim.s, index)
    assert sim.s(1) is None


# Neighbour lists hold 32-bit entries, so 2^32 qubits and more cannot be
# represented at all, however much memory there is.
@pytest.mark.parametrize("count", [2**32, 2**40, 2**62, 2**63, MAX_WORD], ids=hex)
def test_unaddressable_register_is_a_capacity_overflow(count):
    error = catch_panic(Ordavine, count)
    assert str(error) == "capacity overflow"
    assert Ordavine(3).x(2) is None


# --- reports on standard error, each in a fresh process --------------------


def failure_chunks(stderr, count):
    """Splits stderr at the markers the snippets print after each failure."""
    chunks = []
    rest = stderr
    for number in range(count):
        head, marker, rest = rest.partition(MARKER.format(number))
        assert marker, f"marker {number} missing from stderr:\n{stderr}"
        chunks.append(head)
    return chunks


TWO_FAILURES = f"""
    import sys
    import ordavine
    sim = ordavine.Ordavine(3)
    for number, index in enumerate([3, 4]):
        try:
            sim.x(index)
        except BaseException as error:
            print(type(error).__name__, error)
        sys.stderr.flush()
        sys.stderr.write("{MARKER}".format(number) + "\\n")
        sys.stderr.flush()
    sim.x(2)
"""


def test_failure_report_and_one_time_hint(run_python):
    result = run_python(TWO_FAILURES)
    assert_ran(result)
    assert result.stdout.splitlines() == [
        "PanicException " + index_message(3, 3),
        "PanicException " + index_message(3, 4),
    ]
    first, second = failure_chunks(result.stderr, 2)
    assert index_message(3, 3) in first
    assert re.search(r"\bmain\b", first)
    assert LOCATION.search(first), first
    hint = [line for line in first.splitlines() if "ORDAVINE_BACKTRACE" in line]
    assert len(hint) == 1, first
    assert index_message(3, 4) in second
    assert re.search(r"\bmain\b", second)
    assert LOCATION.search(second), second
    assert "ORDAVINE_BACKTRACE" not in second
    assert not ADDRESS.search(result.stderr)


def test_backtrace_on_request(run_python):
    result = run_python(TWO_FAILURES, env={"ORDAVINE_BACKTRACE": "1"})
    assert_ran(result)
    first, second = failure_chunks(result.stderr, 2)
    for chunk, index in [(first, 3), (second, 4)]:
        assert index_message(3, index) in chunk
        assert LOCATION.search(chunk), chunk
        frames = [line for line in chunk.splitlines() if ADDRESS.search(line)]
        assert len(frames) >= 3, chunk


def test_report_names_the_failing_thread(run_python):
    result = run_python(
        f"""
        import ctypes, sys, threading
        import ordavine

        def work(number, name):
            if name:
                ctypes.CDLL(None).prctl(15, name.encode(), 0, 0, 0)  # PR_SET_NAME
            try:
                ordavine.Ordavine(1).x(1)
            except BaseException:
                pass
            sys.stderr.flush()
            sys.stderr.write("{MARKER}".format(number) + "\\n")
            sys.stderr.flush()

        for number, name in enumerate([None, "gate-worker"]):
            thread = threading.Thread(target=work, args=(number, name))
            thread.start()
            thread.join()
        """
    )
    assert_ran(result)
    unnamed, named = failure_chunks(result.stderr, 2)
    assert "<unnamed>" in unnamed, unnamed
    assert not re.search(r"\bmain\b", unnamed), unnamed
    assert "gate-worker" in named, named


def test_panic_raised_by_index_is_resumed(run_python):
    result = run_python(
        f"""
        import sys
        import ordavine

        sim = ordavine.Ordavine(2)
        try:
            sim.x(2)
        except BaseException as error:
            Panic = type(error)
        sys.stderr.flush()
        sys.stderr.write("{MARKER}".format(0) + "\\n")
        sys.stderr.flush()

        original = Panic("raised from Python code")

        class Bad:
            def __index__(self):
                raise original

        try:
            sim.h(Bad())
        except BaseException as error:
            resumed = error
        sys.stderr.flush()
        sys.stderr.write("{MARKER}".format(1) + "\\n")
        sys.stderr.flush()
        assert type(resumed) is Panic, type(resumed)
        assert resumed is not original
        assert resumed.args == ("raised from Python code",), resumed.args
        sim.h(1)

        # Only the exact type is resumed: a subclass is an ordinary error.
        class SubPanic(Panic):
            pass

        sub = SubPanic("from a subclass")

        class BadSub:
            def __index__(self):
                raise sub

        try:
            sim.h(BadSub())
        except BaseException as error:
            assert error is sub, error
        sim.h(1)
        print("ok")
        """
    )
    assert_ran(result)
    assert result.stdout.strip() == "ok"
    _, resumed = failure_chunks(result.stderr, 2)
    before, traceback_header, trace = resumed.partition("Traceback (most recent call last):")
    assert traceback_header, resumed
    notice = [line for line in before.splitlines() if line.strip()]
    assert len(notice) >= 2, resumed
    assert "__index__" in trace
    assert "raised from Python code" in trace


# The largest count a register can represent (2^32 - 1 qubits, 128 GiB of
# nodes) could be granted on a large machine, so running out is provoked
# with an address-space limit.
@pytest.mark.parametrize("limit_address_space", [True], ids=["address-space-limit"])
def test_out_of_memory_raises_memory_error(run_python, limit_address_space):
    result = run_python(
        f"""
        import resource
        import ordavine

        count = 2**40
        if {limit_address_space}:
            with open("/proc/self/status") as status:
                size_kb = next(int(line.split()[1]) for line in status
                               if line.startswith("VmSize:"))
            limit = size_kb * 1024 + (512 << 20)
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            count = 2**27  # at least 1 GiB of nodes
        try:
            ordavine.Ordavine(count)
        except MemoryError:
            print("MemoryError")
        sim = ordavine.Ordavine(3)
        sim.x(2)
        print("alive")
        """
    )
    assert_ran(result)
    assert result.stdout.split() == ["MemoryError", "alive"]
    assert "memory allocation" not in result.stderr
