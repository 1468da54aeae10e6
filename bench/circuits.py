#!/usr/bin/env python3
"""Whole-circuit benchmarks: one `run` or `sample` call against the same
work done gate by gate, against Stim, and the reader's speed.

    python bench/circuits.py [--quick | --smoke] [--python PATH ...] [--only NAMES] [--out FILE.md]

Each workload is timed in this process (medians of several repetitions) for
every interpreter given (a child process per interpreter); the result is a
Markdown section of ratios.  bench/run.py appends it to its report.

Workloads:
  cluster1d   H on n qubits, CZ chain, MX on all: `run(text)` (parse included)
              against the loop of h/cz/measure_x calls, and per gate.
  cluster2d   H, CZ on a square grid, M on all: `run(text)` against
              stim.TableauSimulator().do_circuit on the same text.
  surface     rotated surface code memory (Stim's generator, 0.1 % noise):
              sample_detectors against Stim's compiled detector sampler,
              per distance, to show where a frame sampler wins.
  parse       MB/s of the reader on the 1D cluster text (sample(text, 0):
              parse and one register allocation, no shots).
  targets     ns per target of one line of n targets in `run(text)`, line by
              line of the 1D cluster (I is a no-op: reading alone), with the
              register's allocation taken off.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

SIZES = {
    "smoke": {"cluster1d": [100], "cluster2d": [100], "surface": [3], "shots": 20, "reps": 1,
              "targets": 100},
    "quick": {"cluster1d": [10**4, 10**5], "cluster2d": [900, 2500], "surface": [3, 5],
              "shots": 1000, "reps": 3, "targets": 10**5},
    "full": {"cluster1d": [10**4, 10**5, 10**6], "cluster2d": [2500, 10**4, 10**6],
             "surface": [3, 5, 7], "shots": 10**4, "reps": 3, "targets": 10**6},
}
WORKLOADS = ("cluster1d", "cluster2d", "surface", "parse", "targets")
STIM_2D_LIMIT = 10**4  # the tableau grows as n^2: larger grids only for us


def timed(function, reps):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def cluster1d_text(n):
    chain = " ".join(f"{q} {q + 1}" for q in range(n - 1))
    everything = " ".join(map(str, range(n)))
    return f"H {everything}\nCZ {chain}\nMX {everything}\n"


def cluster2d_text(n):
    side = int(round(n ** 0.5))
    q = lambda r, c: r * side + c  # noqa: E731
    edges = [f"{q(r, c)} {q(r, c + 1)}" for r in range(side) for c in range(side - 1)]
    edges += [f"{q(r, c)} {q(r + 1, c)}" for r in range(side - 1) for c in range(side)]
    everything = " ".join(map(str, range(side * side)))
    return f"H {everything}\nCZ {' '.join(edges)}\nM {everything}\n"


def per_target(ordavine, n, reps):
    """ns per target of each line of the 1D cluster, run on its own (the
    lines before it included, their time taken off) and of the three
    single-qubit calls it replaces."""
    everything = " ".join(map(str, range(n)))
    chain = " ".join(f"{q} {q + 1}" for q in range(n - 1))
    lines = [("I (reading only)", f"I {everything}\n", n), ("H", f"H {everything}\n", n),
             ("CZ after H (per pair)", f"CZ {chain}\n", n - 1), ("MX after the chain", f"MX {everything}\n", n)]
    before = timed(lambda: ordavine.Ordavine(n), reps)
    rows, prefix = [], ""
    for label, line, count in lines:
        text = prefix + line
        seconds = timed(lambda: ordavine.Ordavine(n).run(text), reps)
        rows.append({"line": label, "targets": count, "seconds": seconds - before, "bytes": len(line)})
        if label.startswith("I"):
            continue  # the no-op line is not part of the cluster
        before, prefix = seconds, text
    return rows


def measure_here(mode, only=WORKLOADS):
    """Runs the chosen workloads in this interpreter; returns a dict of results."""
    import ordavine
    try:
        import stim
    except ImportError:
        stim = None
    cfg = SIZES[mode]
    reps = cfg["reps"]
    out = {"cluster1d": [], "cluster2d": [], "surface": [], "parse": [], "targets": []}

    for n in cfg["cluster1d"] if "cluster1d" in only or "parse" in only else []:
        text = cluster1d_text(n)
        if "parse" in only:
            parse = timed(lambda: ordavine.sample(text, 0), reps)
            out["parse"].append({"n": n, "bytes": len(text), "seconds": parse})
        if "cluster1d" not in only:
            continue
        one_call = timed(lambda: ordavine.Ordavine(n).run(text), reps)

        def by_gates():
            sim = ordavine.Ordavine(n)
            for q in range(n):
                sim.h(q)
            for q in range(n - 1):
                sim.cz(q, q + 1)
            for q in range(n):
                sim.measure_x(q)
        gates = 3 * n - 1
        out["cluster1d"].append({"n": n, "run": one_call, "loop": timed(by_gates, reps),
                                 "gates": gates})

    if "targets" in only:
        out["targets"] = per_target(ordavine, cfg["targets"], reps)

    for n in cfg["cluster2d"] if "cluster2d" in only else []:
        text = cluster2d_text(n)
        row = {"n": n, "run": timed(lambda: ordavine.Ordavine(n).run(text), reps)}
        if stim is not None and n <= STIM_2D_LIMIT:
            circuit = stim.Circuit(text)
            row["stim"] = timed(lambda: stim.TableauSimulator().do_circuit(circuit), max(1, reps // 2))
        out["cluster2d"].append(row)

    if stim is not None and "surface" in only:
        for d in cfg["surface"]:
            circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=d,
                                             after_clifford_depolarization=0.001,
                                             before_measure_flip_probability=0.001)
            text, shots = str(circuit), cfg["shots"]
            row = {"d": d, "qubits": circuit.num_qubits, "shots": shots,
                   "ours": timed(lambda: ordavine.sample_detectors(text, shots, seed=1), reps)}
            row["stim"] = timed(lambda: circuit.compile_detector_sampler(seed=1).sample(shots), reps)
            out["surface"].append(row)
    return out


def ratio(a, b):
    return f"{a / b:.1f}×" if b > 0 else "–"


def report(results):
    lines = ["## Whole circuits", "",
             "Medians of repeated runs in one process per interpreter; ratios are "
             "the other side's time over ours (above 1: we are faster).", ""]
    lines += ["### 1D cluster as one circuit (H, CZ chain, MX)", "",
              "| interpreter | n | run | gate-by-gate loop | loop / run | ns per gate (run) | ns per gate (loop) |",
              "|---|---|---|---|---|---|---|"]
    for label, res in results.items():
        for r in res["cluster1d"]:
            lines.append(f"| {label} | {r['n']} | {r['run']:.4f} s | {r['loop']:.4f} s | "
                         f"{ratio(r['loop'], r['run'])} | {1e9 * r['run'] / r['gates']:.0f} | "
                         f"{1e9 * r['loop'] / r['gates']:.0f} |")
    lines += ["", "### 2D cluster (H, CZ grid, M), against Stim's tableau simulator", "",
              "| interpreter | n | run | stim do_circuit | stim / run |", "|---|---|---|---|---|"]
    for label, res in results.items():
        for r in res["cluster2d"]:
            stim_time = f"{r['stim']:.3f} s" if "stim" in r else "not run (n² tableau)"
            lines.append(f"| {label} | {r['n']} | {r['run']:.4f} s | {stim_time} | "
                         f"{ratio(r['stim'], r['run']) if 'stim' in r else '–'} |")
    lines += ["", "### Surface code memory (rounds = d), sample_detectors against Stim's compiled detector sampler", "",
              "| interpreter | d | qubits | shots | ours | stim (compile + sample) | ours / stim |",
              "|---|---|---|---|---|---|---|"]
    for label, res in results.items():
        for r in res["surface"]:
            lines.append(f"| {label} | {r['d']} | {r['qubits']} | {r['shots']} | {r['ours']:.3f} s | "
                         f"{r['stim']:.3f} s | {r['ours'] / r['stim']:.1f} |")
    lines += ["", "### Per target, line by line (run(text), register allocation taken off)", "",
              "| interpreter | line | targets | ns per target | MB/s of the line |", "|---|---|---|---|---|"]
    for label, res in results.items():
        for r in res.get("targets", []):
            seconds = max(r["seconds"], 1e-9)
            lines.append(f"| {label} | {r['line']} | {r['targets']} | {1e9 * seconds / r['targets']:.0f} | "
                         f"{r['bytes'] / 1e6 / seconds:.0f} |")
    lines += ["", "### Reader", "", "| interpreter | text | MB/s |", "|---|---|---|"]
    for label, res in results.items():
        for r in res["parse"]:
            lines.append(f"| {label} | {r['bytes'] / 1e6:.1f} MB (1D cluster, n = {r['n']}) | "
                         f"{r['bytes'] / 1e6 / r['seconds']:.0f} |")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--python", action="append", metavar="LABEL=PATH",
                        help="interpreter to measure (default: this one)")
    parser.add_argument("--only", help="comma-separated workloads (default: all of " + ", ".join(WORKLOADS) + ")")
    parser.add_argument("--out", help="write the Markdown section here")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    mode = "smoke" if args.smoke else "quick" if args.quick else "full"
    only = tuple(args.only.split(",")) if args.only else WORKLOADS
    unknown = set(only) - set(WORKLOADS)
    if unknown:
        parser.error(f"unknown workloads: {', '.join(sorted(unknown))}")
    if args.child:
        print(json.dumps(measure_here(mode, only)))
        return
    interpreters = [p.split("=", 1) for p in (args.python or [f"{sys.implementation.name}={sys.executable}"])]
    results = {}
    for label, python in interpreters:
        flags = ["--smoke"] if args.smoke else ["--quick"] if args.quick else []
        flags += ["--only", ",".join(only)]
        proc = subprocess.run([python, os.path.abspath(__file__), "--child", *flags],
                              capture_output=True, text=True, env=os.environ)
        if proc.returncode != 0:
            sys.exit(f"{label}: {proc.stderr[-2000:]}")
        results[label] = json.loads(proc.stdout)
    text = report(results)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)
    print(text)


if __name__ == "__main__":
    main()
