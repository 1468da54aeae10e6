#!/usr/bin/env python3
"""The compiled samplers: 2 threads against 1, and against Stim's compiled
detector sampler, in one run.

    python bench/compiled_samplers.py [--quick] [--out bench/results/COMPILED.md]

Per workload the compiling is done once, outside the clock, on both sides;
`sample` calls are timed (medians over repetitions, alternating the thread
counts so that a slow phase of a shared machine hits all of them).  The
report names the Stim build and the cores the process may use; a 2-thread
figure on a machine with one free core says nothing about scaling.
"""

import argparse
import os
import platform
import statistics
import sys
import time

import ordavine
import stim

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from frames import cluster_text  # noqa: E402  (bench/frames.py)

KNOBS = ("after_clifford_depolarization", "before_round_data_depolarization",
         "before_measure_flip_probability", "after_reset_flip_probability")
SIZES = {
    "quick": {"surface": [(5, 50_000), (11, 10_000)], "color": [(5, 50_000)], "cluster_side": 300,
              "cluster_shots": 2000, "reps": 3},
    "full": {"surface": [(5, 100_000), (11, 20_000), (21, 5000)], "color": [(5, 100_000), (11, 20_000), (21, 5000)],
             "cluster_side": 1000, "cluster_shots": 2000, "reps": 5},
}


def median_time(call, reps):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--out", default=None)
    args = parser.parse_args()
    size = SIZES["quick" if args.quick else "full"]
    reps = size["reps"]
    lines = ["## Compiled samplers: threads, and Stim's compiled detector sampler", "",
             f"Stim {stim.__version__} (PyPI wheel), {platform.python_implementation()} "
             f"{platform.python_version()}, {len(os.sched_getaffinity(0))} cores available, "
             f"load average at start {os.getloadavg()[0]:.2f}.", "",
             "| workload | shots | ours, 1 thread | ours, 2 threads | 1 / 2 threads | Stim | ours (1 thread) / Stim |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    work = []
    codes = [("surface_code:rotated_memory_z", "surface memory_z", d, shots) for d, shots in size["surface"]]
    codes += [("color_code:memory_xyz", "colour memory_xyz", d, shots) for d, shots in size["color"]]
    for task, label, d, shots in codes:
        circuit = stim.Circuit.generated(task, distance=d, rounds=d, **{k: 0.001 for k in KNOBS})
        ours = ordavine.Circuit(circuit).compile_detector_sampler(seed=1)
        theirs = circuit.compile_detector_sampler(seed=1)
        work.append((f"{label} d={d}, p=0.001, detectors, packed", shots,
                     lambda n, t, s=ours: s.sample(n, bit_packed=True, num_threads=t),
                     lambda n, s=theirs: s.sample(n, bit_packed=True)))
    side = size["cluster_side"]
    text = cluster_text(side)
    sampler = ordavine.Circuit(text).compile_sampler(seed=1)
    work.append((f"noisy 2D cluster {side}x{side}, measurements, packed", size["cluster_shots"],
                 lambda n, t, s=sampler: s.sample(n, bit_packed=True, num_threads=t), None))
    for name, shots, ours, theirs in work:
        one, two = [], []
        for _ in range(reps):  # alternating, so drifts hit both
            one.append(median_time(lambda: ours(shots, 1), 1))
            two.append(median_time(lambda: ours(shots, 2), 1))
        t1, t2 = statistics.median(one), statistics.median(two)
        stim_cell, ratio_cell = "not run", "–"
        if theirs is not None:
            ts = median_time(lambda: theirs(shots), reps)
            stim_cell, ratio_cell = f"{ts * 1e3:.1f} ms", f"{t1 / ts:.2f}"
        lines.append(f"| {name} | {shots} | {t1 * 1e3:.1f} ms | {t2 * 1e3:.1f} ms | {t1 / t2:.2f} | "
                     f"{stim_cell} | {ratio_cell} |")
        print(lines[-1], flush=True)
    report = "\n".join(lines) + "\n"
    if args.out:
        with open(args.out, "w") as out:
            out.write(report)
    else:
        sys.stdout.write(report)


if __name__ == "__main__":
    main()
