#!/usr/bin/env python3
"""Many shots as Pauli frames: `sample_detectors` and `sample` against Stim's
compiled samplers, side by side in one run.

    python bench/frames.py [--quick | --smoke] [--only NAMES] [--out FILE.md]

Workloads (each size in fresh child processes, ours and Stim's alternating,
medians of the repetitions; Stim's side always includes its compile step):
  surface    rotated surface code memory_z, rounds = d, 0.001 on every noise
             knob: sample_detectors(text, shots) against
             compile_detector_sampler().sample(shots, separate_observables=True).
  cluster    noisy 2D cluster (H all, CZ lattice, DEPOLARIZE1(0.001) all, MX
             all) measured row by row, 10^4 shots: sample(text, shots) against
             compile_sampler().sample(shots), with where the time goes (our
             reference run against our frames, Stim's compile against its
             sampling) and peak memory growth.
  million    the same cluster on 10^6 qubits, 10^3 shots, bit_packed=True:
             time and peak memory growth (Stim's tableau would need 125 GB).
  crossover  the reference run alone, ours (a register) against Stim's (a
             tableau), on the row-by-row cluster and on the surface code.

Our reference time is sample(text, 1) minus sample_detectors(text, 1): both
read the text and run one block of frames; only the first runs the
reference.  The report section is printed and, with --out, written to a file;
bench/run.py appends it to its report.
"""

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time

SIZES = {
    "smoke": {"surface": [(3, 1000)], "cluster": [(10, 200)], "million": None,
              "crossover_sides": [4, 8], "crossover_d": [3], "reps": 1, "stim_reps": 1},
    "quick": {"surface": [(5, 20_000), (11, 4000)], "cluster": [(100, 2000), (200, 2000)], "million": None,
              "crossover_sides": [8, 16, 32, 64, 100], "crossover_d": [3, 5, 11], "reps": 3, "stim_reps": 3},
    "full": {"surface": [(5, 100_000), (11, 20_000), (21, 5000)],
             "cluster": [(100, 10_000), (200, 10_000), (300, 10_000)],
             "million": (1000, 1000),
             "crossover_sides": [8, 16, 32, 45, 64, 100, 200], "crossover_d": [3, 5, 11, 21, 31],
             "reps": 7, "stim_reps": 3},
}
WORKLOADS = ("surface", "cluster", "million", "crossover")
KNOBS = ("after_clifford_depolarization", "before_round_data_depolarization",
         "before_measure_flip_probability", "after_reset_flip_probability")
STIM_SLOW = 120  # seconds: above this a Stim size gets one repetition


def cluster_text(side, p=0.001):
    q = lambda r, c: r * side + c  # noqa: E731
    edges = [f"{q(r, c)} {q(r, c + 1)}" for r in range(side) for c in range(side - 1)]
    edges += [f"{q(r, c)} {q(r + 1, c)}" for r in range(side - 1) for c in range(side)]
    every = " ".join(map(str, range(side * side)))
    return f"H {every}\nCZ {' '.join(edges)}\nDEPOLARIZE1({p}) {every}\nMX {every}\n"


def surface_circuit(stim, d):
    return stim.Circuit.generated("surface_code:rotated_memory_z", distance=d, rounds=d,
                                  **{k: 0.001 for k in KNOBS})


