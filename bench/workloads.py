"""The benchmark workloads, one workload on one implementation per process.

bench/run.py starts this file in a fresh interpreter for every measurement:

    python bench/workloads.py '{"workload": "cluster1d", "impl": "ours", "n": 100000}'

The child prints "progress {json}" lines while it works (so that a run
stopped at the time budget still says how far it got) and one final
"result {json}" line.  Every timed section runs with the cyclic garbage
collector disabled, as `timeit` does; nothing is allocated in the timed loops
except the objects the calls themselves return.

Implementations (`impl`):
  ours          ordavine.Ordavine, one Python call per gate or measurement
  stim          stim.TableauSimulator, one Python call per gate or measurement
  stim-circuit  stim.TableauSimulator().do_circuit(circuit), the whole
                workload as one stim.Circuit built before the clock starts
  stim-sampler  circuit.compile_sampler().sample(1), the same circuit

Kept compatible with Python 3.9 (PyPy) and free of third-party imports
beyond the implementation under test.
"""

import gc
import json
import operator
import os
import platform
import random
import resource
import sys
import time

perf = time.perf_counter


def emit(kind, data):
    sys.stdout.write(kind + " " + json.dumps(data) + "\n")
    sys.stdout.flush()


def max_rss_bytes():
    # Linux reports ru_maxrss in KiB.
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


class Progress:
    """Rate-limited progress lines: at most one per `interval` seconds."""

    def __init__(self, interval=1.0):
        self.interval = interval
        self.last = perf()

    def __call__(self, phase, done, total, started):
        now = perf()
        if now - self.last >= self.interval:
            self.last = now
            emit("progress", {"phase": phase, "done": done, "total": total,
                              "elapsed": now - started})


# --- implementations ---------------------------------------------------------


def new_ours(n):
    import ordavine

    return ordavine.Ordavine(n)


def new_stim(n):
    import stim

    sim = stim.TableauSimulator()
    sim.set_num_qubits(n)
    return sim


def implementation_info(impl):
    info = {
        "python": sys.version.split()[0],
        "implementation": platform.python_implementation(),
        "executable": sys.executable,
    }
    if impl == "ours":
        import ordavine

        info["module"] = getattr(ordavine, "__file__", "?")
    elif impl.startswith("stim"):
        import stim

        info["stim"] = stim.__version__
        info["stim_backend"] = type(stim.TableauSimulator()).__module__
    return info


# --- per-call cost -----------------------------------------------------------
#
# Every case times the same loop shape over pre-built lists of arguments:
#     for q in chunk: f(q)           (one argument)
#     for a, b in chunk: f(a, b)     (two arguments)
# with f a local name bound to the callee.  The floor loops call {}.get and
# operator.is_ in exactly the same loops.


def loop1(f, chunks, cap):
    calls = 0
    t0 = perf()
    for chunk in chunks:
        for q in chunk:
            f(q)
        calls += len(chunk)
        if perf() - t0 > cap:
            break
    return perf() - t0, calls


def loop2(f, chunks, cap):
    calls = 0
    t0 = perf()
    for chunk in chunks:
        for a, b in chunk:
            f(a, b)
        calls += len(chunk)
        if perf() - t0 > cap:
            break
    return perf() - t0, calls


def loop1_empty(chunks, cap):
    calls = 0
    t0 = perf()
    for chunk in chunks:
        for q in chunk:
            pass
        calls += len(chunk)
        if perf() - t0 > cap:
            break
    return perf() - t0, calls


def loop_h_then_measure(h, m, chunks, cap):
    calls = 0
    t0 = perf()
    for chunk in chunks:
        for q in chunk:
            h(q)
            m(q)
        calls += len(chunk)
        if perf() - t0 > cap:
            break
    return perf() - t0, calls


def chunked(items, size):
    return [items[i:i + size] for i in range(0, len(items), size)]


def cyclic(values, count):
    reps = count // len(values) + 1
    return (values * reps)[:count]


def build_cluster1d(sim, n):
    h, cz = sim.h, sim.cz
    for q in range(n):
        h(q)
    for q in range(n - 1):
        cz(q, q + 1)


