#!/usr/bin/env python3
"""sinter collect with `ordavine+pymatching` against sinter's own `pymatching`
(stim's sampler, the same decoder), in one run: seconds per shot as sinter
reports them (sampling and decoding), one worker each, alternating.

    python bench/sinter_bench.py [--quick]
"""

import argparse
import os
import statistics

import sinter
import stim

import ordavine_sinter

KNOBS = ("after_clifford_depolarization", "after_reset_flip_probability",
         "before_measure_flip_probability", "before_round_data_depolarization")


def seconds_per_shot(circuit, decoder, shots):
    stats = sinter.collect(num_workers=1, tasks=[sinter.Task(circuit=circuit, json_metadata={})],
                           decoders=[decoder], custom_decoders=ordavine_sinter.sinter_samplers(),
                           max_shots=shots, max_errors=10**9)
    return stats[0].seconds / stats[0].shots


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    cases = [(5, 0.005, 20_000), (11, 0.005, 4000)] if args.quick else [(5, 0.005, 200_000), (11, 0.005, 40_000)]
    reps = 3
    print(f"Stim {stim.__version__} (PyPI wheel), sinter {sinter.__version__ if hasattr(sinter, '__version__') else '?'}, "
          f"load average {os.getloadavg()[0]:.2f}")
    print("| circuit | shots | ordavine+pymatching, µs/shot | pymatching (stim), µs/shot | ratio |")
    print("|---|---:|---:|---:|---:|")
    for d, p, shots in cases:
        circuit = stim.Circuit.generated("surface_code:rotated_memory_x", distance=d, rounds=d,
                                         **{knob: p for knob in KNOBS})
        ours, theirs = [], []
        for _ in range(reps):
            ours.append(seconds_per_shot(circuit, "ordavine+pymatching", shots))
            theirs.append(seconds_per_shot(circuit, "pymatching", shots))
        a, b = statistics.median(ours), statistics.median(theirs)
        print(f"| surface memory_x d={d}, p={p} | {shots} | {a * 1e6:.2f} | {b * 1e6:.2f} | {a / b:.2f} |", flush=True)


if __name__ == "__main__":
    main()
