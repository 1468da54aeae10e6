#!/usr/bin/env python3
"""Two builds of ordavine side by side, for a change that must not cost
speed: the reader, `run` per target, the frame sampler and per-call costs,
each workload timed in fresh child processes of both interpreters,
alternating, with medians and the ratio after / before in one table.

    python bench/compare_builds.py --before PYTHON --after PYTHON [--reps N] [--only a,b]

PYTHON is an interpreter whose installed ordavine (and stim, for the code
circuits) is the build to measure.
"""

import argparse
import json
import statistics
import subprocess
import sys

CHILD = r'''
import json, sys, time, ordavine, stim
name = sys.argv[1]
def best(f, reps=5):
    times = []
    for _ in range(reps):
        t = time.perf_counter(); f(); times.append(time.perf_counter() - t)
    return min(times)
def cluster1d(n):
    every = " ".join(map(str, range(n)))
    pairs = " ".join(f"{i} {i + 1}" for i in range(n - 1))
    return f"H {every}\nCZ {pairs}\nMX {every}\n", 3 * n - 1
def surface(d):
    return str(stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=d,
        after_clifford_depolarization=0.001, before_round_data_depolarization=0.001,
        before_measure_flip_probability=0.001, after_reset_flip_probability=0.001))
if name == "reader":
    text, targets = cluster1d(10**6)
    value = best(lambda: ordavine.sample_detectors(text, 0)) / targets * 1e9; unit = "ns per target"
elif name == "run":
    text, targets = cluster1d(10**6)
    value = best(lambda: ordavine.Ordavine(10**6).run(text)) / targets * 1e9; unit = "ns per target"
elif name.startswith("frames_d"):
    text = surface(int(name[8:]))
    value = best(lambda: ordavine.sample_detectors(text, 20000, seed=1, bit_packed=True)) * 1e3; unit = "ms"
elif name == "frames_cluster":
    side = 300
    q = lambda r, c: r * side + c
    edges = [f"{q(r, c)} {q(r, c + 1)}" for r in range(side) for c in range(side - 1)]
    edges += [f"{q(r, c)} {q(r + 1, c)}" for r in range(side - 1) for c in range(side)]
    every = " ".join(map(str, range(side * side)))
    text = f"H {every}\nCZ {' '.join(edges)}\nDEPOLARIZE1(0.001) {every}\nMX {every}\n"
    value = best(lambda: ordavine.sample(text, 2000, seed=1, bit_packed=True), 3) * 1e3; unit = "ms"
elif name in ("h", "cx", "measure_z"):
    sim = ordavine.Ordavine(1000)
    f = getattr(sim, name)
    if name == "cx":
        pairs = [(i, i + 1) for i in range(0, 999, 2)] * 20
        value = best(lambda: [f(a, b) for a, b in pairs]) / len(pairs) * 1e9
    else:
        qubits = list(range(1000)) * 20
        value = best(lambda: [f(q) for q in qubits]) / len(qubits) * 1e9
    unit = "ns per call"
print(json.dumps({"value": value, "unit": unit}))
'''

WORKLOADS = ["reader", "run", "frames_d5", "frames_d11", "frames_cluster", "h", "cx", "measure_z"]


def measure(python, name):
    out = subprocess.run([python, "-c", CHILD, name], capture_output=True, text=True, timeout=600, check=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--only", help="comma-separated workloads (default: all of " + ", ".join(WORKLOADS) + ")")
    args = parser.parse_args()
    names = args.only.split(",") if args.only else WORKLOADS
    print("| workload | unit | before | after | after / before |")
    print("|---|---|---:|---:|---:|")
    for name in names:
        before, after, unit = [], [], ""
        for _ in range(args.reps):  # alternating, so drifts of a shared machine hit both
            b, a = measure(args.before, name), measure(args.after, name)
            before.append(b["value"]); after.append(a["value"]); unit = a["unit"]
        mb, ma = statistics.median(before), statistics.median(after)
        print(f"| {name} | {unit} | {mb:.2f} | {ma:.2f} | {ma / mb:.3f} |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
