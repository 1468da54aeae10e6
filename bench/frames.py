#!/usr/bin/env python3
"""Many shots as Pauli frames: the compiled samplers against Stim's, cell by
cell, compiling excluded on both sides.

    python bench/frames.py [--quick | --smoke] [--only NAMES] [--out FILE.md] [--json FILE]

Workloads (each measurement in fresh child processes; ours and Stim's
alternate; a warm-up call first; medians of the repetitions):
  detectors  every cell of CODES x NOISE x PACKING (a generated code, d,
             p, unpacked or bit-packed rows), one thread:
             Circuit(text).compile_detector_sampler(seed=1).sample(shots,
             separate_observables=True, bit_packed=..., num_threads=1)
             against Stim's compile_detector_sampler(seed=1).sample(...),
             with where our time goes: the gates (p = 0, no DETECTOR or
             OBSERVABLE_INCLUDE lines), the noise (noisy without those
             lines, minus the gates), the output (the full circuit, minus
             noisy without those lines), and the word-op floor (targets that
             touch frames x 2 rows x 64-shot words, at numpy's in-cache XOR
             rate measured in the same run).
  large      the noisy 2D cluster (H all, CZ lattice, DEPOLARIZE1(0.001) all,
             MX all, row by row): compile_sampler(seed=1).sample(shots,
             bit_packed=True) with the compile timed apart, ours at 4*10^4
             and 10^6 qubits, Stim's at 4*10^4 (its tableau at 10^6 would
             need 125 GB).
  crossover  (only when named) the reference run alone, ours (a register)
             against Stim's reference_sample() (a tableau).

The report section is printed and, with --out, written to a file;
bench/run.py appends it to its report.
"""

import argparse
import gc
import importlib.util
import json
import math
import os
import platform
import resource
import statistics
import subprocess
import sys
import time

# ---- what is measured, declared once ---------------------------------------------

CODES = (  # (Stim generator task, short name, distances)
    ("surface_code:rotated_memory_z", "surface memory_z", (5, 11, 21)),
    ("color_code:memory_xyz", "color memory_xyz", (5, 9)),
)
NOISE = (0.001, 0.01)
PACKING = (False, True)
KNOBS = ("after_clifford_depolarization", "before_round_data_depolarization",
         "before_measure_flip_probability", "after_reset_flip_probability")
TARGET = 0.1  # ours / Stim we aim at in every detection-event cell

MODES = {
    # shots per distance (a distance missing here is not run in that mode),
    # repetitions per implementation (split over two children), and the large
    # clusters as (side, shots, whether Stim runs too).
    "smoke": {"shots": {5: 500}, "reps": 1,
              "large": ((10, 200, True), (20, 200, False)),
              "crossover_sides": (4, 8), "crossover_d": (3,)},
    "quick": {"shots": {5: 20_000, 9: 4000, 11: 4000, 21: 1000}, "reps": 3,
              "large": ((100, 2000, True), (200, 2000, False)),
              "crossover_sides": (8, 16, 32, 64, 100), "crossover_d": (3, 5, 11)},
    "full": {"shots": {5: 100_000, 9: 20_000, 11: 20_000, 21: 5000}, "reps": 7,
             "large": ((200, 10_000, True), (1000, 1000, False)),
             "crossover_sides": (8, 16, 32, 45, 64, 100, 200), "crossover_d": (3, 5, 11, 21, 31)},
}
DEFAULT_WORKLOADS = ("detectors", "large")
WORKLOADS = DEFAULT_WORKLOADS + ("crossover",)
VARIANTS = ("full", "no_detectors", "gates")  # the circuits timed in our detection-event children
WORD_RATE_WORDS = 16384  # uint64 words per XOR: two such arrays sit in a core's L2
WORD_RATE_CALLS = 20_000
ANNOTATION_LINES = ("DETECTOR", "OBSERVABLE_INCLUDE")


def cells(mode):
    shots = MODES[mode]["shots"]
    return [{"code": code, "name": name, "d": d, "p": p, "packed": packed, "shots": shots[d]}
            for code, name, distances in CODES for d in distances if d in shots
            for p in NOISE for packed in PACKING]


