"""Ctrl-C during long calls.  Each call runs in a child process whose
SIGALRM is wired to Python's Ctrl-C handler (``signal.default_int_handler``,
what SIGINT runs), armed half a second into the call.  A Python handler only
runs when the call polls for signals, so the child sees
``KeyboardInterrupt`` only if the call polls as it works; uninterrupted,
every one of these calls would run for hours or forever, and the child is
given a minute.  Then the child checks what the call left behind."""

import subprocess
import sys
import textwrap

import pytest

FOREVER = r"REPEAT 9223372036854775807 {\nH 0\n}"

# A register whose half cut keeps a core of about 10^5 x 10^5 after leaf
# removal: its entropy takes far longer than the bound below.
RANDOM_GRAPH = """
import array, random
n, m = 200_000, 1_200_000
rng = random.Random(3)
codes = set()
while len(codes) < m:
    a, b = rng.randrange(n), rng.randrange(n)
    if a != b:
        codes.add(min(a, b) * n + max(a, b))
sim = ordavine.Ordavine.from_graph(n, array.array("L", [v for c in codes for v in divmod(c, n)]))
half = set(range(n // 2))
"""

# name: (set-up, the call, what must hold after it, printed as True/False)
CALLS = {
    "run": ("sim = ordavine.Ordavine(1)", f"sim.run('{FOREVER}')",
            # the register holds the state after whole steps, and is free again
            "sim.get_vop(0) in (0, 10) and sim.run('H 0\\nH 0\\nM 0') in (b'\\x00', b'\\x01')"),
    "sample": ("", f"ordavine.sample('{FOREVER}', 1)", "True"),
    "sample_detectors": ("", f"ordavine.sample_detectors('{FOREVER}', 1)", "True"),
    # one shot, one batch, but a noise channel met 10^10 times
    "sample_noise": ("", "ordavine.sample('REPEAT 10000000000 {\\nX_ERROR(0.01) 0\\n}', 1)", "True"),
    # the reference run on a register is the long part
    "sample_reference": ("", "ordavine.sample('REPEAT 10000000000000 {\\nH 0\\n}\\nM 0', 1)", "True"),
    # the compiled samplers: the reference run at compile time, and shots
    # on four threads (the calling thread polls, the others follow it)
    "compile_sampler": ("c = ordavine.Circuit('REPEAT 10000000000000 {\\nH 0\\n}\\nM 0')",
                        "c.compile_sampler(seed=1)", "True"),
    "compiled_sample_threads": (
        "s = ordavine.Circuit('REPEAT 10000000 {\\nX_ERROR(0.01) 0\\n}\\nM 0').compile_sampler(seed=1)",
        "s.sample(1_000_000, bit_packed=True, num_threads=4)", "True"),
    "entanglement_entropy": (RANDOM_GRAPH, "sim.entanglement_entropy(half)", "sim.num_qubits == 200_000"),
}

CHILD = """
import signal, ordavine
{setup}
signal.signal(signal.SIGALRM, signal.default_int_handler)
signal.setitimer(signal.ITIMER_REAL, 0.5)
try:
    {call}
    print("finished")
except KeyboardInterrupt:
    print("interrupted", {after})
"""


@pytest.mark.parametrize("name", list(CALLS))
def test_ctrl_c_stops_a_long_call(name):
    setup, call, after = CALLS[name]
    child = CHILD.format(setup=textwrap.dedent(setup), call=call, after=after)
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=60)
    assert result.stdout.split() == ["interrupted", "True"], result.stdout + result.stderr


def test_a_handlers_own_exception_is_what_the_call_raises():
    child = f"""
import signal, ordavine
def on_alarm(signum, frame):
    raise TimeoutError("alarm during the call")
signal.signal(signal.SIGALRM, on_alarm)
sim = ordavine.Ordavine(1)
for call in (lambda: sim.run('{FOREVER}'), lambda: ordavine.sample('{FOREVER}', 1)):
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    try:
        call()
    except TimeoutError as error:
        print(error)
"""
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=60)
    assert result.stdout.splitlines() == ["alarm during the call"] * 2, result.stdout + result.stderr


def test_a_handler_that_uses_the_running_register_meets_its_borrow():
    child = f"""
import signal, ordavine
sim = ordavine.Ordavine(1)
def on_alarm(signum, frame):
    sim.h(0)
signal.signal(signal.SIGALRM, on_alarm)
signal.setitimer(signal.ITIMER_REAL, 0.3)
try:
    sim.run('{FOREVER}')
except RuntimeError as error:
    print(error, sim.get_vop(0) in (0, 10))
"""
    result = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=60)
    assert result.stdout.strip() == "Already borrowed True", result.stdout + result.stderr
