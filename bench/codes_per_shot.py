#!/usr/bin/env python3
"""Surface-code circuits shot by shot on a register, and as compiled frame
samplers, each against Stim's counterpart, in one run.

    python bench/codes_per_shot.py [--quick | --smoke] [--reps N] [--out FILE.md]

The circuits: Stim's rotated surface code memory_z, rounds = d, 0.001 on
the four noise knobs of its generator, d = 5, 11, 21.

  register   one shot is `Ordavine(n).run(text)` on a fresh register (text
             read by the call) against `stim.TableauSimulator().do(circuit)`
             on a fresh tableau; each repetition times a batch of shots of
             each, ours and Stim's one after the other, so a busy phase of
             the machine hits both alike.  Medians over the repetitions of
             the time per shot and of the ratio within each repetition.
             Beside it, the state the register holds after the last round
             (before the data qubits are measured): its edges and degrees,
             which are what a register's gates and measurements cost.
  frames     `ordavine.Circuit(text).compile_detector_sampler(seed=1)
             .sample(shots, bit_packed=True, num_threads=1)` against Stim's
             `compile_detector_sampler(seed=1).sample(shots, bit_packed=True)`
             at 10^5 shots, compile apart; per-shot cost, medians, and the
             mean detection-event rate of both (the same work: the rates
             agree).  Packed on both sides, so 10^5 rows of d = 21 take
             115 MB rather than 924 MB.

Everything runs in this process, with the cyclic garbage collector off
while a clock runs.  The report is printed and, with --out, written to a
file (bench/results/CODES.md holds the last one).
"""

import argparse
import gc
import os
import platform
import statistics
import subprocess
import sys
import time

KNOBS = ("after_clifford_depolarization", "before_round_data_depolarization",
         "before_measure_flip_probability", "after_reset_flip_probability")
# Per mode: the distances with the shots of one register repetition, the
# frame sampler's shots, and the repetitions of each.
SIZES = {
    "smoke": {"register": {3: 2}, "frames": 1000, "reps": 1, "frame_reps": 1},
    "quick": {"register": {5: 10, 11: 2}, "frames": 10_000, "reps": 3, "frame_reps": 2},
    "full": {"register": {5: 40, 11: 8, 21: 2}, "frames": 100_000, "reps": 5, "frame_reps": 3},
}


def surface_circuit(stim, d):
    return stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=d,
                                  **{knob: 0.001 for knob in KNOBS})


def clock(function):
    """Seconds `function()` takes, the cyclic collector off meanwhile."""
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        function()
        return time.perf_counter() - start
    finally:
        gc.enable()


def without_final_measurement(stim, circuit):
    """The circuit up to (not including) its last top-level measurement of the data qubits."""
    last = max(i for i, line in enumerate(circuit) if isinstance(line, stim.CircuitInstruction)
               and line.name == "M")
    return circuit[:last]


def code_word_graph(ordavine, stim, circuit):
    """Edges, mean and largest degree of the register's state after the last
    round: the data qubits hold the code word then (the ancillas are reset)."""
    sim = ordavine.Ordavine(circuit.num_qubits)
    sim.run(str(without_final_measurement(stim, circuit)))
    degrees = [len(sim.get_neighbors(q)) for q in range(circuit.num_qubits)]
    busy = [degree for degree in degrees if degree]
    return {"edges": sum(degrees) // 2, "entangled": len(busy),
            "mean_degree": statistics.mean(busy) if busy else 0.0, "max_degree": max(degrees)}