# ---- circuits -------------------------------------------------------------------

def generated(stim, code, d, p):
    """Stim's generated memory experiment; at p = 0 it holds no noise instruction at all."""
    return stim.Circuit.generated(code, distance=d, rounds=d, **{knob: p for knob in KNOBS})


def without_outputs(text):
    """The text without its DETECTOR and OBSERVABLE_INCLUDE lines; REPEAT blocks stay."""
    def name(line):
        return line.strip().split("(", 1)[0].split(" ", 1)[0]
    return "\n".join(line for line in text.splitlines() if name(line) not in ANNOTATION_LINES) + "\n"


def cell_texts(stim, cell):
    noisy = str(generated(stim, cell["code"], cell["d"], cell["p"]))
    return {"full": noisy, "no_detectors": without_outputs(noisy),
            "gates": without_outputs(str(generated(stim, cell["code"], cell["d"], 0.0)))}


def frame_targets(stim, circuit):
    """Qubit targets of gates, measurements, resets and noise channels, REPEAT unrolled."""
    count = 0
    for instruction in circuit.flattened():
        gate = stim.gate_data(instruction.name)
        if gate.is_unitary or gate.is_noisy_gate or gate.is_reset or gate.produces_measurements:
            count += sum(1 for t in instruction.targets_copy() if t.qubit_value is not None)
    return count


def floor_words(targets, shots):
    return targets * 2 * math.ceil(shots / 64)  # an X and a Z word per target per 64 shots


def cluster_text(side, p=0.001):
    q = lambda r, c: r * side + c  # noqa: E731
    edges = [f"{q(r, c)} {q(r, c + 1)}" for r in range(side) for c in range(side - 1)]
    edges += [f"{q(r, c)} {q(r + 1, c)}" for r in range(side - 1) for c in range(side)]
    every = " ".join(map(str, range(side * side)))
    return f"H {every}\nCZ {' '.join(edges)}\nDEPOLARIZE1({p}) {every}\nMX {every}\n"


# ---- child processes: one measurement each -------------------------------------

def clock(function):
    gc.disable()
    start = time.perf_counter()
    function()
    elapsed = time.perf_counter() - start
    gc.enable()
    return elapsed


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def child_detectors_ours(job):
    import ordavine
    import stim  # only to generate the texts, before any clock
    samplers = {variant: ordavine.Circuit(text).compile_detector_sampler(seed=1)
                for variant, text in cell_texts(stim, job).items()}
    calls = {variant: (lambda s=s: s.sample(job["shots"], separate_observables=True,
                                            bit_packed=job["packed"], num_threads=1))
             for variant, s in samplers.items()}
    for call in calls.values():
        call()  # warm: first touch of pages and caches
    times = {variant: [] for variant in VARIANTS}
    for _ in range(job["reps"]):
        for variant in VARIANTS:  # interleaved, so that a slow spell of the machine hits all three
            times[variant].append(clock(calls[variant]))
    return times


def child_detectors_stim(job):
    import stim
    sampler = generated(stim, job["code"], job["d"], job["p"]).compile_detector_sampler(seed=1)
    call = lambda: sampler.sample(job["shots"], separate_observables=True, bit_packed=job["packed"])  # noqa: E731
    call()
    return {"full": [clock(call) for _ in range(job["reps"])]}


def child_large(job):
    if job["impl"] == "stim":
        import stim as impl
        options = {}
    else:
        import ordavine as impl
        options = {"num_threads": 1}
    text = cluster_text(job["side"])
    before = peak_mb()
    start = time.perf_counter()
    sampler = impl.Circuit(text).compile_sampler(seed=1)
    compile_time = time.perf_counter() - start
    call = lambda: sampler.sample(job["shots"], bit_packed=True, **options)  # noqa: E731
    call()
    times = [clock(call) for _ in range(job["reps"])]
    return {"compile": compile_time, "times": times, "growth_mb": peak_mb() - before}


