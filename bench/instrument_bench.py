"""Benchmarks of the instrument methods, as ratios measured in one run.

    python bench/instrument_bench.py [--side 1000] [--reps 7] [--smoke]

In one process, on a side x side 2D cluster state (10^6 qubits by
default, built with `from_graph`), with the cyclic garbage collector off
and each loop timed by the thread's CPU time (so other load on a shared
machine counts as little as it can), every repetition times, one after the
other:

  - the interpreter's two-argument call floor: `operator.is_(a, b)` in a
    loop over prepared pairs;
  - `expectation(p)` of weight-4 products at random places (the strings
    prepared before the clock starts);
  - `fidelity(bell, [a, b])` for random lattice neighbours a, b, and for
    random far-apart pairs;
  - `Ordavine.from_graph(n, edges)` from an (m, 2) int64 numpy array of
    the lattice, against `copy()` of the same register;
  - `Ordavine.from_stabilizers(strings)` of 1000 qubits, against Stim's
    `Tableau.from_stabilizers` on the same strings (converted to
    `stim.PauliString` before its clock starts), for a random stabilizer
    state and for a 25 x 40 cluster state.

Each ratio is taken within one repetition; the table gives medians over the
repetitions.  Prints a Markdown table.
"""

import argparse
import gc
import operator
import os
import random
import statistics
import sys
import time

# numpy's BLAS threads must not spin next to the timed loops.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")

import numpy as np  # noqa: E402

from ordavine import Ordavine  # noqa: E402


def lattice_edges(side):
    """The edges of a side x side lattice, rows then columns, as int64 pairs."""
    index = np.arange(side * side, dtype=np.int64).reshape(side, side)
    rows = np.stack([index[:, :-1].ravel(), index[:, 1:].ravel()], axis=1)
    columns = np.stack([index[:-1, :].ravel(), index[1:, :].ravel()], axis=1)
    return np.concatenate([rows, columns])


def clock(function):
    """CPU seconds of this thread spent in function()."""
    start = time.thread_time()
    function()
    return time.thread_time() - start


def per_call_loops(sim, side, calls, rng):
    n = side * side
    inner = [rng.randrange(side + 1, n - side - 1) for _ in range(calls)]
    products = [f"X{q}*Z{q + 1}*Y{q + side}*Z{q - 1}" for q in inner]
    neighbours = [[q, q + 1] for q in inner]
    far = [[q, rng.randrange(n)] for q in inner]
    far = [pair if pair[0] != pair[1] else [pair[0], (pair[0] + 1) % n] for pair in far]
    bell = Ordavine(2)
    bell.h(0)
    bell.cx(0, 1)
    pairs = [(object(), object()) for _ in range(calls)]
    is_ = operator.is_
    expectation = sim.expectation
    fidelity = sim.fidelity

    def floor():
        for a, b in pairs:
            is_(a, b)

    def expectations():
        for p in products:
            expectation(p)

    def near_fidelities():
        for qubits in neighbours:
            fidelity(bell, qubits)

    def far_fidelities():
        for qubits in far:
            fidelity(bell, qubits)

    return {"floor": floor, "expectation": expectations,
            "fidelity_near": near_fidelities, "fidelity_far": far_fidelities}


def stabilizer_cases(stim):
    cases = {"random": [str(s) for s in stim.Tableau.random(1000).to_stabilizers()]}
    cluster = Ordavine.from_graph(1000, [(r * 40 + c, r * 40 + c + 1) for r in range(25) for c in range(39)]
                                  + [(r * 40 + c, (r + 1) * 40 + c) for r in range(24) for c in range(40)])
    cases["cluster"] = cluster.stabilizers()
    return cases


