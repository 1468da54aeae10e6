"""Benchmarks of the bulk export calls and the cut entropy.

    python bench/export_bench.py [--quick | --smoke]      # prints a Markdown section

bench/run.py calls `section()` and puts its lines into the report.  Every
measurement runs in a fresh child process (this file with --child JOB):
the child builds a 2D cluster state (h on every qubit, cz along rows and
columns, side x side qubits), then calls one method repeatedly, with the
cyclic garbage collector off, for at least MIN_SECONDS, and prints the
mean time per call.  The table gives the median over the child processes
with [min-max].  The Stim column times `canonical_stabilizers()` of a
stim.TableauSimulator holding the same state, built by `do_circuit`.
"""

import gc
import json
import statistics
import subprocess
import sys
import time

MIN_SECONDS = 0.2
# (method, side of the cluster) per mode; 10^4 qubits is the 100 x 100 cluster.
PLANS = {
    "smoke": {"reps": 1, "cases": [("entanglement_entropy", 4), ("vops", 4), ("edges", 4),
                                   ("edges_numpy", 4), ("stabilizer", 4), ("stabilizers", 4),
                                   ("stim_canonical_stabilizers", 4)]},
    "quick": {"reps": 3, "cases": [("entanglement_entropy", 100), ("vops", 100), ("edges", 100),
                                   ("edges_numpy", 100), ("stabilizer", 100),
                                   ("stabilizers", 50), ("stim_canonical_stabilizers", 50)]},
    "full": {"reps": 5, "cases": [("entanglement_entropy", 100), ("entanglement_entropy", 1000),
                                  ("vops", 100), ("vops", 1000), ("edges", 100), ("edges", 1000),
                                  ("edges_numpy", 1000), ("stabilizer", 1000),
                                  ("stabilizers", 50), ("stabilizers", 90),
                                  ("stim_canonical_stabilizers", 50)]},
}
# The calls whose cost grows with the edges (the others: one qubit, or n^2 text).
LINEAR = ("entanglement_entropy", "vops", "edges", "edges_numpy")
DESCRIPTIONS = {
    "entanglement_entropy": "`entanglement_entropy(top half of the rows)`",
    "vops": "`vops()`",
    "edges": "`edges()`",
    "edges_numpy": "`numpy.frombuffer(e, dtype=e.format).reshape(-1, 2)` of `e = edges()`",
    "stabilizer": "`stabilizer(q)`, one call (q in turn)",
    "stabilizers": "`stabilizers()`",
    "stim_canonical_stabilizers": "Stim: `canonical_stabilizers()` of the same state",
}


def build_ours(side):
    from ordavine import Ordavine

    n = side * side
    sim = Ordavine(n)
    for q in range(n):
        sim.h(q)
    for q in range(n):
        if q % side + 1 < side:
            sim.cz(q, q + 1)
        if q + side < n:
            sim.cz(q, q + side)
    return sim


def build_stim(side):
    import stim

    n = side * side
    circuit = stim.Circuit()
    circuit.append("H", range(n))
    for q in range(n):
        if q % side + 1 < side:
            circuit.append("CZ", [q, q + 1])
        if q + side < n:
            circuit.append("CZ", [q, q + side])
    simulator = stim.TableauSimulator()
    simulator.do_circuit(circuit)
    return simulator


def the_call(method, side):
    """A function of the call count `i` that makes one call."""
    if method == "stim_canonical_stabilizers":
        simulator = build_stim(side)
        return lambda i: simulator.canonical_stabilizers()
    sim = build_ours(side)
    n = side * side
    if method == "entanglement_entropy":
        half = set(range((side // 2) * side))
        return lambda i: sim.entanglement_entropy(half)
    if method == "edges_numpy":
        import numpy

        def to_array(i):
            e = sim.edges()
            return numpy.frombuffer(e, dtype=e.format).reshape(-1, 2)

        return to_array
    if method == "stabilizer":
        return lambda i: sim.stabilizer(i % n)
    return lambda i, bound=getattr(sim, method): bound()


def child(job):
    call = the_call(job["method"], job["side"])
    gc.disable()
    calls, start = 0, time.perf_counter()
    while True:
        call(calls)
        calls += 1
        elapsed = time.perf_counter() - start
        if elapsed >= MIN_SECONDS:
            break
    gc.enable()
    print(json.dumps({"seconds_per_call": elapsed / calls, "calls": calls}))


def measure(python, method, side, timeout=600):
    proc = subprocess.run([python, __file__, "--child", json.dumps({"method": method, "side": side})],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, timeout=timeout)
    if proc.returncode != 0:
        last = (proc.stderr.strip().splitlines() or ["exit %d" % proc.returncode])[-1]
        return None, last
    return json.loads(proc.stdout.strip().splitlines()[-1])["seconds_per_call"], None


def fmt(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g ns" % (seconds / 1e-9)


def section(python, mode, log=lambda text: None):
    """The report section as a list of Markdown lines."""
    plan = PLANS[mode]
    lines = ["", "## Bulk export and entanglement entropy", "",
             "2D cluster states of side x side qubits; time per call, median over %d fresh "
             "processes [min–max]; per edge: divided by the 2·side·(side−1) edges." % plan["reps"],
             "", "| call | qubits | time per call | per edge |", "|---|---:|---:|---:|"]
    for method, side in plan["cases"]:
        times, error = [], None
        for _ in range(plan["reps"]):
            seconds, error = measure(python, method, side)
            if seconds is None:
                break
            times.append(seconds)
        n, edges = side * side, 2 * side * (side - 1)
        if times:
            median = statistics.median(times)
            cell = "%s [%s–%s]" % (fmt(median), fmt(min(times)), fmt(max(times)))
            per_edge = fmt(median / edges) if method in LINEAR else "—"
        else:
            cell, per_edge = "not run: %s" % error, "—"
        log("export %s side=%d: %s" % (method, side, cell))
        lines.append("| %s | %d | %s | %s |" % (DESCRIPTIONS[method], n, cell, per_edge))
    return lines


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        child(json.loads(sys.argv[2]))
    else:
        mode = "quick" if "--quick" in sys.argv else "smoke" if "--smoke" in sys.argv else "full"
        print("\n".join(section(sys.executable, mode, log=lambda t: sys.stderr.write(t + "\n"))))
