"""Fixtures for the Python tests of ``ordavine``."""

import os
import subprocess
import sys
import textwrap

import pytest

from helpers import catch_panic

try:
    from hypothesis import HealthCheck, settings
except ImportError:  # the tests that need hypothesis skip themselves
    pass
else:
    # No example may fail for taking long: how long one takes depends on the
    # machine and its load, never on the code under test.
    settings.register_profile(
        "any-machine",
        deadline=None,
        suppress_health_check=[HealthCheck.too_slow],
    )
    settings.load_profile("any-machine")


def pytest_configure(config):
    # pytest-xdist registers this mark itself; runs without it must know it too.
    config.addinivalue_line(
        "markers", "xdist_group(name): tests that run in one worker under --dist loadgroup")


@pytest.fixture(scope="session")
def panic_type():
    """The PanicException type, taken from a caught instance."""
    import ordavine

    return type(catch_panic(ordavine.Ordavine(0).x, 0))


@pytest.fixture
def run_python(tmp_path):
    """Runs a Python snippet in a fresh process of the current interpreter.

    Returns the CompletedProcess with text stdout and stderr.  `env` entries
    are added to the environment (a value of None removes the variable);
    ORDAVINE_BACKTRACE is removed unless given.
    """

    def run(code, env=None, timeout=120):
        environment = dict(os.environ)
        environment.pop("ORDAVINE_BACKTRACE", None)
        for key, value in (env or {}).items():
            if value is None:
                environment.pop(key, None)
            else:
                environment[key] = value
        script = tmp_path / "snippet.py"
        script.write_text(textwrap.dedent(code))
        return subprocess.run(
            [sys.executable, str(script)],
            cwd=str(tmp_path),
            env=environment,
            capture_output=True,
            text=True,
            timeout=timeout,
        )

    return run