def run(side, reps, calls, with_stim):
    rng = random.Random(2024)
    edges = lattice_edges(side)
    n = side * side
    sim = Ordavine.from_graph(n, edges)
    loops = per_call_loops(sim, side, calls, rng)
    stim = None
    if with_stim:
        import stim
        cases = stabilizer_cases(stim)
        stim_inputs = {k: [stim.PauliString(s) for s in v] for k, v in cases.items()}

    samples = {}

    def add(key, value):
        samples.setdefault(key, []).append(value)

    gc.disable()
    try:
        for _ in range(reps):
            times = {key: clock(loop) / calls for key, loop in loops.items()}
            for key, seconds in times.items():
                add(key + "_ns", seconds * 1e9)
                if key != "floor":
                    add(key + "_ratio", seconds / times["floor"])
            built = clock(lambda: Ordavine.from_graph(n, edges))
            copied = clock(sim.copy)
            add("from_graph_ms", built * 1e3)
            add("copy_ms", copied * 1e3)
            add("from_graph_ratio", built / copied)
            if stim is not None:
                for key, strings in cases.items():
                    ours = clock(lambda: Ordavine.from_stabilizers(strings))
                    theirs = clock(lambda: stim.Tableau.from_stabilizers(stim_inputs[key]))
                    with_parsing = clock(lambda: stim.Tableau.from_stabilizers(
                        [stim.PauliString(s) for s in strings]))
                    add(f"stab_{key}_ours_ms", ours * 1e3)
                    add(f"stab_{key}_stim_ms", theirs * 1e3)
                    add(f"stab_{key}_stim_parsing_ms", with_parsing * 1e3)
                    add(f"stab_{key}_ratio", theirs / ours)
            gc.collect()
    finally:
        gc.enable()
    return {key: statistics.median(values) for key, values in samples.items()}


def table(result, side, reps, calls, with_stim):
    n = side * side
    lines = [
        f"Instrument methods on a {side} x {side} cluster ({n:,} qubits), {reps} repetitions, "
        f"{calls} calls per loop; medians of per-repetition values (thread CPU time).",
        "",
        "| Call | time | ratio | target |",
        "|---|---:|---:|---|",
        f"| floor: `operator.is_(a, b)` | {result['floor_ns']:.1f} ns | 1 | |",
        f"| `expectation` of a weight-4 product | {result['expectation_ns']:.0f} ns | "
        f"{result['expectation_ratio']:.1f}x floor | at most 20x |",
        f"| `fidelity(bell, [a, b])`, lattice neighbours | {result['fidelity_near_ns']:.0f} ns | "
        f"{result['fidelity_near_ratio']:.1f}x floor | at most 20x |",
        f"| `fidelity(bell, [a, b])`, far apart | {result['fidelity_far_ns']:.0f} ns | "
        f"{result['fidelity_far_ratio']:.1f}x floor | |",
        f"| `from_graph` ({n:,} qubits, {2 * n - 2 * side:,} edges, int64 array) | "
        f"{result['from_graph_ms']:.1f} ms | {result['from_graph_ratio']:.2f}x `copy()` "
        f"({result['copy_ms']:.1f} ms) | at most 3x |",
    ]
    if with_stim:
        for key, label in (("random", "a random state"), ("cluster", "a 25 x 40 cluster")):
            lines.append(
                f"| `from_stabilizers`, 1000 qubits, {label} | {result[f'stab_{key}_ours_ms']:.1f} ms | "
                f"Stim {result[f'stab_{key}_stim_ms']:.1f} ms "
                f"({result[f'stab_{key}_stim_parsing_ms']:.1f} ms with `PauliString` parsing): "
                f"{result[f'stab_{key}_ratio']:.1f}x faster | faster than Stim |")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--side", type=int, default=1000)
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--calls", type=int, default=20000)
    parser.add_argument("--smoke", action="store_true", help="tiny sizes, to check that it runs")
    args = parser.parse_args(argv)
    if args.smoke:
        args.side, args.reps, args.calls = 20, 1, 50
    try:
        import stim  # noqa: F401
        with_stim = True
    except ImportError:
        with_stim = False
    result = run(args.side, args.reps, args.calls, with_stim)
    print(table(result, args.side, args.reps, args.calls, with_stim))
    return 0


if __name__ == "__main__":
    sys.exit(main())