def build_blocks(sim, n, size=4):
    """Small clusters: chains of `size` qubits, qubits in |+> with CZs."""
    h, cz = sim.h, sim.cz
    for q in range(n):
        h(q)
    for q in range(n - 1):
        if (q + 1) % size:
            cz(q, q + 1)


def build_even_ring_odd_leaves(sim, n):
    """A 1D cluster on the even qubits; the odd qubits in |+>, unattached."""
    h, cz = sim.h, sim.cz
    for q in range(n):
        h(q)
    for q in range(0, n - 2, 2):
        cz(q, q + 2)


def percall(job):
    """Per-call cost of each method kind on a register of n qubits."""
    impl, n = job["impl"], job["n"]
    calls_target = job.get("calls", 100000)
    cap = job.get("case_cap", 2.0)  # seconds per case, all passes together
    min_passes = job.get("min_passes", 5)
    chunk_size = job.get("chunk", 256)
    new = new_ours if impl == "ours" else new_stim

    qs_all = list(range(n))
    qs = chunked(cyclic(qs_all, calls_target), chunk_size)
    disjoint = [(2 * i, 2 * i + 1) for i in range(n // 2)]
    pairs = chunked(cyclic(disjoint, calls_target), chunk_size)
    # A random measurement costs Stim O(n^2): small chunks, so that the time
    # cap is checked often enough.
    sweep = chunked(qs_all, chunk_size if impl == "ours" else 4)

    results = {}

    def run_case(name, fresh, timed, consuming=False):
        """Times `timed(state)` in passes; returns the median ns per call.

        `fresh()` builds the state before each pass when the calls consume
        it (measurements), else once."""
        per_call = []
        total_calls = 0
        spent = 0.0
        state = None if consuming else fresh()
        while True:
            if consuming:
                state = None
                state = fresh()
            gc.disable()
            elapsed, calls = timed(state, max(cap - spent, 0.0))
            gc.enable()
            spent += elapsed
            total_calls += calls
            per_call.append(elapsed / calls * 1e9)
            done_enough = total_calls >= calls_target and len(per_call) >= min_passes
            if done_enough or spent >= cap:
                break
        per_call.sort()
        results[name] = {
            "ns": per_call[len(per_call) // 2],
            "passes": len(per_call),
            "calls": total_calls,
        }

    # The interpreter's floor, in this very process.
    d = {}
    run_case("floor_get", lambda: d.get, lambda f, c: loop1(f, qs, c))
    run_case("floor_is", lambda: operator.is_, lambda f, c: loop2(f, pairs, c))
    run_case("empty_loop", lambda: None, lambda f, c: loop1_empty(qs, c))

    def plain():
        return new(n)

    def blocks():
        sim = new(n)
        build_blocks(sim, n)
        return sim

    def cluster():
        sim = new(n)
        build_cluster1d(sim, n)
        return sim

    def ring_leaves():
        sim = new(n)
        build_even_ring_odd_leaves(sim, n)
        return sim

    def all_plus():
        sim = new(n)
        for q in range(n):
            sim.h(q)
        return sim

    ring_to_leaf = chunked(cyclic([(2 * i, 2 * i + 1) for i in range(n // 2)], calls_target),
                           chunk_size)

    run_case("h", plain, lambda s, c: loop1(s.h, qs, c))
    run_case("cz_sparse", cluster, lambda s, c: loop2(s.cz, pairs, c))
    run_case("cx_sparse", ring_leaves, lambda s, c: loop2(s.cx, ring_to_leaf, c))
    if impl == "ours":
        run_case("measure_determined", plain, lambda s, c: loop1(s.measure_z, qs, c))
        run_case("measure_random_isolated", plain,
                 lambda s, c: loop1(s.measure_x, sweep, c), consuming=True)
        run_case("measure_z_cluster", cluster,
                 lambda s, c: loop1(s.measure_z, sweep, c), consuming=True)
        run_case("measure_x_cluster", cluster,
                 lambda s, c: loop1(s.measure_x, sweep, c), consuming=True)
        run_case("entangled_group_small", blocks,
                 lambda s, c: loop1(s.get_entangled_group, qs, c))
        peek_sets = chunked(cyclic([{q} for q in qs_all], min(calls_target, 20000)), chunk_size)
        run_case("peek_small", blocks, lambda s, c: loop1(s.peek_measure_set, peek_sets, c))
    else:
        # Stim measures in Z; a |+> qubit gives the random isolated case, and
        # an X measurement is H then a Z measurement (two calls).
        run_case("measure_determined", plain, lambda s, c: loop1(s.measure, qs, c))
        run_case("measure_random_isolated", all_plus,
                 lambda s, c: loop1(s.measure, sweep, c), consuming=True)
        run_case("measure_z_cluster", cluster,
                 lambda s, c: loop1(s.measure, sweep, c), consuming=True)
        run_case("measure_x_cluster", cluster,
                 lambda s, c: loop_h_then_measure(s.h, s.measure, sweep, c), consuming=True)
    return {"cases": results}


# --- scaling workloads: cluster states and GHZ ---------------------------------


def lattice_side(n):
    side = int(round(n ** 0.5))
    return side, side * side


def build_cluster(sim, n, dims, side):
    """h on every qubit, then cz along the line (dims 1) or along the rows
    and then the columns of a side x side lattice (dims 2)."""
    h, cz = sim.h, sim.cz
    for q in range(n):
        h(q)
    if dims == 1:
        for q in range(n - 1):
            cz(q, q + 1)
    else:
        for base in range(0, n, side):
            for q in range(base, base + side - 1):
                cz(q, q + 1)
        for q in range(n - side):
            cz(q, q + side)


def diagonal_sweep(side):
    """The qubits of a side x side lattice, anti-diagonal by anti-diagonal."""
    for d in range(2 * side - 1):
        for r in range(max(0, d - side + 1), min(d, side - 1) + 1):
            yield r * side + (d - r)


def measure_x_sweeping(sim, n, side, progress, t0):
    """measure_x on every qubit of the lattice: a diagonal sweep in which
    each qubit is followed by its first neighbour at that moment.  The X
    measurement works about the measured qubit's first neighbour; taking
    that neighbour next keeps every degree at most 4, whereas row by row
    the degrees along the measured front grow with the side length."""
    mx, neighbors = sim.measure_x, sim.get_neighbors
    measured = bytearray(n)
    count = 0
    for q in diagonal_sweep(side):
        if measured[q]:
            continue
        first = neighbors(q)
        mx(q)
        measured[q] = 1
        count += 1
        if first:
            b = first[0]  # joined to q, so not measured yet
            mx(b)
            measured[b] = 1
            count += 1
        if count & 1023 < 2:
            progress("measure", count, n, t0)


def cluster_per_call(job, dims):
    """h on all, cz along the lattice, then measure_x on every qubit."""
    impl, n = job["impl"], job["n"]
    order = job.get("order", "sweep")
    side = None
    if dims == 2:
        side, n = lattice_side(n)
    progress = Progress()
    chunk = 1024 if impl == "ours" else 16
    phases = {}
    gc.disable()
    t0 = perf()
    sim = new_ours(n) if impl == "ours" else new_stim(n)
    t1 = perf()
    phases["alloc"] = t1 - t0
    emit("progress", {"phase": "alloc", "done": n, "total": n, "elapsed": t1 - t0})
    build_cluster(sim, n, dims, side)
    t2 = perf()
    phases["build"] = t2 - t1
    emit("progress", {"phase": "build", "done": n, "total": n, "elapsed": t2 - t0})
    if impl == "ours" and dims == 2 and order == "sweep":
        measure_x_sweeping(sim, n, side, progress, t0)
    elif impl == "ours":
        mx = sim.measure_x
        for start in range(0, n, chunk):
            for q in range(start, min(start + chunk, n)):
                mx(q)
            progress("measure", min(start + chunk, n), n, t0)
    else:
        h, m = sim.h, sim.measure
        for start in range(0, n, chunk):
            for q in range(start, min(start + chunk, n)):
                h(q)
                m(q)
            progress("measure", min(start + chunk, n), n, t0)
    t3 = perf()
    gc.enable()
    phases["measure"] = t3 - t2
    return {"seconds": t3 - t0, "phases": phases, "n": n}


def ghz_per_call(job):
    """h(0), then cx(0, i) for every other qubit."""
    impl, n = job["impl"], job["n"]
    progress = Progress()
    gc.disable()
    t0 = perf()
    sim = new_ours(n) if impl == "ours" else new_stim(n)
    t1 = perf()
    sim.h(0)
    cx = sim.cx
    for start in range(1, n, 16):
        for i in range(start, min(start + 16, n)):
            cx(0, i)
        progress("build", min(start + 16, n), n, t0)
    t2 = perf()
    gc.enable()
    return {"seconds": t2 - t0, "phases": {"alloc": t1 - t0, "build": t2 - t1}, "n": n}


# --- random Clifford circuits ---------------------------------------------------

SINGLE = ("h", "s", "sdag", "x", "y", "z")
STIM_SINGLE = {"h": "H", "s": "S", "sdag": "S_DAG", "x": "X", "y": "Y", "z": "Z"}


def random_circuit(n, depth, seed):
    """Layers of (single-qubit gates, disjoint two-qubit gates), then bases."""
    rng = random.Random(seed)
    layers = []
    for _ in range(depth):
        singles = [(SINGLE[rng.randrange(6)], q) for q in range(n)]
        order = list(range(n))
        rng.shuffle(order)
        pairs = [("cx" if rng.randrange(2) else "cz", order[i], order[i + 1])
                 for i in range(0, n - 1, 2)]
        layers.append((singles, pairs))
    bases = [("xyz"[rng.randrange(3)], q) for q in range(n)]
    return layers, bases


def random_per_call(job):
    impl, n = job["impl"], job["n"]
    layers, bases = random_circuit(n, job.get("depth", 100), job.get("seed", 2024))
    progress = Progress()
    sim = new_ours(n) if impl == "ours" else new_stim(n)
    if impl == "ours":
        methods = {name: getattr(sim, name) for name in SINGLE + ("cx", "cz")}
        measure = {"x": sim.measure_x, "y": sim.measure_y, "z": sim.measure_z}
        bound = [([(methods[g], q) for g, q in singles], [(methods[g], a, b) for g, a, b in pairs])
                 for singles, pairs in layers]
        meas = [(measure[b], (), q) for b, q in bases]
    else:
        methods = {name: getattr(sim, "s_dag" if name == "sdag" else name)
                   for name in SINGLE + ("cx", "cz")}
        # X: H then Z; Y: S_DAG, H then Z.
        pre = {"x": (sim.h,), "y": (sim.s_dag, sim.h), "z": ()}
        bound = [([(methods[g], q) for g, q in singles], [(methods[g], a, b) for g, a, b in pairs])
                 for singles, pairs in layers]
        meas = [(sim.measure, pre[b], q) for b, q in bases]
    del layers
    total_gates = len(bound) * (n + n // 2)
    gc.disable()
    t0 = perf()
    done = 0
    for singles, pairs in bound:
        for f, q in singles:
            f(q)
        for f, a, b in pairs:
            f(a, b)
        done += len(singles) + len(pairs)
        progress("gates", done, total_gates, t0)
    t1 = perf()
    for m, before, q in meas:
        for g in before:
            g(q)
        m(q)
    t2 = perf()
    gc.enable()
    return {"seconds": t2 - t0, "phases": {"gates": t1 - t0, "measure": t2 - t1}, "n": n}


# --- the same workloads as one stim.Circuit --------------------------------------


def stim_circuit_for(job):
    """The workload as one stim.Circuit (built from text, before the clock)."""
    import stim

    workload, n = job["workload"], job["n"]
    lines = []
    if workload == "cluster1d":
        lines.append("H " + " ".join(map(str, range(n))))
        lines.append("CZ " + " ".join("%d %d" % (q, q + 1) for q in range(n - 1)))
        lines.append("MX " + " ".join(map(str, range(n))))
    elif workload == "cluster2d":
        side, n = lattice_side(n)
        lines.append("H " + " ".join(map(str, range(n))))
        edges = ["%d %d" % (q, q + 1) for base in range(0, n, side)
                 for q in range(base, base + side - 1)]
        edges += ["%d %d" % (q, q + side) for q in range(n - side)]
        lines.append("CZ " + " ".join(edges))
        lines.append("MX " + " ".join(map(str, range(n))))
    elif workload == "ghz":
        lines.append("H 0")
        lines.append("CX " + " ".join("0 %d" % i for i in range(1, n)))
    elif workload == "random":
        layers, bases = random_circuit(n, job.get("depth", 100), job.get("seed", 2024))
        for singles, pairs in layers:
            for g, q in singles:
                lines.append("%s %d" % (STIM_SINGLE[g], q))
            for g, a, b in pairs:
                lines.append("%s %d %d" % (g.upper(), a, b))
        for b, q in bases:
            lines.append("%s %d" % ({"x": "MX", "y": "MY", "z": "M"}[b], q))
    else:
        raise ValueError("no circuit form for " + workload)
    return stim.Circuit("\n".join(lines)), n


def stim_batched(job):
    import stim

    t_setup = perf()
    circuit, n = stim_circuit_for(job)
    setup = perf() - t_setup
    emit("progress", {"phase": "run", "done": 0, "total": 1, "elapsed": setup})
    gc.disable()
    t0 = perf()
    if job["impl"] == "stim-circuit":
        sim = stim.TableauSimulator()
        sim.do_circuit(circuit)
    else:
        sampler = circuit.compile_sampler()
        sampler.sample(1)
    t1 = perf()
    gc.enable()
    return {"seconds": t1 - t0, "phases": {"run": t1 - t0}, "setup_seconds": setup, "n": n}


# --- peek on large registers ------------------------------------------------------


def peek_large(job):
    """peek_measure_set of a few qubits on a large cluster state."""
    n, dims = job["n"], job.get("dims", 1)
    k, calls = job.get("qubits", 4), job.get("calls", 5)
    side = None
    if dims == 2:
        side, n = lattice_side(n)
    sim = new_ours(n)
    t0 = perf()
    build_cluster(sim, n, dims, side)
    build = perf() - t0
    rss_before = max_rss_bytes()
    wanted = {(j * n) // (k + 1) for j in range(1, k + 1)}
    times = []
    gc.disable()
    for _ in range(calls):
        t = perf()
        sim.peek_measure_set(wanted)
        times.append(perf() - t)
    gc.enable()
    times.sort()
    return {"seconds": times[len(times) // 2], "phases": {"build": build},
            "calls": calls, "qubits": sorted(wanted), "n": n,
            "rss_before_peek": rss_before}


# --- entry point -------------------------------------------------------------------


def run(job):
    workload, impl = job["workload"], job["impl"]
    if workload == "percall":
        return percall(job)
    if impl in ("stim-circuit", "stim-sampler"):
        return stim_batched(job)
    if workload == "cluster1d":
        return cluster_per_call(job, 1)
    if workload == "cluster2d":
        return cluster_per_call(job, 2)
    if workload == "cluster2d_rows":
        return cluster_per_call(dict(job, order="rows"), 2)
    if workload == "ghz":
        return ghz_per_call(job)
    if workload == "random":
        return random_per_call(job)
    if workload == "peek":
        return peek_large(job)
    if workload == "sweep2d":
        import sweeps

        return sweeps.run_sweep(job, new_ours, build_cluster, lattice_side, measure_x_sweeping,
                                Progress())
    raise ValueError("unknown workload " + workload)


def main():
    job = json.loads(sys.argv[1])
    limit = job.get("mem_limit_bytes")
    if limit:
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    info = implementation_info(job["impl"])
    if job["impl"] == "ours":
        new_ours(1)
    elif job["impl"].startswith("stim"):
        new_stim(1)
    baseline = max_rss_bytes()
    try:
        result = run(job)
    except MemoryError:
        emit("result", {"error": "out of memory", "info": info})
        return 3
    result["rss_baseline"] = baseline
    result["rss_peak"] = max_rss_bytes()
    result["info"] = info
    emit("result", result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
