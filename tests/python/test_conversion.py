"""Arguments read from the caller's objects: iterables, text and numbers.

What the caller's own code raises while an argument is read comes back
unchanged; an iterable is read no further than a refusal needs, and nothing
is allocated for a size that the input only claims; texts name what is
wrong, also for characters outside ASCII and lone surrogates.
"""

import textwrap

import pytest

import ordavine
from helpers import IS_PYPY, assert_ran
from ordavine import Ordavine


class Halt(BaseException):
    """Not an Exception, like KeyboardInterrupt and SystemExit."""


def raising_after(items, error):
    """A generator that yields `items`, then raises `error`."""
    yield from items
    raise error


class RaisingIter:
    """An iterable whose __iter__ raises."""

    def __init__(self, error):
        self.error = error

    def __iter__(self):
        raise self.error


# Each entry point fed an iterable that raises `error`: as a generator after
# some items, and through __iter__.
ENTRY_POINTS = {
    "from_stabilizers": lambda error: Ordavine.from_stabilizers(raising_after(["+Z"], error)),
    "from_stabilizers __iter__": lambda error: Ordavine.from_stabilizers(RaisingIter(error)),
    "fidelity": lambda error: Ordavine(3).fidelity(Ordavine(2), raising_after([0], error)),
    "fidelity __iter__": lambda error: Ordavine(3).fidelity(Ordavine(2), RaisingIter(error)),
    "from_graph edges": lambda error: Ordavine.from_graph(3, raising_after([(0, 1)], error)),
    "from_graph pair": lambda error: Ordavine.from_graph(3, [(0, 1), raising_after([1], error)]),
    "from_graph pair __iter__": lambda error: Ordavine.from_graph(3, [RaisingIter(error)]),
}
ERRORS = [
    lambda: KeyboardInterrupt(),
    lambda: MemoryError(),
    lambda: SystemExit(3),
    lambda: RuntimeError("Already borrowed"),
    lambda: TypeError("a TypeError of the caller's own"),
    lambda: Halt("a BaseException"),
]


@pytest.mark.parametrize("make_error", ERRORS, ids=lambda make: type(make()).__name__)
@pytest.mark.parametrize("entry", ENTRY_POINTS)
def test_errors_raised_while_an_iterable_is_read_come_back_unchanged(entry, make_error):
    error = make_error()
    with pytest.raises(BaseException) as caught:
        ENTRY_POINTS[entry](error)
    assert caught.value is error


def test_a_register_in_use_refuses_a_call_from_the_qubits_being_read():
    sim, other = Ordavine(3), Ordavine(2)

    def qubits():
        yield 0
        sim.h(0)  # sim is held by the fidelity call reading this
        yield 1

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.fidelity(other, qubits())
    assert sim.expectation("Z0") == 1  # the gate never ran


def test_not_iterable_is_still_the_cast_error():
    with pytest.raises(TypeError, match=r"^argument 'qubits': 'int' object cannot be cast as 'Sequence\[int\]'$"):
        Ordavine(2).fidelity(Ordavine(1), 5)
    with pytest.raises(TypeError, match=r"^argument 'data': 'list' object cannot be cast as 'bytes'$"):
        Ordavine.from_bytes([1])


# ---- reading no more than a refusal needs ---------------------------------------


def test_within_its_length_every_qubit_is_converted():
    with pytest.raises(TypeError, match="^argument 'qubits': "):
        Ordavine(3).fidelity(Ordavine(2), [0, "1", 2])
    with pytest.raises(ValueError, match="^qubits names 3 qubits, but the other register has 2$"):
        Ordavine(3).fidelity(Ordavine(2), [0, 1, "not read"])


def test_claimed_sizes_are_refused_without_reading_or_allocating_for_them(run_python):
    """In a child whose address space leaves 64 MiB: each refusal comes
    without first reading the input to its end or allocating for the size
    it claims (gigabytes, or more than there is)."""
    result = run_python(textwrap.dedent(
        """
        import resource
        from ordavine import Ordavine

        def vm_size():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        sim, pair = Ordavine(3), Ordavine(2)
        hard = resource.getrlimit(resource.RLIMIT_AS)[1]
        resource.setrlimit(resource.RLIMIT_AS, (vm_size() + (64 << 20), hard))
        calls = [
            lambda: Ordavine.from_graph(10**8, [(0, 0)]),          # 3.2 GB of nodes
            lambda: Ordavine.from_graph(10**8, [(0, 10**8)]),
            lambda: Ordavine.from_graph(10**8, [(0, 1), (2, 3), (1, 0)]),
            lambda: sim.fidelity(pair, range(3 * 10**7)),          # 1.4 GB as a list
            lambda: sim.fidelity(pair, range(10**30)),
            lambda: sim.fidelity(pair, iter(range(10**18))),
            lambda: Ordavine.from_stabilizers(["X"] * 10**5),      # 2.5 GB of rows
            lambda: Ordavine.from_stabilizers(range(10**18)),
            lambda: Ordavine.from_graph(3, [range(10**18)]),
            lambda: Ordavine.from_graph(3, [iter(range(10**18))]),
        ]
        for call in calls:
            try:
                call()
            except BaseException as error:
                print(type(error).__name__ + ": " + str(error))
        """))
    assert_ran(result)
    assert result.stdout.splitlines() == [
        "ValueError: invalid graph: edge 0 is (0, 0), a self loop",
        "ValueError: invalid graph: edge 0 is (0, 100000000), but qubits are numbered 0 to 99999999",
        "ValueError: invalid graph: edge 2 is (1, 0), which repeats edge 0 (0, 1)",
        "ValueError: qubits names 30000000 qubits, but the other register has 2",
        "ValueError: qubits names more than 2 qubits, but the other register has 2",
        "ValueError: qubits names more than 2 qubits, but the other register has 2",
        "ValueError: invalid stabilizers: generator 0 has 1 qubits, but 100000 generators are given (one per qubit)",
        "TypeError: argument 'stabilizers': generator 0 is a 'int', not a 'str'",
        "ValueError: invalid graph: edge 0 has 1000000000000000000 entries, not 2",
        "ValueError: invalid graph: edge 0 has more than 2 entries, not 2",
    ]