def clock(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


# ---- child processes: one measurement each -------------------------------------

def child(job):
    """Runs one measurement described by `job`; returns a JSON-able dict."""
    kind, impl = job["kind"], job["impl"]
    # A tiny call first, so that no one-time set-up lands in a timed call.
    if impl == "stim":
        import stim
        stim.Circuit("H 0\nDETECTOR\nM 0").compile_sampler(seed=1).sample(1)
        stim.Circuit("H 0\nM 0\nDETECTOR rec[-1]").compile_detector_sampler(seed=1).sample(1)
        stim.Circuit("H 0\nM 0").reference_sample()
    else:
        import ordavine
        ordavine.sample("H 0\nM 0", 1, seed=1)
        ordavine.sample_detectors("H 0\nM 0\nDETECTOR rec[-1]", 1, seed=1)
    reps = job["reps"]
    if kind == "surface":
        if impl == "stim":
            circuit = surface_circuit(stim, job["d"])
            run = lambda: circuit.compile_detector_sampler(seed=1).sample(  # noqa: E731
                job["shots"], separate_observables=True)
        else:
            import stim as generator  # only to generate the text, before the clock
            text = str(surface_circuit(generator, job["d"]))
            run = lambda: ordavine.sample_detectors(text, job["shots"], seed=1)  # noqa: E731
        run()  # warm: first-touch of pages and caches for both alike
        return {"times": [clock(run) for _ in range(reps)]}
    if kind in ("cluster", "million"):
        text = cluster_text(job["side"])
        packed = kind == "million"
        before = peak_mb()
        out = {}
        if impl == "stim":
            circuit = stim.Circuit(text)
            compile_times, sample_times = [], []
            for _ in range(reps):
                start = time.perf_counter()
                sampler = circuit.compile_sampler(seed=1)
                middle = time.perf_counter()
                sampler.sample(job["shots"], bit_packed=packed)
                compile_times.append(middle - start)
                sample_times.append(time.perf_counter() - middle)
                del sampler
            out["times"] = [a + b for a, b in zip(compile_times, sample_times)]
            out["reference"], out["frames"] = compile_times, sample_times
        else:
            out["times"] = [clock(lambda: ordavine.sample(text, job["shots"], seed=1, bit_packed=packed))
                            for _ in range(reps)]
            with_reference = [clock(lambda: ordavine.sample(text, 1, seed=1)) for _ in range(reps)]
            without = [clock(lambda: ordavine.sample_detectors(text, 1, seed=1)) for _ in range(reps)]
            out["reference"] = [a - b for a, b in zip(with_reference, without)]
        out["growth_mb"] = peak_mb() - before
        return out
    if kind == "crossover":
        if job["family"] == "cluster":
            text = cluster_text(job["size"])
        else:
            import stim as generator
            text = str(surface_circuit(generator, job["size"]))
        if impl == "stim":
            circuit = stim.Circuit(text)
            return {"times": [clock(circuit.reference_sample) for _ in range(reps)],
                    "qubits": circuit.num_qubits}
        with_reference = [clock(lambda: ordavine.sample(text, 1, seed=1)) for _ in range(reps)]
        without = [clock(lambda: ordavine.sample_detectors(text, 1, seed=1)) for _ in range(reps)]
        return {"times": [max(a - b, 0.0) for a, b in zip(with_reference, without)]}
    raise ValueError(kind)


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


def measure(python, mode, only, have_stim, log):
    cfg = SIZES[mode]
    reps, stim_reps = cfg["reps"], cfg["stim_reps"]
    results = {"surface": [], "cluster": [], "million": [], "crossover": []}
    if "surface" in only and have_stim:
        for d, shots in cfg["surface"]:
            log(f"surface d={d}")
            # Alternate: a child of ours, one of Stim's, and again.
            ours, theirs = [], []
            for _ in range(2):
                ours += run_child(python, {"kind": "surface", "impl": "ours", "d": d, "shots": shots,
                                           "reps": (reps + 1) // 2}, 600).get("times", [])
                theirs += run_child(python, {"kind": "surface", "impl": "stim", "d": d, "shots": shots,
                                             "reps": (reps + 1) // 2}, 600).get("times", [])
            results["surface"].append({"d": d, "shots": shots, "ours": ours, "stim": theirs})
    if "cluster" in only:
        for side, shots in cfg["cluster"]:
            log(f"cluster n={side * side}")
            row = {"n": side * side, "shots": shots,
                   "ours": run_child(python, {"kind": "cluster", "impl": "ours", "side": side, "shots": shots,
                                              "reps": 3 if mode != "smoke" else 1}, 900)}
            if have_stim:
                slow = side * side >= 90_000
                row["stim"] = run_child(python, {"kind": "cluster", "impl": "stim", "side": side, "shots": shots,
                                                 "reps": 1 if slow or mode == "smoke" else stim_reps}, 1800)
            results["cluster"].append(row)
    if "million" in only and cfg["million"]:
        side, shots = cfg["million"]
        log(f"cluster n={side * side}, bit_packed")
        results["million"].append({"n": side * side, "shots": shots,
                                   "ours": run_child(python, {"kind": "million", "impl": "ours", "side": side,
                                                              "shots": shots, "reps": 2}, 900)})
    if "crossover" in only:
        for family, sizes in (("cluster", cfg["crossover_sides"]), ("surface", cfg["crossover_d"])):
            if family == "surface" and not have_stim:
                continue
            for size in sizes:
                log(f"crossover {family} {size}")
                row = {"family": family, "size": size,
                       "ours": run_child(python, {"kind": "crossover", "impl": "ours", "family": family,
                                                  "size": size, "reps": reps}, 600)}
                if have_stim:
                    row["stim"] = run_child(python, {"kind": "crossover", "impl": "stim", "family": family,
                                                     "size": size, "reps": reps}, 600)
                results["crossover"].append(row)
    return results


def seconds(value):
    if value != value:  # nan
        return "–"
    if value < 1e-3:
        return f"{value * 1e6:.0f} µs"
    return f"{value * 1e3:.1f} ms" if value < 1 else f"{value:.2f} s"


def report(results, meta):
    lines = ["## Many shots as Pauli frames", "",
             f"`python bench/frames.py{meta['flags']}` on {meta['date']}: ordavine {meta['commit']}, "
             f"Stim {meta['stim']}, {meta['python']}; {meta['cpu']}. Every size runs in fresh child "
             "processes, ours and Stim's alternating; medians of the repetitions. Stim's times include "
             "compiling the sampler (its reference sample), ours reading the text and the reference run.",
             ""]
    if results["surface"]:
        lines += ["### sample_detectors: rotated surface code memory_z, rounds = d, 0.001 on every noise knob", "",
                  "| d | shots | ours | Stim (compile + sample) | ours / Stim | ours shots/s | Stim shots/s |",
                  "|---|---:|---:|---:|---:|---:|---:|"]
        for r in results["surface"]:
            a, b = median(r["ours"]), median(r["stim"])
            lines.append(f"| {r['d']} | {r['shots']:,} | {seconds(a)} | {seconds(b)} | {a / b:.2f} | "
                         f"{r['shots'] / a:,.0f} | {r['shots'] / b:,.0f} |")
        lines.append("")
    if results["cluster"]:
        lines += ["### sample: noisy 2D cluster measured row by row (rows unpacked, as Stim's)", "",
                  "| qubits | shots | ours | of which reference | of which frames | Stim | of which compile "
                  "(reference) | Stim / ours | ours peak growth | Stim peak growth |",
                  "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
        for r in results["cluster"]:
            ours, theirs = r["ours"], r.get("stim", {})
            a = median(ours.get("times", []))
            ref = median(ours.get("reference", []))
            b = median(theirs.get("times", []))
            stim_ref = median(theirs.get("reference", []))
            runs = len(theirs.get("times", []))
            stim_cell = (seconds(b) + (" (1 run)" if runs == 1 else "")) if runs else theirs.get("error", "–")
            lines.append(
                f"| {r['n']:,} | {r['shots']:,} | {seconds(a)} | {seconds(ref)} | {seconds(a - ref)} | "
                f"{stim_cell} | {seconds(stim_ref)} | {b / a:.1f}× | {ours.get('growth_mb', 0):.0f} MB | "
                f"{theirs.get('growth_mb', float('nan')):.0f} MB |")
        lines.append("")
    if results["million"]:
        lines += ["### sample: the same cluster on 10^6 qubits, bit_packed=True", "",
                  "| qubits | shots | ours | of which reference | peak memory growth | output |",
                  "|---:|---:|---:|---:|---:|---:|"]
        for r in results["million"]:
            ours = r["ours"]
            if "error" in ours:
                lines.append(f"| {r['n']:,} | {r['shots']:,} | {ours['error']} | | | |")
                continue
            a, ref = median(ours["times"]), median(ours["reference"])
            lines.append(f"| {r['n']:,} | {r['shots']:,} | {seconds(a)} | {seconds(ref)} | "
                         f"{ours['growth_mb']:.0f} MB | {r['shots'] * r['n'] / 8 / 1e6:.0f} MB |")
        lines += ["", "Stim's `compile_sampler` needs its n² tableau: 125 GB at 10^6 qubits; not run.", ""]
    if results["crossover"]:
        lines += ["### The reference run alone: ours (graph-state register) against Stim's (tableau)", "",
                  "| circuit | qubits | ours | Stim `reference_sample()` | Stim / ours |",
                  "|---|---:|---:|---:|---:|"]
        for r in results["crossover"]:
            a = median(r["ours"].get("times", []))
            b = median(r.get("stim", {}).get("times", []))
            name = (f"cluster {r['size']}×{r['size']}, rows" if r["family"] == "cluster"
                    else f"surface code d = {r['size']}")
            qubits = r["size"] ** 2 if r["family"] == "cluster" else r.get("stim", {}).get("qubits", "–")
            lines.append(f"| {name} | {qubits} | {seconds(a)} | {seconds(b)} | "
                         f"{b / a if a > 0 and b == b else float('nan'):.2f} |")
        lines.append("")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--only", help="comma-separated: " + ",".join(WORKLOADS))
    parser.add_argument("--out", help="write the Markdown section here")
    parser.add_argument("--json", help="also write the raw results here")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        print(json.dumps(child(json.loads(args.child))))
        return 0
    mode = "smoke" if args.smoke else "quick" if args.quick else "full"
    only = tuple(args.only.split(",")) if args.only else WORKLOADS
    unknown = set(only) - set(WORKLOADS)
    if unknown:
        parser.error("unknown workloads: " + ", ".join(sorted(unknown)))
    try:
        import stim
        stim_version = stim.__version__
    except ImportError:
        stim_version = None
    import platform
    here = os.path.dirname(os.path.abspath(__file__))
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                            cwd=here).stdout.strip() or "?"
    if subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], capture_output=True,
                      text=True, cwd=here).stdout.strip():
        commit += " with uncommitted changes"
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
        cpu += f", {os.cpu_count()} logical cores, load {os.getloadavg()[0]:.1f} at the start"
    except (OSError, StopIteration):
        pass
    meta = {"flags": "" if mode == "full" else f" --{mode}", "commit": commit, "stim": stim_version or "absent",
            "python": f"{platform.python_implementation()} {platform.python_version()}",
            "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), "cpu": cpu}
    results = measure(sys.executable, mode, only, stim_version is not None,
                      lambda message: print(message, file=sys.stderr, flush=True))
    text = report(results, meta)
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