def register_rows(ordavine, stim, sizes, reps, log):
    rows = []
    for d, shots in sizes.items():
        log(f"register d={d}")
        circuit = surface_circuit(stim, d)
        text, n = str(circuit), circuit.num_qubits

        def ours():
            for _ in range(shots):
                ordavine.Ordavine(n).run(text)

        def theirs():
            for _ in range(shots):
                stim.TableauSimulator().do(circuit)

        record = ordavine.Ordavine(n).run(text)  # warm, and a check of the work done
        assert len(record) == circuit.num_measurements, (len(record), circuit.num_measurements)
        theirs()
        ours_times, stim_times = [], []
        for _ in range(reps):
            ours_times.append(clock(ours) / shots)
            stim_times.append(clock(theirs) / shots)
        reading = statistics.median(clock(lambda: ordavine.Circuit(text)) for _ in range(reps))
        rows.append({"d": d, "qubits": n, "measurements": circuit.num_measurements, "shots": shots,
                     "ours": ours_times, "stim": stim_times, "reading": reading,
                     "graph": code_word_graph(ordavine, stim, circuit)})
    return rows


def packed_rate(numpy, rows, bits):
    """The fraction of set bits among the first `bits` of each packed row."""
    return float(numpy.unpackbits(rows, axis=1, count=bits, bitorder="little").mean())


def frame_rows(ordavine, stim, numpy, distances, shots, reps, log):
    rows = []
    for d in distances:
        log(f"frames d={d}")
        circuit = surface_circuit(stim, d)
        text = str(circuit)
        compile_ours = statistics.median(
            clock(lambda: ordavine.Circuit(text).compile_detector_sampler(seed=1)) for _ in range(reps))
        compile_stim = statistics.median(clock(lambda: circuit.compile_detector_sampler(seed=1))
                                         for _ in range(reps))
        ours_sampler = ordavine.Circuit(text).compile_detector_sampler(seed=1)
        stim_sampler = circuit.compile_detector_sampler(seed=1)
        ours_sampler.sample(256, bit_packed=True, num_threads=1)  # warm both alike
        stim_sampler.sample(256, bit_packed=True)
        ours_times, stim_times, kept = [], [], {}

        def ours():
            kept["ours"] = ours_sampler.sample(shots, bit_packed=True, num_threads=1)

        def theirs():
            kept["stim"] = stim_sampler.sample(shots, bit_packed=True)

        for _ in range(reps):
            ours_times.append(clock(ours) / shots)
            stim_times.append(clock(theirs) / shots)
        rows.append({"d": d, "detectors": circuit.num_detectors, "shots": shots,
                     "ours": ours_times, "stim": stim_times,
                     "compile_ours": compile_ours, "compile_stim": compile_stim,
                     "rate_ours": packed_rate(numpy, kept["ours"], circuit.num_detectors),
                     "rate_stim": packed_rate(numpy, kept["stim"], circuit.num_detectors)})
        kept.clear()
    return rows


def per_shot(seconds):
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.2f} µs"
    return f"{seconds * 1e9:.0f} ns"


def ratios(row):
    """Per repetition, ours ÷ Stim's; the median of those."""
    return statistics.median(a / b for a, b in zip(row["ours"], row["stim"]))


