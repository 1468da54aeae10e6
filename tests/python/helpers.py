"""Helpers shared by the Python tests of ``ordavine``."""

import platform

import pytest

IS_PYPY = platform.python_implementation() == "PyPy"

# PyPy's C-API layer lets any extension type be weakly referenced and be
# tracked by its collector whatever its flags say, and it drops text
# signatures.  Checks of those rules run on CPython only.
cpython_only = pytest.mark.skipif(
    IS_PYPY,
    reason="PyPy's C-API layer ignores this type flag / drops text signatures",
)

# Parameter names of every method of Ordavine, in declaration order.  Methods
# that are not built yet are skipped by `method_or_skip`.
SINGLE_QUBIT_GATES = ["x", "y", "z", "h", "s", "sdag"]
TWO_QUBIT_GATES = ["cz", "cx", "xcx", "ycx", "xcz", "ycz", "cy", "xcy", "ycy"]
MEASUREMENTS = ["measure_x", "measure_y", "measure_z"]
METHOD_PARAMETERS = {
    **{name: ("node",) for name in SINGLE_QUBIT_GATES},
    **{name: ("control", "target") for name in TWO_QUBIT_GATES},
    **{name: ("qubit",) for name in MEASUREMENTS},
    "get_entangled_group": ("qubit",),
    "peek_measure_set": ("qubits",),
}
ALL_METHODS = list(METHOD_PARAMETERS)
# Methods whose parameters are all qubit indices (peek takes a set).
INDEX_METHODS = [m for m in ALL_METHODS if m != "peek_measure_set"]
READ_ONLY_METHODS = ["get_entangled_group", "peek_measure_set"]
MUTATING_METHODS = [m for m in ALL_METHODS if m not in READ_ONLY_METHODS]


def method_or_skip(sim, name):
    """The bound method `name` of `sim`, skipping the test when it does not exist yet."""
    if not hasattr(type(sim), name):
        pytest.skip(f"Ordavine.{name} is not available in this build")
    return getattr(sim, name)


def catch_panic(call, *args, **kwargs):
    """Runs `call` and returns the BaseException it raised; fails if none.

    PanicException derives from BaseException only, so it has to be caught
    that way; anything that is an Exception is reported as a test failure.
    """
    try:
        call(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - a panic must not be an Exception
        pytest.fail(f"expected PanicException, got {type(error).__name__}: {error}")
    except BaseException as error:  # noqa: BLE001
        if type(error).__name__ != "PanicException":
            raise
        return error
    pytest.fail("expected PanicException, nothing was raised")


def assert_ran(result):
    """Asserts that a run_python result exited cleanly, showing its output if not."""
    assert result.returncode == 0, (
        f"exit code {result.returncode}\n--- stdout ---\n{result.stdout}"
        f"\n--- stderr ---\n{result.stderr}"
    )


def gf2_rank(rows):
    """Rank over GF(2) of rows given as Python ints."""
    pivots = {}
    for row in rows:
        while row:
            top = row.bit_length() - 1
            if top not in pivots:
                pivots[top] = row
                break
            row ^= pivots[top]
    return len(pivots)
