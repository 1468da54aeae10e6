#!/usr/bin/env python3
"""Copies and saved states of a 2D cluster state: pickle round trip,
to_bytes / from_bytes and copy(), medians over repetitions.

    python bench/saved_state.py [--side 1000] [--reps 5] [--python PATH]

Each interpreter gets one fresh child process: it builds a side x side
cluster (H on every qubit, CZ to the right and downward neighbour), then
times each operation `reps` times.  bench/run.py calls `measure` and puts
`report_lines` into its report.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

SIDES = {"smoke": 8, "quick": 300, "full": 1000}
TARGET_SECONDS = 0.2  # pickle round trip of the 10^6-qubit cluster on CPython


def child(side, reps):
    import pickle
    import time

    import ordavine

    n = side * side
    sim = ordavine.Ordavine(n)
    for q in range(n):
        sim.h(q)
    for row in range(side):
        for col in range(side):
            q = row * side + col
            if col + 1 < side:
                sim.cz(q, q + 1)
            if row + 1 < side:
                sim.cz(q, q + side)
    times = {"dumps": [], "loads": [], "round_trip": [], "to_bytes": [], "from_bytes": [], "copy": []}
    size = 0
    for _ in range(reps):
        t0 = time.perf_counter()
        data = pickle.dumps(sim, pickle.HIGHEST_PROTOCOL)
        t1 = time.perf_counter()
        back = pickle.loads(data)
        t2 = time.perf_counter()
        times["dumps"].append(t1 - t0)
        times["loads"].append(t2 - t1)
        times["round_trip"].append(t2 - t0)
        size = len(data)
        del back
        t0 = time.perf_counter()
        raw = sim.to_bytes()
        t1 = time.perf_counter()
        back = ordavine.Ordavine.from_bytes(raw)
        t2 = time.perf_counter()
        times["to_bytes"].append(t1 - t0)
        times["from_bytes"].append(t2 - t1)
        del back, raw
        t0 = time.perf_counter()
        twin = sim.copy()
        times["copy"].append(time.perf_counter() - t0)
        del twin
    assert pickle.loads(pickle.dumps(sim)).get_neighbors(side + 1) == sim.get_neighbors(side + 1)
    return {"n": n, "pickle_bytes": size,
            "median": {k: statistics.median(v) for k, v in times.items()},
            "min": {k: min(v) for k, v in times.items()},
            "max": {k: max(v) for k, v in times.items()}}


def measure(pythons, mode, reps, timeout=600):
    """Runs the child under each (label, python); returns [(label, result or error text)]."""
    side = SIDES[mode]
    out = []
    for label, python in pythons:
        proc = subprocess.run([python, os.path.abspath(__file__), "--child", str(side), str(reps)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              universal_newlines=True, timeout=timeout)
        if proc.returncode == 0:
            out.append((label, json.loads(proc.stdout)))
        else:
            out.append((label, "failed: " + proc.stderr.strip().splitlines()[-1:][0]
                        if proc.stderr.strip() else "failed"))
    return out


def report_lines(measured):
    lines = ["", "## Saved states and copies", "",
             "A 2D cluster state (H on every qubit, CZ to the right and downward neighbour) "
             "pickled with the highest protocol and loaded back, saved with `to_bytes` and "
             "rebuilt with `from_bytes`, and copied with `copy()`; medians [min–max] over "
             "the repetitions of one fresh process per interpreter.  Target for the "
             "10^6-qubit pickle round trip on CPython: %.1f s." % TARGET_SECONDS, "",
             "| interpreter | qubits | pickle size | dumps | loads | round trip | vs target "
             "| to_bytes | from_bytes | copy |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for label, result in measured:
        if isinstance(result, str):
            lines.append("| %s | %s |" % (label, result))
            continue

        def cell(key):
            return "%.1f ms [%.1f–%.1f]" % (1e3 * result["median"][key], 1e3 * result["min"][key],
                                           1e3 * result["max"][key])

        lines.append("| %s | %d | %.1f MB | %s | %s | %s | %.2f× | %s | %s | %s |" % (
            label, result["n"], result["pickle_bytes"] / 1e6, cell("dumps"), cell("loads"),
            cell("round_trip"), result["median"]["round_trip"] / TARGET_SECONDS,
            cell("to_bytes"), cell("from_bytes"), cell("copy")))
    return lines


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--child":
        print(json.dumps(child(int(sys.argv[2]), int(sys.argv[3]))))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--side", type=int, default=SIDES["full"])
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--python", default=sys.executable)
    args = parser.parse_args()
    SIDES["custom"] = args.side
    print("\n".join(report_lines(measure([("this interpreter", args.python)], "custom", args.reps))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