def report(meta, register, frames):
    lines = [
        "## Codes: shot by shot on a register, and compiled frame samplers",
        "",
        f"`python bench/codes_per_shot.py{meta['flags']}` on {meta['date']}: ordavine {meta['commit']}, "
        f"Stim {meta['stim']}, {meta['python']}, numpy {meta['numpy']}; {meta['cpu']}. "
        f"The machine was shared with other builds and tests (load average {meta['load_start']} at the "
        f"start, {meta['load_end']} at the end): times are rough, the ratios, taken within each "
        "repetition, are the numbers to read.",
        "",
        "Circuits: Stim's `surface_code:rotated_memory_z`, rounds = d, 0.001 on "
        "`after_clifford_depolarization`, `before_round_data_depolarization`, "
        "`before_measure_flip_probability` and `after_reset_flip_probability`.",
        "",
    ]
    if register:
        lines += [
            "### Shot by shot: `Ordavine(n).run(text)` against `stim.TableauSimulator().do(circuit)`",
            "",
            f"Per shot, a fresh register or tableau; medians of {meta['reps']} repetitions, each a batch "
            "of the given shots of both, one after the other. Ours includes reading the text in every "
            "call (its share: `ordavine.Circuit(text)` alone). The last columns are the register's "
            "graph after the last round, before the data qubits are measured: the code word on the "
            "data qubits.",
            "",
            "| d | qubits | measurements | shots per repetition | ordavine per shot | of which reading | "
            "Stim per shot | ordavine ÷ Stim | entangled qubits | edges | mean degree | largest degree |",
            "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
        ]
        for row in register:
            graph = row["graph"]
            lines.append(
                f"| {row['d']} | {row['qubits']} | {row['measurements']:,} | {row['shots']} | "
                f"{per_shot(statistics.median(row['ours']))} | {per_shot(row['reading'])} | "
                f"{per_shot(statistics.median(row['stim']))} | {ratios(row):.1f}× | {graph['entangled']} | "
                f"{graph['edges']:,} | {graph['mean_degree']:.1f} | {graph['max_degree']} |")
        lines.append("")
    if frames:
        lines += [
            "### Compiled detector samplers, one thread, packed rows",
            "",
            "`ordavine.Circuit(text).compile_detector_sampler(seed=1).sample(shots, bit_packed=True, "
            "num_threads=1)` against Stim's `circuit.compile_detector_sampler(seed=1).sample(shots, "
            f"bit_packed=True)`; per shot at {frames[0]['shots']:,} shots a call, medians of "
            f"{meta['frame_reps']} calls each, the compile apart. The rates are the mean detection-event "
            "fraction of the last call of each.",
            "",
            "| d | detectors | ordavine per shot | Stim per shot | ordavine ÷ Stim | ordavine compile | "
            "Stim compile | event rate, ordavine | event rate, Stim |",
            "|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
        ]
        for row in frames:
            lines.append(
                f"| {row['d']} | {row['detectors']:,} | {per_shot(statistics.median(row['ours']))} | "
                f"{per_shot(statistics.median(row['stim']))} | {ratios(row):.2f} | "
                f"{per_shot(row['compile_ours'])} | {per_shot(row['compile_stim'])} | "
                f"{row['rate_ours']:.5f} | {row['rate_stim']:.5f} |")
        lines.append("")
    return "\n".join(lines) + "\n"


def machine():
    cpu = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return f"{cpu}, {os.cpu_count()} logical cores"


def commit():
    here = os.path.dirname(os.path.abspath(__file__))
    name = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                          cwd=here).stdout.strip() or "?"
    if subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], capture_output=True,
                      text=True, cwd=here).stdout.strip():
        name += " with uncommitted changes"
    return name


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="d = 5 and 11, fewer shots")
    parser.add_argument("--smoke", action="store_true", help="d = 3, a few shots: only checks that it runs")
    parser.add_argument("--reps", type=int, help="repetitions of the register batches")
    parser.add_argument("--out", help="also write the report here")
    args = parser.parse_args(argv)
    mode = "smoke" if args.smoke else "quick" if args.quick else "full"
    sizes = SIZES[mode]
    reps = args.reps or sizes["reps"]

    import numpy
    import stim

    import ordavine

    ordavine.seed(1)
    log = lambda message: print(message, file=sys.stderr, flush=True)  # noqa: E731
    # The tree and the clock as the run starts: what is measured.
    meta = {"flags": "" if mode == "full" else f" --{mode}", "commit": commit(), "stim": stim.__version__,
            "numpy": numpy.__version__,
            "python": f"{platform.python_implementation()} {platform.python_version()}",
            "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), "cpu": machine(),
            "load_start": f"{os.getloadavg()[0]:.1f}", "reps": reps, "frame_reps": sizes["frame_reps"]}
    register = register_rows(ordavine, stim, sizes["register"], reps, log)
    frames = frame_rows(ordavine, stim, numpy, list(sizes["register"]), sizes["frames"],
                        sizes["frame_reps"], log)
    meta["load_end"] = f"{os.getloadavg()[0]:.1f}"
    text = report(meta, register, frames)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)
    print(text, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