# ---- texts -------------------------------------------------------------------------


def test_lone_surrogates_are_refused_where_they_stand():
    sim = Ordavine(2)
    refusals = [
        (lambda: sim.run("H 0\ud800"), "line 1, column 4: unexpected lone surrogate U+D800 (UTF-8 cannot encode it)"),
        (lambda: ordavine.sample("M 0\n# é \udfff", 1),
         "line 2, column 6: unexpected lone surrogate U+DFFF (UTF-8 cannot encode it)"),
        (lambda: ordavine.sample_detectors("M 0 # \ud800", 1),
         "line 1, column 7: unexpected lone surrogate U+D800 (UTF-8 cannot encode it)"),
        (lambda: sim.expectation("X0*\ud800"),
         "Pauli product 'X0*\\xed\\xa0\\x80', column 4: expected X, Y or Z, found '\\xed\\xa0\\x80'"),
        (lambda: sim.expectation({0: "\ud800"}), "argument 'pauli': the Pauli of qubit 0 must be 'X', 'Y' or 'Z', not '\\ud800'"),
        (lambda: Ordavine.from_stabilizers(["X\ud800", "ZX"]),
         "invalid stabilizers: generator 0, character 2: U+D800 (a lone surrogate) is not one of _, I, X, Y, Z"),
    ]
    for call, text in refusals:
        with pytest.raises(ValueError) as caught:
            call()
        assert str(caught.value) == text
    assert sim.expectation("Z0") == 1  # nothing ran
    # Texts built from the caller's str keep what UTF-8 cannot encode.
    with pytest.raises(TypeError) as caught:
        sim.x(**{"n\ud800": 0})
    assert str(caught.value) == "Ordavine.x() got an unexpected keyword argument 'n\ud800'"

    class Refuses:
        def __index__(self):
            raise TypeError("no \ud800 here")

    with pytest.raises(TypeError) as caught:
        sim.x(Refuses())
    assert str(caught.value) == "argument 'node': no \ud800 here"


def test_characters_outside_ascii_count_as_one():
    refusals = [
        (lambda: Ordavine.from_stabilizers(["Ｘ"]),
         "invalid stabilizers: generator 0, character 1: 'Ｘ' (U+FF38) is not one of _, I, X, Y, Z"),
        (lambda: Ordavine.from_stabilizers(["+Zé", "XX"]),
         "invalid stabilizers: generator 0, character 3: 'é' (U+00E9) is not one of _, I, X, Y, Z"),
        (lambda: Ordavine(2).expectation("XＸ"),
         "Pauli product 'X\\xef\\xbc\\xb8', column 2: expected _, I, X, Y or Z, found '\\xef\\xbc\\xb8'"),
    ]
    for call, text in refusals:
        with pytest.raises(ValueError) as caught:
            call()
        assert str(caught.value) == text


class bool:  # noqa: N801 - a type named as the target, from another module
    pass


def test_a_cast_error_names_a_type_that_shares_the_targets_name():
    given = [(bool(), f"'{__name__}.bool'"), (1, "'int'")]
    if not IS_PYPY:
        np = pytest.importorskip("numpy")
        name = type(np.True_).__qualname__  # "bool" from numpy 2 on, "bool_" before
        given.append((np.True_, "'numpy.bool'" if name == "bool" else f"'{name}'"))
    for value, shown in given:
        with pytest.raises(TypeError) as caught:
            ordavine.sample("M 0", 1, bit_packed=value)
        assert str(caught.value) == f"argument 'bit_packed': {shown} object cannot be cast as 'bool'"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Float:
    def __float__(self):
        return 1.0

    def __index__(self):  # __float__ comes first, as in float()
        return 0


def test_probabilities_convert_alike_on_every_interpreter():
    accepted = [Index(1), Float(), 1, True, 1.0]
    if not IS_PYPY:
        np = pytest.importorskip("numpy")
        accepted += [np.int64(1), np.float32(1.0), np.float64(1.0), np.bool_(True)]
    for p in accepted:
        sim = Ordavine(1)
        sim.x_error(0, p)
        assert sim.expectation("Z0") == -1, p  # p = 1: the flip happened
    with pytest.raises(TypeError, match="^argument 'p': must be real number, not str$"):
        Ordavine(1).x_error(0, "1.0")
    with pytest.raises(ValueError, match="^argument 'p': a probability must be in \\[0, 1\\], not 2$"):
        Ordavine(1).depolarize1(0, Index(2))
    with pytest.raises(OverflowError):
        Ordavine(1).z_error(0, 10**400)