def child_word_rate(job):
    """Seconds per uint64 word of an in-cache XOR: the marginal cost of a word, numpy's per-call
    cost taken away (a call on 64 words against one on WORD_RATE_WORDS)."""
    import numpy as np

    def per_call(words):
        a = np.arange(words, dtype=np.uint64) * np.uint64(0x9E3779B97F4A7C15)
        b = a[::-1].copy()
        xor = np.bitwise_xor
        def loop():
            for _ in range(WORD_RATE_CALLS):
                xor(a, b, out=a)
        loop()
        return statistics.median(clock(loop) for _ in range(job["reps"])) / WORD_RATE_CALLS

    # numpy's per-call cost, seen on a short array (a one-element array takes a slower path).
    long, short = per_call(WORD_RATE_WORDS), per_call(64)
    return {"seconds_per_word": max(long - short, 0.0) / (WORD_RATE_WORDS - 64), "call_64_words": short}


def child_crossover(job):
    if job["family"] == "cluster":
        text = cluster_text(job["size"])
    else:
        import stim
        text = str(generated(stim, "surface_code:rotated_memory_z", job["size"], 0.001))
    if job["impl"] == "stim":
        import stim
        circuit = stim.Circuit(text)
        circuit.reference_sample()
        return {"times": [clock(circuit.reference_sample) for _ in range(job["reps"])],
                "qubits": circuit.num_qubits}
    import ordavine
    ordavine.sample(text, 1, seed=1)
    # Both calls read the text and run one block of frames; only the first runs the reference.
    with_reference = [clock(lambda: ordavine.sample(text, 1, seed=1)) for _ in range(job["reps"])]
    without = [clock(lambda: ordavine.sample_detectors(text, 1, seed=1)) for _ in range(job["reps"])]
    return {"times": [max(a - b, 0.0) for a, b in zip(with_reference, without)]}


def child(job):
    """Runs one measurement described by `job`; returns a JSON-able dict."""
    if job["kind"] == "detectors":
        return child_detectors_stim(job) if job["impl"] == "stim" else child_detectors_ours(job)
    runners = {"large": child_large, "word_rate": child_word_rate, "crossover": child_crossover}
    return runners[job["kind"]](job)


