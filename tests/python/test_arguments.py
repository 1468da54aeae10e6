"""Argument matching and conversion of the constructor, the methods and the sampling functions."""

import operator
import sys

import pytest

import ordavine
from helpers import (
    ALL_METHODS,
    IS_PYPY,
    INDEX_METHODS,
    METHOD_PARAMETERS,
    SINGLE_QUBIT_GATES,
    TWO_QUBIT_GATES,
    catch_panic,
    method_or_skip,
)
from ordavine import Ordavine

CONSTRUCTOR = "__new__"
PARAMETERS = {CONSTRUCTOR: ("nodes",), **METHOD_PARAMETERS}


class Index:
    """An object that is not an int but converts to one through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class RaisingIndex:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def invoke(name, *args, **kwargs):
    """Calls the constructor (`__new__`) or a method of a fresh 4-qubit register."""
    if name == CONSTRUCTOR:
        return Ordavine(*args, **kwargs)
    return method_or_skip(Ordavine(4), name)(*args, **kwargs)


def type_error_text(name, args, kwargs):
    with pytest.raises(TypeError) as caught:
        invoke(name, *args, **kwargs)
    assert type(caught.value) is TypeError
    return str(caught.value)


def interpreter_index_error(value):
    try:
        operator.index(value)
    except TypeError as error:
        return str(error)
    raise AssertionError(f"{value!r} converts to an int")


def case_id(case):
    name, args, kwargs = case[:3]
    shown = [repr(a) for a in args] + [f"{k}={v!r}" for k, v in kwargs.items()]
    return f"{name}({', '.join(shown)})"


# --- argument matching -----------------------------------------------------

TOO_MANY_POSITIONAL = [
    (name, (0,) * (len(params) + extra), {}, len(params), len(params) + extra)
    for name, params in PARAMETERS.items()
    for extra in (1, 3)
] + [
    # The surplus is found before any keyword is looked at.
    ("x", (0, 1), {"node": 0}, 1, 2),
    ("x", (0, 1), {"bogus": 0}, 1, 2),
    ("cx", (0, 1, 2), {"target": 1}, 2, 3),
    (CONSTRUCTOR, (1, 2), {"nodes": 3}, 1, 2),
]


@pytest.mark.parametrize("case", TOO_MANY_POSITIONAL, ids=case_id)
def test_too_many_positional_arguments(case):
    name, args, kwargs, n, k = case
    assert type_error_text(name, args, kwargs) == (
        f"Ordavine.{name}() takes {n} positional arguments but {k} were given"
    )


UNEXPECTED_KEYWORD = [
    (name, (), {"bogus": 0}, "bogus") for name in PARAMETERS
] + [
    ("x", (), {"qubit": 0}, "qubit"),
    ("x", (), {"Node": 0}, "Node"),  # names match case-sensitively
    ("x", (), {"nœud": 0}, "nœud"),
    ("x", (0,), {"bogus": 1}, "bogus"),
    ("x", (0,), {"bogus": 1, "node": 2}, "bogus"),  # first problem in keyword order
    ("cx", (), {"control": 0, "node": 1}, "node"),
    (CONSTRUCTOR, (), {"node": 3}, "node"),
    (CONSTRUCTOR, (), {"n": 3, "nodes": 3}, "n"),
]


@pytest.mark.parametrize("case", UNEXPECTED_KEYWORD, ids=case_id)
def test_unexpected_keyword_argument(case):
    name, args, kwargs, keyword = case
    assert type_error_text(name, args, kwargs) == (
        f"Ordavine.{name}() got an unexpected keyword argument '{keyword}'"
    )


MULTIPLE_VALUES = [
    (name, (0,) * len(params), {params[0]: 0}, params[0]) for name, params in PARAMETERS.items()
] + [
    ("x", (0,), {"node": 1, "bogus": 2}, "node"),  # first problem in keyword order
    ("cx", (0, 1), {"target": 1}, "target"),
    ("cx", (0,), {"control": 1}, "control"),
    ("cx", (0,), {"target": 1, "control": 1}, "control"),
]


@pytest.mark.parametrize("case", MULTIPLE_VALUES, ids=case_id)
def test_multiple_values_for_one_argument(case):
    name, args, kwargs, parameter = case
    assert type_error_text(name, args, kwargs) == (
        f"Ordavine.{name}() got multiple values for argument '{parameter}'"
    )


MISSING_ONE = [
    (name, (), {}, params[0]) for name, params in PARAMETERS.items() if len(params) == 1
] + [
    (name, (0,), {}, "target") for name in TWO_QUBIT_GATES
] + [
    ("cx", (), {"control": 0}, "target"),
    ("cx", (), {"target": 0}, "control"),
    ("cz", (), {"target": 0}, "control"),
]


@pytest.mark.parametrize("case", MISSING_ONE, ids=case_id)
def test_one_missing_argument(case):
    name, args, kwargs, parameter = case
    assert type_error_text(name, args, kwargs) == (
        f"Ordavine.{name}() missing 1 required positional argument: '{parameter}'"
    )


@pytest.mark.parametrize("name", TWO_QUBIT_GATES)
def test_two_missing_arguments(name):
    assert type_error_text(name, (), {}) == (
        f"Ordavine.{name}() missing 2 required positional arguments: 'control' and 'target'"
    )


def def_sample(circuit, shots, *, seed=None, first_shot=0, bit_packed=False):
    """The sampling functions' signature as a def: CPython's own texts for it."""


SAMPLE_CALLS = [
    (("M 0", 1, 2), {}, "takes 2 positional arguments but 3 were given"),
    (("M 0", 1, 2), {"seed": 1},
     "takes 2 positional arguments but 3 positional arguments (and 1 keyword-only argument) were given"),
    (("M 0", 1, None, 0, True), {"seed": 1, "bit_packed": True},
     "takes 2 positional arguments but 5 positional arguments (and 2 keyword-only arguments) were given"),
    (("M 0",), {}, "missing 1 required positional argument: 'shots'"),
    ((), {"shots": 1, "seed": 2}, "missing 1 required positional argument: 'circuit'"),
    ((), {"first_shot": 1}, "missing 2 required positional arguments: 'circuit' and 'shots'"),
    (("M 0", 1), {"seeds": 2}, "got an unexpected keyword argument 'seeds'"),
    (("M 0",), {"shots": 1, "Seed": 2}, "got an unexpected keyword argument 'Seed'"),
    (("M 0", 1), {"n\ud800": 2}, "got an unexpected keyword argument 'n\ud800'"),
    (("M 0", 1), {"circuit": "M 0"}, "got multiple values for argument 'circuit'"),
    (("M 0", 1), {"seed": 1, "shots": 1}, "got multiple values for argument 'shots'"),
]


@pytest.mark.parametrize("function", ["sample", "sample_detectors"])
@pytest.mark.parametrize("case", SAMPLE_CALLS, ids=lambda case: case_id(("sample",) + case[:2]))
def test_sampling_functions_match_as_a_def_would(function, case):
    args, kwargs, text = case
    with pytest.raises(TypeError) as caught:
        getattr(ordavine, function)(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert str(caught.value) == f"{function}() {text}"
    if not IS_PYPY:
        with pytest.raises(TypeError) as by_def:
            def_sample(*args, **kwargs)
        assert str(by_def.value) == f"def_sample() {text}"


def test_sampling_arguments_by_keyword_are_the_same_call():
    text = "H 0\nDEPOLARIZE1(0.3) 0\nM 0\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(0) rec[-1]"
    rows = ordavine.sample(text, 70, seed=5, first_shot=3, bit_packed=True)
    assert ordavine.sample(bit_packed=True, first_shot=3, seed=5, shots=70, circuit=text) == rows
    assert ordavine.sample(text, shots=70, seed=5, first_shot=3, bit_packed=True) == rows
    events = ordavine.sample_detectors(text, 70, seed=5)
    assert ordavine.sample_detectors(seed=5, circuit=text, shots=70) == events
    assert events != ordavine.sample_detectors(text, 70, seed=6)


def test_keywords_in_any_order():
    sim = Ordavine(nodes=3)
    for gate in SINGLE_QUBIT_GATES:
        assert getattr(sim, gate)(node=2) is None
    if hasattr(sim, "cx"):
        assert sim.cx(target=1, control=0) is None
        assert sim.cx(1, target=2) is None


def test_argument_errors_leave_the_object_usable():
    sim = Ordavine(2)
    for args, kwargs in [((0, 1), {}), ((), {}), ((), {"qubit": 0}), ((0,), {"node": 0})]:
        with pytest.raises(TypeError):
            sim.h(*args, **kwargs)
    assert sim.h(1) is None


# --- conversion of indices -------------------------------------------------

NOT_INTEGERS = [1.0, 2.5, "0", None, [0], 1j, b"\x00", Index("0")]


@pytest.mark.parametrize("name", [CONSTRUCTOR] + INDEX_METHODS)
@pytest.mark.parametrize("value", NOT_INTEGERS, ids=repr)
def test_non_integer_names_the_argument(name, value):
    params = PARAMETERS[name]
    args = (value,) + (0,) * (len(params) - 1)
    assert type_error_text(name, args, {}) == (
        f"argument '{params[0]}': " + interpreter_index_error(value)
    )


@pytest.mark.parametrize(
    "args, kwargs, parameter",
    [
        ((1.5, 2.5), {}, "control"),  # conversion stops at the first failure
        ((0, 2.5), {}, "target"),
        ((1.5, -1), {}, "control"),
        ((), {"target": 2.5, "control": 1.5}, "control"),  # parameter order, not keyword order
    ],
)
def test_two_qubit_conversion_order(args, kwargs, parameter):
    text = type_error_text("cx", args, kwargs)
    assert text.startswith(f"argument '{parameter}': ")


def test_overflow_of_the_first_argument_wins_over_a_bad_second():
    cx = method_or_skip(Ordavine(2), "cx")
    with pytest.raises(OverflowError):
        cx(-1, 2.5)


NEGATIVE_OR_TOO_LARGE = [-1, -(2**70), 2**64, 2**100, Index(-1), Index(2**64)]


@pytest.mark.parametrize("name", [CONSTRUCTOR] + INDEX_METHODS)
@pytest.mark.parametrize("value", NEGATIVE_OR_TOO_LARGE, ids=repr)
def test_out_of_range_integers_raise_the_interpreters_overflow_error(name, value):
    params = PARAMETERS[name]
    args = (value,) + (0,) * (len(params) - 1)
    with pytest.raises(OverflowError) as caught:
        invoke(name, *args)
    text = str(caught.value)
    assert params[0] not in text
    assert not text.startswith("argument")


def test_index_error_cause_is_kept_through_the_rewrite():
    root = ValueError("root cause")
    original = TypeError("cannot use this object")
    original.__cause__ = root
    with pytest.raises(TypeError) as caught:
        Ordavine(2).x(RaisingIndex(original))
    error = caught.value
    assert type(error) is TypeError
    assert str(error) == "argument 'node': cannot use this object"
    assert error is not original
    assert error.__cause__ is root


def test_constructor_rewrites_with_its_parameter_name():
    with pytest.raises(TypeError) as caught:
        Ordavine(RaisingIndex(TypeError("no count here")))
    assert str(caught.value) == "argument 'nodes': no count here"
    assert caught.value.__cause__ is None


class CustomTypeError(TypeError):
    pass


@pytest.mark.parametrize(
    "error",
    [
        CustomTypeError("a TypeError subclass"),
        ValueError("not TypeError"),
        OverflowError("overflow from __index__"),
        ZeroDivisionError("division"),
    ],
    ids=lambda e: type(e).__name__,
)
def test_other_index_errors_pass_through_unchanged(error):
    with pytest.raises(type(error)) as caught:
        Ordavine(2).x(RaisingIndex(error))
    assert caught.value is error
    assert str(caught.value) == str(error)


# --- accepted values -------------------------------------------------------


def assert_acts_on(argument, expected_index):
    """`x(argument)` addresses qubit `expected_index`: it works on a register
    just big enough and fails on one a qubit smaller, naming that index."""
    assert Ordavine(expected_index + 1).x(argument) is None
    error = catch_panic(Ordavine(expected_index).x, argument)
    assert str(error) == (
        f"index out of bounds: the len is {expected_index} but the index is {expected_index}"
    )


class IntWithOtherIndex(int):
    def __index__(self):
        return int(self) + 1

    def __repr__(self):
        return f"IntWithOtherIndex({int(self)})"


@pytest.mark.parametrize(
    "argument, index",
    [
        (True, 1),
        (False, 0),
        (Index(2), 2),
        (IntWithOtherIndex(3), 3),  # an int is read by value, not through __index__
        (2**20, 2**20),
    ],
    ids=repr,
)
def test_accepted_indices(argument, index):
    assert_acts_on(argument, index)


def test_numpy_integers_are_accepted():
    numpy = pytest.importorskip("numpy")
    assert_acts_on(numpy.int64(2), 2)
    assert_acts_on(numpy.uint8(2), 2)


@pytest.mark.skipif(sys.maxsize < 2**32, reason="needs a 64-bit machine word")
def test_largest_machine_word_reaches_the_operation():
    error = catch_panic(Ordavine(3).x, 2**64 - 1)
    assert str(error) == f"index out of bounds: the len is 3 but the index is {2**64 - 1}"


@pytest.mark.parametrize(
    "count, size", [(True, 1), (False, 0), (Index(2), 2), (IntWithOtherIndex(2), 2)], ids=repr
)
def test_constructor_counts(count, size):
    sim = Ordavine(count)
    if size:
        assert sim.x(size - 1) is None
    error = catch_panic(sim.x, size)
    assert str(error) == f"index out of bounds: the len is {size} but the index is {size}"


# --- conversion of qubit sets ------------------------------------------------


@pytest.mark.parametrize(
    "value",
    [[0, 1], (0,), {0: 1}, range(2), iter({0}), 0, None],
    ids=lambda value: type(value).__name__,
)
def test_qubits_must_be_a_set(value):
    type_name = type(value).__qualname__
    assert type_error_text("peek_measure_set", (value,), {}) == (
        f"argument 'qubits': '{type_name}' object cannot be cast as 'set'"
    )


@pytest.mark.parametrize("bad", [1.5, "0", None], ids=repr)
def test_qubit_set_elements_are_converted_as_indices(bad):
    assert type_error_text("peek_measure_set", ({0, bad},), {}) == (
        "argument 'qubits': " + interpreter_index_error(bad)
    )


def test_qubit_set_element_overflow_is_not_renamed():
    peek = method_or_skip(Ordavine(2), "peek_measure_set")
    with pytest.raises(OverflowError) as caught:
        peek({-1})
    assert "qubits" not in str(caught.value)


class SetSubclass(set):
    pass


@pytest.mark.parametrize("empty", [set(), frozenset(), SetSubclass()], ids=repr)
def test_empty_qubit_sets_give_an_empty_dict(empty):
    peek = method_or_skip(Ordavine(2), "peek_measure_set")
    result = peek(empty)
    assert type(result) is dict and result == {}
