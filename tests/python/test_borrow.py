"""Overlapping access to one register through Python code run during a call."""

import pytest

from helpers import SINGLE_QUBIT_GATES, catch_panic, method_or_skip
from ordavine import Ordavine


class CallingIndex:
    """Converts to `value` after running `action`, recording what it raised."""

    def __init__(self, action, value=0):
        self.action = action
        self.value = value
        self.calls = 0
        self.error = None

    def __index__(self):
        self.calls += 1
        try:
            self.action()
        except Exception as error:
            self.error = error
            raise
        return self.value


@pytest.mark.parametrize("inner", SINGLE_QUBIT_GATES)
@pytest.mark.parametrize("outer", SINGLE_QUBIT_GATES)
def test_reentrant_mutation_is_refused(outer, inner):
    sim = Ordavine(2)
    argument = CallingIndex(lambda: getattr(sim, inner)(0))
    with pytest.raises(RuntimeError, match="^Already borrowed$") as caught:
        getattr(sim, outer)(argument)
    assert type(caught.value) is RuntimeError
    assert caught.value is argument.error  # the inner error reaches the caller unchanged
    # Both calls work once the outer call has ended.
    assert getattr(sim, inner)(0) is None
    assert getattr(sim, outer)(1) is None


def test_reentry_is_refused_for_a_keyword_argument():
    sim = Ordavine(2)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.x(node=CallingIndex(lambda: sim.h(0)))
    assert sim.x(node=0) is None


def test_other_registers_are_free_during_conversion():
    sim, other = Ordavine(2), Ordavine(2)
    argument = CallingIndex(lambda: other.h(0), value=1)
    assert sim.h(argument) is None
    assert argument.calls == 1 and argument.error is None


def test_constructor_takes_no_access():
    sim = Ordavine(2)
    argument = CallingIndex(lambda: sim.h(0), value=3)
    new = Ordavine(argument)
    assert argument.error is None
    assert new.x(2) is None


def test_access_is_released_after_a_failed_operation():
    sim = Ordavine(2)
    catch_panic(sim.h, CallingIndex(lambda: None, value=5))
    assert sim.h(0) is None


def test_two_qubit_reentry_through_the_second_argument():
    sim = Ordavine(3)
    method_or_skip(sim, "cx")
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        sim.cx(0, CallingIndex(lambda: sim.x(2), value=1))
    assert sim.cx(0, 1) is None


@pytest.mark.parametrize(
    "outer, inner, expected",
    [
        ("x", "get_entangled_group", "Already mutably borrowed"),
        ("get_entangled_group", "x", "Already borrowed"),
        ("get_entangled_group", "get_entangled_group", None),
    ],
)
def test_shared_and_exclusive_access(outer, inner, expected):
    sim = Ordavine(2)
    method_or_skip(sim, "get_entangled_group")
    argument = CallingIndex(lambda: getattr(sim, inner)(1))
    if expected is None:
        getattr(sim, outer)(argument)
        assert argument.error is None
    else:
        with pytest.raises(RuntimeError, match=f"^{expected}$"):
            getattr(sim, outer)(argument)
    # Both work again afterwards (a refused access would raise here).
    getattr(sim, outer)(0)
    getattr(sim, inner)(1)