def run_child(python, job, timeout):
    try:
        proc = subprocess.run([python, os.path.abspath(__file__), "--child", json.dumps(job)],
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return {"error": f"stopped after {timeout} s"}
    if proc.returncode != 0:
        return {"error": proc.stderr.strip().splitlines()[-1] if proc.stderr.strip() else "failed"}
    return json.loads(proc.stdout)


# ---- the driver ----------------------------------------------------------------------

def median(values):
    return statistics.median(values) if values else float("nan")


def alternate(python, job, reps, timeout=600):
    """Two rounds of (a child of ours, a child of Stim's), the repetitions split between them."""
    times = {"ours": {}, "stim": {}}
    for _ in range(2):
        for impl in ("ours", "stim"):
            out = run_child(python, dict(job, impl=impl, reps=(reps + 1) // 2), timeout)
            if "error" in out:
                times[impl]["error"] = out["error"]
                continue
            for variant, values in out.items():
                times[impl].setdefault(variant, []).extend(values)
    return times


def measure_detectors(python, mode, log):
    import stim
    reps = MODES[mode]["reps"]
    rate = run_child(python, {"kind": "word_rate", "reps": 7}, 300)
    rows = []
    for cell in cells(mode):
        log(f"detectors {cell['name']} d={cell['d']} p={cell['p']} packed={cell['packed']}")
        targets = frame_targets(stim, generated(stim, cell["code"], cell["d"], cell["p"]))
        rows.append(dict(cell, targets=targets, **alternate(python, dict(cell, kind="detectors"), reps)))
    return {"word_rate": rate, "cells": rows}


def measure_large(python, mode, have_stim, log):
    reps = MODES[mode]["reps"]
    rows = []
    for side, shots, with_stim in MODES[mode]["large"]:
        log(f"large n={side * side}")
        job = {"kind": "large", "side": side, "shots": shots, "reps": max(2, (reps + 1) // 2)}
        row = {"n": side * side, "shots": shots, "ours": run_child(python, dict(job, impl="ours"), 900)}
        if with_stim and have_stim:
            row["stim"] = run_child(python, dict(job, impl="stim", reps=min(job["reps"], 3)), 1800)
        rows.append(row)
    return rows


def measure_crossover(python, mode, have_stim, log):
    cfg, rows = MODES[mode], []
    for family, sizes in (("cluster", cfg["crossover_sides"]), ("surface", cfg["crossover_d"])):
        if family == "surface" and not have_stim:
            continue
        for size in sizes:
            log(f"crossover {family} {size}")
            job = {"kind": "crossover", "family": family, "size": size, "reps": cfg["reps"]}
            row = {"family": family, "size": size, "ours": run_child(python, dict(job, impl="ours"), 600)}
            if have_stim:
                row["stim"] = run_child(python, dict(job, impl="stim"), 600)
            rows.append(row)
    return rows


def measure(python, mode, only, have_stim, log):
    results = {}
    if "detectors" in only and have_stim:  # the circuits come from Stim's generator
        results["detectors"] = measure_detectors(python, mode, log)
    if "large" in only:
        results["large"] = measure_large(python, mode, have_stim, log)
    if "crossover" in only:
        results["crossover"] = measure_crossover(python, mode, have_stim, log)
    return results


# ---- the report ------------------------------------------------------------------

def seconds(value):
    if value != value:  # nan
        return "–"
    if abs(value) < 1e-5:
        return f"{value * 1e6:.2f} µs"
    if abs(value) < 1e-3:
        return f"{value * 1e6:.0f} µs"
    return f"{value * 1e3:.1f} ms" if abs(value) < 1 else f"{value:.2f} s"


def ratio(a, b, digits=2):
    return f"{a / b:.{digits}f}" if a == a and b == b and b > 0 else "–"


def share(part, whole):
    return f"{100 * part / whole:.0f}%" if part == part and whole == whole and whole > 0 else "–"


def per_second(shots, elapsed):
    return f"{shots / elapsed:,.0f}" if elapsed == elapsed and elapsed > 0 else "–"


def rows_label(packed):
    return "packed" if packed else "unpacked"


def detectors_section(data, shots):
    rate = data["word_rate"].get("seconds_per_word", float("nan"))
    shots_text = ", ".join(f"d = {d}: {n:,}" for d, n in sorted(shots.items()))
    lines = ["### Detection events, cell by cell", "",
             "`Circuit(text).compile_detector_sampler(seed=1)` then, timed, `sample(shots, "
             "separate_observables=True, bit_packed=..., num_threads=1)`; Stim's "
             "`compile_detector_sampler(seed=1)` then, timed, `sample(shots, separate_observables=True, "
             "bit_packed=...)`. Compiling is outside the clock on both sides. Generated circuits, "
             f"rounds = d, p on all four noise knobs; shots: {shots_text}. "
             f"The target is ours / Stim ≤ {TARGET}; cells above it are marked.", "",
             "| circuit | d | p | rows | shots | ours | Stim | ours / Stim | ours shots/s | Stim shots/s |",
             "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|"]
    for c in data["cells"]:
        a, b = median(c["ours"].get("full", [])), median(c["stim"].get("full", []))
        r = ratio(a, b)
        mark = f" **above {TARGET}**" if r != "–" and a / b > TARGET else ""
        errors = "; ".join(c[side]["error"] for side in ("ours", "stim") if "error" in c[side])
        lines.append(f"| {c['name']} | {c['d']} | {c['p']} | {rows_label(c['packed'])} | {c['shots']:,} | "
                     f"{seconds(a)} | {seconds(b)} | {r}{mark} | {per_second(c['shots'], a)} | "
                     f"{per_second(c['shots'], b)} |" + (f" {errors}" if errors else ""))
    lines += ["", "### Where our time goes, per cell", "",
              "Same sampler API and shots. gates: the circuit generated at p = 0 (no noise instruction) "
              "without its DETECTOR and OBSERVABLE_INCLUDE lines (measured and reset, zero-width rows); "
              "noise: the noisy circuit without those lines, minus gates; output: the full circuit minus "
              "the noisy one without those lines (forming the detection events, writing the rows). "
              "Floor: the frame-touching targets (qubit targets of gates, measurements, resets and noise "
              "channels, REPEAT unrolled) × 2 rows × ⌈shots / 64⌉ words, at the in-cache XOR rate "
              f"measured in this run: numpy `bitwise_xor(a, b, out=a)`, the marginal cost of a word between "
              f"calls on 64 and on {WORD_RATE_WORDS} uint64 words (medians of 7): {rate * 1e9:.3f} ns per word "
              f"(a call on 64 words takes {seconds(data['word_rate'].get('call_64_words', float('nan')))}).", "",
              "| circuit | d | p | rows | full | gates | noise | output | targets | floor | ours / floor |",
              "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"]
    for c in data["cells"]:
        t = {v: median(c["ours"].get(v, [])) for v in VARIANTS}
        parts = {"gates": t["gates"], "noise": t["no_detectors"] - t["gates"],
                 "output": t["full"] - t["no_detectors"]}
        floor = floor_words(c["targets"], c["shots"]) * rate
        cols = " | ".join(f"{seconds(v)} ({share(v, t['full'])})" for v in parts.values())
        lines.append(f"| {c['name']} | {c['d']} | {c['p']} | {rows_label(c['packed'])} | {seconds(t['full'])} | "
                     f"{cols} | {c['targets']:,} | {seconds(floor)} | {ratio(t['full'], floor, 1)} |")
    return lines + [""]


def large_columns(out):
    """One implementation's cells of a large-circuit row: compile, sample, peak growth."""
    if out is None:
        return {"compile": "not run", "sample": "–", "median": float("nan"), "growth": "–"}
    if "error" in out:
        return {"compile": out["error"], "sample": "–", "median": float("nan"), "growth": "–"}
    sample = median(out["times"])
    return {"compile": seconds(out["compile"]), "sample": seconds(sample), "median": sample,
            "growth": f"{out['growth_mb']:.0f} MB"}


def large_section(rows):
    lines = ["### Large circuits: the noisy 2D cluster, bit-packed records", "",
             "`H` all, `CZ` lattice, `DEPOLARIZE1(0.001)` all, `MX` all in row order. Compile (reading the "
             "text and the noiseless reference run; Stim's tableau) is timed apart, once; then, timed, "
             "`sample(shots, bit_packed=True)` (ours with `num_threads=1`). Peak growth: the child's peak "
             "resident memory at the end, minus that with the text built.", "",
             "| qubits | shots | ours compile | ours sample | Stim compile | Stim sample | ours / Stim (sample) "
             "| ours peak growth | Stim peak growth |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        ours, theirs = large_columns(r["ours"]), large_columns(r.get("stim"))
        lines.append(f"| {r['n']:,} | {r['shots']:,} | {ours['compile']} | {ours['sample']} | "
                     f"{theirs['compile']} | {theirs['sample']} | {ratio(ours['median'], theirs['median'])} | "
                     f"{ours['growth']} | {theirs['growth']} |")
    if any(r["n"] >= 10 ** 6 for r in rows):
        lines += ["", "Stim is not run at 10^6 qubits: its tableau would need 125 GB."]
    return lines + [""]


def crossover_section(rows):
    lines = ["### The reference run alone: ours (graph-state register) against Stim's (tableau)", "",
             "Ours: `sample(text, 1)` minus `sample_detectors(text, 1)`; Stim's: `reference_sample()`.", "",
             "| circuit | qubits | ours | Stim `reference_sample()` | Stim / ours |",
             "|---|---:|---:|---:|---:|"]
    for r in rows:
        a = median(r["ours"].get("times", []))
        b = median(r.get("stim", {}).get("times", []))
        name = (f"cluster {r['size']}×{r['size']}, rows" if r["family"] == "cluster"
                else f"surface code d = {r['size']}")
        qubits = r["size"] ** 2 if r["family"] == "cluster" else r.get("stim", {}).get("qubits", "–")
        lines.append(f"| {name} | {qubits} | {seconds(a)} | {seconds(b)} | {ratio(b, a)} |")
    return lines + [""]


def report(results, meta, mode):
    lines = ["## Many shots as Pauli frames", "",
             f"`python bench/frames.py{meta['flags']}` on {meta['date']}: ordavine {meta['commit']} "
             f"({meta['ordavine']}), Stim {meta['stim']}, {meta['python']}; {meta['cpu']}. Every "
             "measurement runs in fresh child processes, ours and Stim's alternating, a warm-up call "
             "first; medians of the repetitions.", ""]
    if "detectors" in results:
        lines += detectors_section(results["detectors"], MODES[mode]["shots"])
    if results.get("large"):
        lines += large_section(results["large"])
    if results.get("crossover"):
        lines += crossover_section(results["crossover"])
    return "\n".join(lines) + "\n"


# ---- the header ------------------------------------------------------------------

def git_commit(directory):
    def git(*args):
        return subprocess.run(["git", *args], capture_output=True, text=True, cwd=directory).stdout.strip()
    commit = git("rev-parse", "--short", "HEAD") or "?"
    return commit + (" dirty" if git("status", "--porcelain", "--untracked-files=no") else "")


def ordavine_origin():
    """The imported module's path, and the checkout it comes from (the script's own for an installed wheel)."""
    spec = importlib.util.find_spec("ordavine")
    path = spec.origin if spec and spec.origin else "not importable"
    here = os.path.dirname(os.path.abspath(__file__))
    directory = os.path.dirname(path) if os.path.isfile(path) and "site-packages" not in path else here
    return git_commit(directory), path


def stim_build():
    """Stim's version, where it is imported from and whether it is an index wheel or a local build."""
    try:
        import stim
    except ImportError:
        return None
    from importlib import metadata
    try:
        dist = metadata.distribution("stim")
        tags = [line.split(":", 1)[1].strip() for line in (dist.read_text("WHEEL") or "").splitlines()
                if line.startswith("Tag:")]
        local = dist.read_text("direct_url.json") is not None
        kind = "installed from a local path or URL" if local else "PyPI wheel"
        build = f"{kind} {tags[0] if tags else '(no wheel tag)'}"
    except metadata.PackageNotFoundError:
        build = "not an installed distribution (a build on the path)"
    return f"{stim.__version__} ({build} at {os.path.dirname(stim.__file__)})"


def machine():
    cpu = "CPU ?"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return f"{cpu}, {os.cpu_count()} logical cores, load average {os.getloadavg()[0]:.2f} at the start"


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--only", help="comma-separated: " + ",".join(WORKLOADS)
                        + " (default: " + ",".join(DEFAULT_WORKLOADS) + ")")
    parser.add_argument("--out", help="write the Markdown section here")
    parser.add_argument("--json", help="also write the raw results here")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        print(json.dumps(child(json.loads(args.child))))
        return 0
    mode = "smoke" if args.smoke else "quick" if args.quick else "full"
    only = tuple(args.only.split(",")) if args.only else DEFAULT_WORKLOADS
    unknown = set(only) - set(WORKLOADS)
    if unknown:
        parser.error("unknown workloads: " + ", ".join(sorted(unknown)))
    stim_text = stim_build()
    commit, module = ordavine_origin()
    meta = {"flags": "" if mode == "full" else f" --{mode}", "commit": commit, "ordavine": module,
            "stim": stim_text or "absent", "cpu": machine(),
            "python": f"{platform.python_implementation()} {platform.python_version()}",
            "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())}
    results = measure(sys.executable, mode, only, stim_text is not None,
                      lambda message: print(message, file=sys.stderr, flush=True))
    text = report(results, meta, mode)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"meta": meta, "results": results}, f, indent=1)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
