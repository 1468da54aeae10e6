#!/usr/bin/env python3
"""Runs the ordavine benchmarks side by side with Stim and writes a report.

    python bench/run.py [--quick] [--out bench/out] [--pypy | --pypy-python PATH]

Every measurement runs in a fresh child process (bench/workloads.py), several
repetitions per size, interleaved across implementations so that slow drifts
of a noisy machine hit all of them alike.  Each child is stopped at the time
budget; a size that exceeds it is reported as "stopped at budget" and the
larger sizes of that workload are not run for that implementation.

Output in --out: report.md (Markdown), scaling.png (log-log time against
qubit count), results.json (every child's raw result).  --publish also copies
report.md and scaling.png to bench/results/ (REPORT.md, scaling.png).

See bench/README.md for what each workload and column means.
"""

import argparse
import datetime
import json
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

import export_bench

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
WORKLOADS = os.path.join(HERE, "workloads.py")
sys.path.insert(0, HERE)
import saved_state  # noqa: E402  (bench/saved_state.py)
import sweeps  # noqa: E402  (the measurement-order workloads and their report)

# --- configuration -------------------------------------------------------------

MODES = {
    "quick": {
        "budget": 5.0,
        "reps": 3,
        "percall_sizes": [1000],
        "percall_calls": 20000,
        "case_cap": 0.5,
        "cluster1d": [1000, 10000, 100000],
        "cluster2d": [1000, 10000, 30000],
        "cluster2d_rows": [1000, 10000, 30000],
        "ghz": [125, 250, 500, 1000],
        "random": [100],
        "peek": [10000, 100000],
        "stim_batched": ["stim-circuit"],
        "sweeps": [10000, 40000, 90000],
    },
    "full": {
        "budget": 60.0,
        "reps": 5,
        "percall_sizes": [1000, 10000],
        "percall_calls": 100000,
        "case_cap": 2.0,
        "cluster1d": [1000, 3000, 10000, 30000, 100000, 300000, 1000000, 3000000, 10000000],
        "cluster2d": [1000, 3000, 10000, 30000, 100000, 300000, 1000000],
        "cluster2d_rows": [1000, 10000, 100000, 1000000],
        "ghz": [125, 250, 500, 1000, 2000, 4000, 8000, 10000, 16000, 32000, 64000, 100000],
        "random": [100, 1000],
        "peek": [10000, 100000, 1000000],
        "stim_batched": ["stim-circuit", "stim-sampler"],
        "sweeps": [10000, 40000, 90000, 250000, 1000000],
    },
    # Tiny sizes that only exercise the code paths (the test suite's smoke run).
    "smoke": {
        "budget": 20.0,
        "reps": 1,
        "percall_sizes": [16],
        "percall_calls": 64,
        "case_cap": 0.05,
        "cluster1d": [16, 32],
        "cluster2d": [16],
        "cluster2d_rows": [16],
        "ghz": [8, 16],
        "random": [8],
        "peek": [16],
        "stim_batched": ["stim-circuit", "stim-sampler"],
        "sweeps": [16],
    },
}

SCALING = ("cluster1d", "cluster2d", "cluster2d_rows", "ghz", "random")
# Workloads that only ordavine runs (the order of measurements does not
# change Stim's cost).
OURS_ONLY = ("cluster2d_rows",)
TITLES = {
    "cluster1d": "1D cluster state: h on all, cz along the line, measure_x on every qubit",
    "cluster2d": "2D cluster state (square lattice): h on all, cz along rows and columns, "
                 "measure_x on every qubit (ordavine: in a diagonal sweep, each qubit followed "
                 "by its first neighbour, read with get_neighbors; Stim: row by row)",
    "cluster2d_rows": "2D cluster state, measured row by row: the same, with ordavine "
                      "measuring in row-major order",
    "ghz": "GHZ state: h(0), then cx(0, i) for every other qubit",
    "random": "Random Clifford circuits: depth 100 (a random single-qubit gate on every qubit "
              "and random disjoint cx/cz pairs per layer), then a random-basis measurement "
              "of every qubit",
}
PEERS = {
    "ours": "ordavine",
    "stim": "Stim per call",
    "stim-circuit": "Stim circuit",
    "stim-sampler": "Stim sampler",
}

PERCALL_CASES = [
    # (key, description, floor used for the ratio)
    ("h", "single-qubit gate `h(q)`", "floor_get"),
    ("cz_sparse", "`cz(a, b)`, disjoint pairs on a 1D cluster (degree <= 2)", "floor_is"),
    ("cx_sparse", "`cx(a, b)`, 1D-cluster qubit to a leaf (degree <= 2)", "floor_is"),
    ("measure_determined", "`measure_z(q)`, isolated qubit, outcome fixed", "floor_get"),
    ("measure_random_isolated", "`measure_x(q)`, isolated qubit, random outcome", "floor_get"),
    ("measure_z_cluster", "`measure_z(q)` on a 1D cluster, every qubit in turn", "floor_get"),
    ("measure_x_cluster", "`measure_x(q)` on a 1D cluster, every qubit in turn", "floor_get"),
    ("entangled_group_small", "`get_entangled_group(q)`, groups of 4", "floor_get"),
    ("peek_small", "`peek_measure_set({q})`, groups of 4", "floor_get"),
]
FLOORS = [
    ("floor_get", "`{}.get(q)` (bound fast-call C method, one argument)"),
    ("floor_is", "`operator.is_(a, b)` (C function, two arguments)"),
    ("empty_loop", "empty loop body (`for q in chunk: pass`)"),
]


# --- child processes -----------------------------------------------------------


class Runner:
    """One implementation under one interpreter."""

    def __init__(self, impl, python, interp_label):
        self.impl = impl
        self.python = python
        self.interp = interp_label

    @property
    def key(self):
        return "%s|%s" % (self.impl, self.interp)

    @property
    def label(self):
        if self.impl == "ours":
            return "ordavine (%s)" % self.interp
        return PEERS[self.impl]


def run_child(python, job, limit):
    """Runs one child; returns its parsed result with status and wall time."""
    cmd = [python, WORKLOADS, json.dumps(job)]
    env = dict(os.environ)
    env.pop("PYTHONDEVMODE", None)
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            universal_newlines=True, env=env, cwd=HERE)
    timed_out = False
    try:
        out, err = proc.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        timed_out = True
        proc.kill()
        out, err = proc.communicate()
    wall = time.perf_counter() - start
    progress, result = None, None
    for line in out.splitlines():
        kind, _, payload = line.partition(" ")
        if kind == "progress":
            progress = json.loads(payload)
        elif kind == "result":
            result = json.loads(payload)
    if timed_out:
        return {"status": "budget", "wall": wall, "progress": progress}
    if result is None or proc.returncode != 0:
        status = "oom" if (result or {}).get("error") == "out of memory" or \
            proc.returncode in (-9, 137) or "MemoryError" in err or "bad_alloc" in err \
            else "error"
        return {"status": status, "wall": wall, "returncode": proc.returncode,
                "stderr": err[-2000:], "progress": progress}
    result["status"] = "ok"
    result["wall"] = wall
    return result


def stim_tableau_bytes(n):
    # The inverse tableau: X and Z parts of 2n rows of 2n bits.
    return n * n // 2


class Bench:
    def __init__(self, args, mode):
        self.args = args
        self.mode = mode
        self.cfg = MODES[mode]
        self.budget = args.budget if args.budget else self.cfg["budget"]
        self.reps = args.reps if args.reps else self.cfg["reps"]
        self.mem_limit = int(args.mem_limit_gb * 2 ** 30)
        self.results = []  # every child run, in order
        self.export = []  # the report lines of bench/export_bench.py
        self.t0 = time.perf_counter()

    def log(self, text):
        sys.stderr.write("[%7.1fs] %s\n" % (time.perf_counter() - self.t0, text))
        sys.stderr.flush()

    def record(self, workload, runner, n, rep, result, extra=None):
        entry = {"workload": workload, "impl": runner.impl, "interp": runner.interp,
                 "n": n, "rep": rep}
        entry.update(extra or {})
        result = dict(result)
        if "n" in result:
            entry["n_actual"] = result.pop("n")
        entry.update(result)
        self.results.append(entry)
        return entry

    def percall(self, runners):
        for n in self.cfg["percall_sizes"]:
            for rep in range(self.reps):
                for runner in runners:
                    job = {"workload": "percall", "impl": runner.impl, "n": n,
                            "calls": self.cfg["percall_calls"], "case_cap": self.cfg["case_cap"],
                            "mem_limit_bytes": self.mem_limit}
                    if runner.impl == "stim" and stim_tableau_bytes(n) > self.mem_limit // 2:
                        continue
                    result = run_child(runner.python, job, limit=max(4 * self.budget, 120))
                    self.record("percall", runner, n, rep, result)
                    self.log("percall n=%d %s rep %d: %s" % (n, runner.label, rep + 1,
                                                            result["status"]))

    def scaling(self, workload, sizes, runners, extra=None):
        """Runs every size in ascending order, reps interleaved across runners."""
        stopped = {}  # runner key -> size at which it stopped
        for n in sizes:
            spent = {r.key: 0.0 for r in runners}
            last = {r.key: 0.0 for r in runners}
            done = {r.key: False for r in runners}
            for runner in runners:
                if runner.key in stopped:
                    self.record(workload, runner, n, 0, {"status": "skipped",
                                "after": stopped[runner.key]}, extra)
                    done[runner.key] = True
                elif runner.impl.startswith("stim") and \
                        stim_tableau_bytes(n) > self.mem_limit // 2:
                    self.record(workload, runner, n, 0, {"status": "memory",
                                "estimate": stim_tableau_bytes(n)}, extra)
                    stopped[runner.key] = n
                    done[runner.key] = True
            for rep in range(self.reps):
                for runner in runners:
                    key = runner.key
                    if done[key]:
                        continue
                    if rep > 0 and spent[key] + last[key] > self.budget:
                        done[key] = True
                        continue
                    job = {"workload": workload, "impl": runner.impl, "n": n,
                            "mem_limit_bytes": self.mem_limit}
                    job.update(extra or {})
                    result = run_child(runner.python, job, limit=self.budget + 2.0)
                    self.record(workload, runner, n, rep, result, extra)
                    if result["status"] == "ok":
                        spent[key] += result["wall"]
                        last[key] = result["wall"]
                        self.log("%s n=%d %s rep %d: %.4g s" % (
                            workload, n, runner.label, rep + 1, result["seconds"]))
                    else:
                        self.log("%s n=%d %s rep %d: %s" % (workload, n, runner.label, rep + 1,
                                                           describe_failure(result, self.budget)))
                        done[key] = True
                        stopped[key] = n

    def run(self, runners_cpython, runners_pypy):
        only = set(self.args.only.split(",")) if self.args.only else None

        def wanted(name):
            return only is None or name in only

        ours = [r for r in runners_cpython if r.impl == "ours"] + runners_pypy
        stim_call = [r for r in runners_cpython if r.impl == "stim"]
        batched = [r for r in runners_cpython if r.impl in self.cfg["stim_batched"]]
        if wanted("percall"):
            self.percall(ours[:1] + stim_call + ours[1:])
        for workload in SCALING:
            if wanted(workload):
                peers = [] if workload in OURS_ONLY else stim_call + batched
                self.scaling(workload, self.cfg[workload], ours + peers)
        if wanted("peek"):
            for dims in (1, 2):
                self.scaling("peek", self.cfg["peek"], ours, {"dims": dims})
        if wanted("export"):
            self.export = export_bench.section(self.args.python, self.mode, self.log)
        if wanted("sweeps"):
            for order in sweeps.ORDERS:
                self.scaling("sweep2d", self.cfg["sweeps"], ours, {"order": order})


def describe_failure(result, budget):
    status = result.get("status")
    progress = result.get("progress") or {}
    where = ""
    if progress.get("phase"):
        where = "; in %s" % progress["phase"]
        if progress.get("total", 0) > 1:
            where += " after %s of %s" % (progress.get("done"), progress.get("total"))
    if status == "budget":
        return "stopped at budget (> %g s%s)" % (budget, where)
    if status == "oom":
        return "out of memory%s" % where
    if status == "memory":
        return "not run (tableau needs about %.1f GB)" % (result["estimate"] / 1e9)
    if status == "skipped":
        return "not run (stopped at n=%s)" % fmt_n(result["after"])
    return "failed (exit %s): %s" % (result.get("returncode"),
                                    (result.get("stderr") or "").strip().splitlines()[-1:])


# --- machine and versions ----------------------------------------------------------


def read_first(path, prefix):
    try:
        with open(path) as f:
            for line in f:
                if line.startswith(prefix):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "?"


def machine_info():
    info = {
        "cpu": read_first("/proc/cpuinfo", "model name"),
        "mhz": read_first("/proc/cpuinfo", "cpu MHz"),
        "cores": os.cpu_count(),
        "memory": read_first("/proc/meminfo", "MemTotal"),
        "kernel": platform.release(),
    }
    try:
        with open("/proc/loadavg") as f:
            info["loadavg"] = " ".join(f.read().split()[:3])
    except OSError:
        info["loadavg"] = "?"
    return info


def interpreter_info(python):
    code = ("import sys, platform; print(platform.python_implementation() + ' ' + "
            "platform.python_version() + ' (' + sys.version.replace(chr(10), ' ') + ')')")
    try:
        return subprocess.check_output([python, "-c", code], universal_newlines=True).strip()
    except (OSError, subprocess.CalledProcessError):
        return "?"


def module_info(python, module, expr):
    code = "import %s; print(%s)" % (module, expr)
    try:
        return subprocess.check_output([python, "-c", code], universal_newlines=True,
                                       stderr=subprocess.DEVNULL, cwd=HERE).strip()
    except (OSError, subprocess.CalledProcessError):
        return None


def build_info(python):
    """Where the interpreter's ordavine comes from, and when it was built."""
    code = ("import ordavine, os, time; f = ordavine.__file__; "
            "print(f + ', installed ' + time.strftime('%Y-%m-%d %H:%M UTC', "
            "time.gmtime(os.path.getmtime(f))))")
    try:
        return subprocess.run([python, "-c", code], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, universal_newlines=True,
                              cwd=HERE).stdout.strip() or "?"
    except OSError:
        return "?"


def git_info():
    try:
        commit = subprocess.check_output(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"],
                                         universal_newlines=True).strip()
        dirty = subprocess.check_output(["git", "-C", ROOT, "status", "--porcelain",
                                         "--untracked-files=no", "src"],
                                        universal_newlines=True).strip()
        return commit + (" (with uncommitted changes under src/)" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return "?"


# --- aggregation ------------------------------------------------------------------------


def fmt_n(n):
    n = int(n)
    if n >= 1000 and n % 1000 == 0:
        exp = int(math.floor(math.log10(n)))
        mant = n / 10 ** exp
        if mant == int(mant):
            return "%d·10^%d" % (mant, exp) if mant != 1 else "10^%d" % exp
    return "{:,}".format(n).replace(",", " ")


def fmt_s(seconds):
    if seconds is None:
        return "—"
    if seconds >= 100:
        return "%.0f s" % seconds
    if seconds >= 1:
        return "%.2f s" % seconds
    if seconds >= 1e-3:
        return "%.3g ms" % (seconds * 1e3)
    return "%.3g µs" % (seconds * 1e6)


def fmt_ns(ns):
    if ns is None:
        return "—"
    if ns >= 1e6:
        return "%.3g ms" % (ns / 1e6)
    if ns >= 1e4:
        return "%.3g µs" % (ns / 1e3)
    return "%.0f ns" % ns if ns >= 100 else "%.1f ns" % ns


def fmt_ratio(r):
    if r is None:
        return "—"
    if r < 0.1:
        return "%.2g×" % r
    if r >= 100:
        return "%.0f×" % r
    if r >= 10:
        return "%.1f×" % r
    return "%.2f×" % r


def median(values):
    return statistics.median(values) if values else None


class Table:
    def __init__(self, results):
        self.results = results

    def runs(self, workload, impl, interp, n=None, extra=None):
        out = []
        for r in self.results:
            if r["workload"] != workload or r["impl"] != impl or r["interp"] != interp:
                continue
            if n is not None and r["n"] != n:
                continue
            if extra and any(r.get(k) != v for k, v in extra.items()):
                continue
            out.append(r)
        return out

    def sizes(self, workload, extra=None):
        return sorted({r["n"] for r in self.results if r["workload"] == workload and
                       (not extra or all(r.get(k) == v for k, v in extra.items()))})

    def cell(self, workload, impl, interp, n, extra=None):
        """Summary of one (implementation, size): ok runs or the failure."""
        runs = self.runs(workload, impl, interp, n, extra)
        if not runs:
            return None
        ok = [r for r in runs if r["status"] == "ok"]
        bad = [r for r in runs if r["status"] != "ok"]
        cell = {"runs": len(ok), "failure": bad[0] if bad else None}
        if ok:
            secs = [r["seconds"] for r in ok]
            cell.update(median=median(secs), min=min(secs), max=max(secs),
                        n_actual=ok[0].get("n_actual", ok[0]["n"]))
            phases = {}
            for r in ok:
                for k, v in (r.get("phases") or {}).items():
                    phases.setdefault(k, []).append(v)
            cell["phases"] = {k: median(v) for k, v in phases.items()}
            cell["rss_peak"] = max(r["rss_peak"] for r in ok)
            cell["rss_growth"] = median([r["rss_peak"] - r["rss_baseline"] for r in ok])
        return cell


def cell_text(cell, budget, spread=True):
    if cell is None:
        return "—"
    if cell["runs"] == 0:
        return describe_failure(cell["failure"], budget)
    text = fmt_s(cell["median"])
    if spread and cell["runs"] > 1:
        text += " [%s–%s]" % (fmt_s(cell["min"]).split()[0], fmt_s(cell["max"]))
    if cell["failure"] is not None and cell["failure"]["status"] not in ("skipped",):
        text += " (a later rep: %s)" % describe_failure(cell["failure"], budget)
    return text


def ratio(a, b):
    if not a or not b or a.get("median") is None or b.get("median") is None:
        return None
    return a["median"] / b["median"]


# --- report --------------------------------------------------------------------------


def percall_section(table, interp, budget, with_stim):
    lines = []
    sizes = sorted({r["n"] for r in table.results
                    if r["workload"] == "percall" and r["interp"] == interp and r["impl"] == "ours"})
    for n in sizes:
        ours = [r for r in table.runs("percall", "ours", interp, n) if r["status"] == "ok"]
        stim = [r for r in table.runs("percall", "stim", "CPython", n) if r["status"] == "ok"] \
            if with_stim else []
        if not ours:
            continue
        lines.append("")
        lines.append("Register of %s qubits; %d child processes%s. Times are ns per call "
                     "including the loop, median over processes [min–max]; ratios are "
                     "taken per process against the floor loop of that same process." % (
                         fmt_n(n), len(ours),
                         " for ordavine, %d for Stim" % len(stim) if with_stim else ""))
        lines.append("")
        head = "| Method kind | ordavine | vs floor | ours / floor"
        sep = "|---|---:|---|---:"
        if with_stim:
            head += " | Stim per call | Stim / ours"
            sep += "|---:|---:"
        lines.append(head + " |")
        lines.append(sep + "|")

        def stats(runs, key):
            vals = [r["cases"][key]["ns"] for r in runs if key in r["cases"]]
            if not vals:
                return None
            return {"median": median(vals), "min": min(vals), "max": max(vals)}

        def ns_cell(st):
            if st is None:
                return "—"
            return "%s [%s–%s]" % (fmt_ns(st["median"]), fmt_ns(st["min"]).split()[0],
                                   fmt_ns(st["max"]))

        for key, desc, floor in PERCALL_CASES:
            st = stats(ours, key)
            if st is None:
                continue
            ratios = [r["cases"][key]["ns"] / r["cases"][floor]["ns"] for r in ours
                      if key in r["cases"]]
            fl = "`{}.get`" if floor == "floor_get" else "`operator.is_`"
            row = "| %s | %s | %s | %s" % (desc, ns_cell(st), fl, fmt_ratio(median(ratios)))
            if with_stim:
                sst = stats(stim, key)
                if key == "measure_x_cluster" and sst is not None:
                    row += " | %s (h + measure)" % ns_cell(sst)
                else:
                    row += " | %s" % (ns_cell(sst) if sst else "n/a")
                row += " | %s" % (fmt_ratio(sst["median"] / st["median"]) if sst else "—")
            lines.append(row + " |")
        for key, desc in FLOORS:
            st = stats(ours, key)
            row = "| floor: %s | %s | | " % (desc, ns_cell(st))
            if with_stim:
                row += " | | "
            lines.append(row + " |")
    return lines


def local_slopes(points):
    """log-log slope between consecutive (n, t) points."""
    out = {}
    for (n0, t0), (n1, t1) in zip(points, points[1:]):
        out[n1] = math.log(t1 / t0) / math.log(n1 / n0)
    return out


def scaling_section(table, workload, runners, budget):
    lines = ["", "### " + TITLES[workload], ""]
    sizes = table.sizes(workload)
    ours_runners = [r for r in runners if r.impl == "ours"]
    main = ours_runners[0] if ours_runners else None

    def shown_n(n):
        for r in runners:
            c = table.cell(workload, r.impl, r.interp, n)
            if c and c.get("n_actual"):
                return c["n_actual"]
        return n

    # Times, one column per implementation; peers also as a ratio to ours.
    lines.append("| qubits | " + " | ".join(r.label for r in runners) + " |")
    lines.append("|---:|" + "---:|" * len(runners))
    for n in sizes:
        base = table.cell(workload, main.impl, main.interp, n) if main else None
        row = [fmt_n(shown_n(n))]
        for r in runners:
            c = table.cell(workload, r.impl, r.interp, n)
            text = cell_text(c, budget)
            if r is not main and c and c["runs"] and base and base["runs"]:
                text += " (%s ours)" % fmt_ratio(ratio(c, base))
            row.append(text)
        lines.append("| " + " | ".join(row) + " |")

    # ordavine's phases and memory (first interpreter), and its slopes.
    slopes = {}
    for r in ours_runners:
        pts = []
        for n in sizes:
            c = table.cell(workload, r.impl, r.interp, n)
            if c and c["runs"]:
                pts.append((c["n_actual"], c["median"]))
        slopes[r.key] = local_slopes(pts)
    lines.append("")
    head = ["qubits", "%s phases" % main.label, "peak RSS (growth per qubit)"]
    head += ["slope, %s" % r.label for r in ours_runners]
    lines.append("| " + " | ".join(head) + " |")
    lines.append("|---:|---|---:|" + "---:|" * len(ours_runners))
    for n in sizes:
        c = table.cell(workload, main.impl, main.interp, n)
        row = [fmt_n(shown_n(n))]
        if c and c["runs"]:
            row.append(", ".join("%s %s" % (k, fmt_s(v)) for k, v in c["phases"].items()
                                 if k != "alloc" or v > 1e-3))
            row.append("%.1f MB (%.0f B)" % (c["rss_peak"] / 1e6, c["rss_growth"] / c["n_actual"]))
        else:
            row += ["", ""]
        for r in ours_runners:
            rc = table.cell(workload, r.impl, r.interp, n)
            sl = slopes[r.key].get(rc["n_actual"]) if rc and rc["runs"] else None
            row.append("%.2f" % sl if sl is not None else "")
        lines.append("| " + " | ".join(row) + " |")
    return lines


def peek_section(table, runners, budget):
    lines = ["", "### `peek_measure_set` of 4 qubits on a large cluster state", "",
             "Time per call (median of 5 calls in each process, median over processes "
             "[min–max]); the cluster state is built before the clock starts.", ""]
    ours_runners = [r for r in runners if r.impl == "ours"]
    head = ["lattice", "qubits"]
    for r in ours_runners:
        head += [r.label, "ns per register qubit"]
    lines.append("| " + " | ".join(head) + " |")
    lines.append("|---|" + "---:|" * (len(head) - 1))
    for dims in (1, 2):
        for n in table.sizes("peek", {"dims": dims}):
            row = ["%dD" % dims, None]
            for r in ours_runners:
                c = table.cell("peek", r.impl, r.interp, n, {"dims": dims})
                row.append(cell_text(c, budget))
                if c and c["runs"]:
                    row[1] = row[1] or fmt_n(c["n_actual"])
                    row.append("%.1f" % (c["median"] * 1e9 / c["n_actual"]))
                else:
                    row.append("")
            row[1] = row[1] or fmt_n(n)
            lines.append("| " + " | ".join(row) + " |")
    return lines


def headline(table, runners, budget):
    """A few ratios the performance work tracks, measured in this run."""
    out = []
    ours = [r for r in table.results if r["workload"] == "percall" and r["impl"] == "ours"
            and r["interp"] == "CPython" and r["status"] == "ok"]
    if ours:
        n0 = min(r["n"] for r in ours)
        ours = [r for r in ours if r["n"] == n0]

        def rat(key, floor):
            return median([r["cases"][key]["ns"] / r["cases"][floor]["ns"] for r in ours])

        out.append("- Single-qubit gate `h`: %s `{}.get(q)`; `cz` on a sparse graph: %s "
                   "`operator.is_(a, b)`; `cx` on a sparse graph: %s `operator.is_(a, b)` "
                   "(register of %s qubits)." % (
                       fmt_ratio(rat("h", "floor_get")), fmt_ratio(rat("cz_sparse", "floor_is")),
                       fmt_ratio(rat("cx_sparse", "floor_is")), fmt_n(n0)))
        stim = [r for r in table.results if r["workload"] == "percall" and r["impl"] == "stim"
                and r["status"] == "ok" and r["n"] == n0]
        if stim:
            def med(runs, key):
                return median([r["cases"][key]["ns"] for r in runs])
            out.append("- Stim per call / ordavine per call: `h` %s, `cz` %s, `cx` %s, "
                       "random isolated measurement %s." % (
                           fmt_ratio(med(stim, "h") / med(ours, "h")),
                           fmt_ratio(med(stim, "cz_sparse") / med(ours, "cz_sparse")),
                           fmt_ratio(med(stim, "cx_sparse") / med(ours, "cx_sparse")),
                           fmt_ratio(med(stim, "measure_random_isolated") /
                                     med(ours, "measure_random_isolated"))))
    for workload, n in (("cluster2d", 1000000), ("cluster1d", 10000000)):
        c = table.cell(workload, "ours", "CPython", n)
        if c is not None:
            text = cell_text(c, budget, spread=False)
            if c["runs"]:
                text += ", %.0f bytes of peak memory growth per qubit" % (
                    c["rss_growth"] / c["n_actual"])
            out.append("- %s of %s qubits: %s." % (
                "2D cluster" if workload == "cluster2d" else "1D cluster", fmt_n(n), text))
    c_ours = table.cell("cluster2d", "ours", "CPython", 10000)
    for impl in ("stim-circuit", "stim-sampler"):
        c = table.cell("cluster2d", impl, "CPython", 10000)
        if c_ours and c and c.get("median") and c_ours.get("median"):
            out.append("- 2D cluster of 10^4 qubits: %s / ordavine = %s." % (
                PEERS[impl], fmt_ratio(ratio(c, c_ours))))
    # GHZ around 10^4 qubits: that size if it was run, else its neighbours.
    ghz_sizes = table.sizes("ghz")
    near = [n for n in ghz_sizes if n == 10000] or \
        [n for n in ghz_sizes if n < 10000][-1:] + [n for n in ghz_sizes if n > 10000][:1]
    for n in near:
        g_ours = table.cell("ghz", "ours", "CPython", n)
        g_stim = table.cell("ghz", "stim", "CPython", n)
        text = "- GHZ of %s qubits: ordavine %s, Stim per call %s" % (
            fmt_n(n), cell_text(g_ours, budget, False), cell_text(g_stim, budget, False))
        if g_ours and g_stim and g_ours.get("median") and g_stim.get("median"):
            text += " (Stim / ordavine %s)" % fmt_ratio(ratio(g_stim, g_ours))
        out.append(text + ".")
    pts = []
    for n in table.sizes("ghz"):
        c = table.cell("ghz", "ours", "CPython", n)
        if c and c["runs"]:
            pts.append((n, c["median"]))
    if len(pts) >= 2:
        doubling = ["%s→%s: %s" % (fmt_n(a[0]), fmt_n(b[0]), fmt_ratio(b[1] / a[1]))
                    for a, b in zip(pts, pts[1:]) if b[0] == 2 * a[0]]
        if doubling:
            out.append("- GHZ time ratio when n doubles (ordavine, CPython): %s." %
                       "; ".join(doubling))
    return out


GLANCE = [
    ("percall", "h", "`h`"),
    ("percall", "cz_sparse", "`cz` sparse"),
    ("percall", "cx_sparse", "`cx` sparse"),
    ("percall", "measure_x_cluster", "`measure_x` 1D cluster"),
    ("cluster1d", 100000, "1D cluster 10^5"),
    ("cluster2d", 10000, "2D cluster 10^4"),
    ("ghz", 1000, "GHZ 10^3"),
    ("random", 100, "random circuit 100"),
]


def at_a_glance(table, runners, budget):
    """One row per ordavine build/interpreter: a few per-call costs and runs."""
    ours = [r for r in runners if r.impl == "ours"]
    if len(ours) < 2:
        return []
    lines = ["", "### Builds and interpreters at a glance", "",
             "Per-call columns: ns per call on a register of the smallest per-call size; "
             "the others: median seconds of the whole workload.", ""]
    lines.append("| | " + " | ".join(name for _, _, name in GLANCE) + " |")
    lines.append("|---|" + "---:|" * len(GLANCE))
    for r in ours:
        row = [r.label]
        percall = [x for x in table.runs("percall", r.impl, r.interp) if x["status"] == "ok"]
        n0 = min((x["n"] for x in percall), default=None)
        for workload, key, _ in GLANCE:
            if workload == "percall":
                vals = [x["cases"][key]["ns"] for x in percall if x["n"] == n0 and
                        key in x["cases"]]
                row.append(fmt_ns(median(vals)) if vals else "—")
            else:
                c = table.cell(workload, r.impl, r.interp, key)
                if c is None:
                    row.append("—")
                elif c["runs"]:
                    row.append(fmt_s(c["median"]))
                elif c["failure"]["status"] == "budget":
                    row.append("> %g s (budget)" % budget)
                else:
                    row.append(describe_failure(c["failure"], budget))
        lines.append("| " + " | ".join(row) + " |")
    return lines


def write_report(path, meta, results, runners, plot_name):
    table = Table(results)
    budget = meta["budget"]
    m = meta["machine"]
    lines = [
        "# ordavine benchmark report",
        "",
        "- Date: %s" % meta["date"],
        "- Command: `%s` (%s mode; %d repetitions per size, time budget %g s per run; "
        "wall time of the whole run %s)" % (meta["command"], meta["mode"], meta["reps"], budget,
                                            fmt_s(meta["elapsed"])),
        "- Machine: %s, %s logical cores (%s MHz), %s memory, Linux %s; load average "
        "%s at the start, %s at the end" % (m["cpu"], m["cores"], m["mhz"], m["memory"],
                                            m["kernel"], m["loadavg"], meta["loadavg_end"]),
    ]
    for label, text in meta["interpreters"]:
        lines.append("- %s: %s" % (label, text))
    lines.append("- ordavine: repository at commit %s%s" % (
        meta["git"], "; installed from the %s" % meta["installed"]
        if meta.get("installed") else ""))
    for label, text in meta.get("builds") or []:
        lines.append("  - %s build: %s" % (label, text))
    lines += [
        "- Stim: %s" % (meta["stim"] or "not available"),
        "",
        "Every number comes from fresh child processes. Medians over processes, with "
        "[min–max] over the same processes. Memory is the child's peak resident set "
        "(ru_maxrss); the growth per qubit is the peak minus the peak before the workload "
        "started, divided by the qubit count. Runs longer than the budget are stopped and "
        "reported as such; larger sizes of that workload are then not run for that "
        "implementation.",
        "",
        "## Headline",
        "",
    ]
    lines += headline(table, runners, budget)
    lines += at_a_glance(table, runners, budget)
    lines += ["", "## Per-call cost"]
    for r in runners:
        if r.impl != "ours":
            continue
        main = r.interp == "CPython"
        lines += ["", "### %s%s" % (r.label, "" if main else " (no Stim column)")]
        if "PyPy" in r.interp:
            lines += ["", "Under PyPy the JIT compiles the floor loops to almost nothing "
                      "(`{}.get` and `operator.is_` are not C calls there), so the floor "
                      "ratios only say how far a call through the C extension interface is "
                      "from the JIT's own code; compare the ns columns across builds instead."]
        lines += percall_section(table, r.interp, budget, with_stim=main)
    lines += ["", "## Scaling", "",
              "![time against qubit count](%s)" % plot_name, "",
              "Total time per run: register creation, gates and measurements (phases "
              "listed). *slope* is the log-log slope of ordavine's median time against the "
              "previous size. Stim per call drives `stim.TableauSimulator` one call per gate "
              "(an X measurement is `h` then `measure`); Stim circuit runs the same "
              "workload as one `stim.Circuit` through `TableauSimulator.do_circuit`; Stim "
              "sampler through `compile_sampler().sample(1)`; circuits are built before the "
              "clock starts."]
    for workload in SCALING:
        if table.sizes(workload):
            lines += scaling_section(table, workload, runners, budget)
    if table.sizes("peek"):
        lines += peek_section(table, runners, budget)
    lines += meta.get("export") or []
    lines += sweeps.report_section(table, runners, budget, fmt_n, fmt_s, fmt_ratio, cell_text)
    if meta.get("cpp"):
        lines += ["", "## C++ micro-benchmark", "",
                  "`%s`, in the same run." % meta["cpp_command"], ""]
        lines += [l.replace("## ", "### ", 1) if l.startswith("## ") else l
                  for l in meta["cpp"].splitlines()]
    if meta.get("saved_state"):
        lines += saved_state.report_lines(meta["saved_state"])
    lines.append("")
    with open(path, "w") as f:
        f.write("\n".join(lines))


# --- plot ----------------------------------------------------------------------------------

STYLE = {
    ("ours", "CPython"): dict(color="C0", marker="o", linestyle="-"),
    ("ours", "PyPy"): dict(color="C2", marker="s", linestyle="-"),
    ("stim", "CPython"): dict(color="C3", marker="^", linestyle="--"),
    ("stim-circuit", "CPython"): dict(color="C1", marker="v", linestyle=":"),
    ("stim-sampler", "CPython"): dict(color="C4", marker="D", linestyle=":"),
}


def write_plot(path, results, runners, budget, meta):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    table = Table(results)
    workloads = [w for w in ("cluster1d", "cluster2d", "ghz") if table.sizes(w)]
    if not workloads:
        return False
    fig, axes = plt.subplots(1, len(workloads), figsize=(5.2 * len(workloads), 4.6),
                             squeeze=False)
    names = {"cluster1d": "1D cluster: build + measure_x all",
             "cluster2d": "2D cluster: build + measure_x all",
             "ghz": "GHZ: h(0), cx(0, i)"}
    for ax, workload in zip(axes[0], workloads):
        for r in runners:
            xs, ys, stop = [], [], None
            for n in table.sizes(workload):
                c = table.cell(workload, r.impl, r.interp, n)
                if c is None:
                    continue
                if c["runs"]:
                    xs.append(c["n_actual"])
                    ys.append(c["median"])
                elif c["failure"]["status"] == "budget" and stop is None:
                    stop = n
            if not xs and stop is None:
                continue
            style = STYLE.get((r.impl, r.interp))
            if style is None:
                extra = [k for k in runners if (k.impl, k.interp) not in STYLE]
                style = dict(color="C%d" % (5 + extra.index(r)), marker=".", linestyle="-.")
            ax.plot(xs, ys, label=r.label, **style)
            if stop is not None:
                ax.plot([stop], [budget], marker="x", color=style.get("color"), markersize=10,
                        linestyle="none")
        ax.axhline(budget, color="grey", linewidth=0.8, linestyle="--")
        ax.text(ax.get_xlim()[0] if False else 0.02, budget, " budget (x: stopped)",
                transform=ax.get_yaxis_transform(), va="bottom", fontsize=8, color="grey")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("qubits")
        ax.set_ylabel("seconds (median)")
        ax.set_title(names[workload], fontsize=10)
        ax.grid(True, which="both", linewidth=0.3)
    handles, labels = [], []
    for ax in axes[0]:
        for h, l in zip(*ax.get_legend_handles_labels()):
            if l not in labels:
                handles.append(h)
                labels.append(l)
    fig.legend(handles, labels, loc="lower center", ncol=min(len(labels), 4), fontsize=8,
               frameon=False)
    fig.suptitle("ordavine vs Stim: median time of the whole workload, %s, %s" % (
        meta["date"][:10], meta["machine"]["cpu"]), fontsize=10)
    rows = (len(labels) + 3) // 4
    fig.tight_layout(rect=(0, 0.05 * rows + 0.02, 1, 1))
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return True


# --- main ------------------------------------------------------------------------------------


def find_pypy():
    for candidate in (os.path.join(ROOT, ".venv-bench-pypy", "bin", "python"),
                      os.path.join(ROOT, ".venv-pypy", "bin", "python")):
        if os.path.exists(candidate) and module_info(candidate, "ordavine", "1"):
            return candidate
    return None


def install(pythons, ref):
    """pip-installs ordavine into each interpreter, from the working tree or
    from a clean export of commit `ref`; returns a description of the source."""
    import tempfile

    source, described = ROOT, "working tree of %s" % git_info()
    tmp = None
    if ref != "WORKTREE":
        sha = subprocess.check_output(["git", "-C", ROOT, "rev-parse", "--short", ref],
                                      universal_newlines=True).strip()
        tmp = tempfile.mkdtemp(prefix="ordavine-bench-")
        archive = subprocess.Popen(["git", "-C", ROOT, "archive", sha], stdout=subprocess.PIPE)
        subprocess.check_call(["tar", "-x", "-C", tmp], stdin=archive.stdout)
        archive.wait()
        source, described = tmp, "commit %s (clean export)" % sha
    try:
        for python in pythons:
            sys.stderr.write("installing ordavine from %s into %s\n" % (described, python))
            subprocess.check_call([python, "-m", "pip", "install", "-q", "--no-deps",
                                   "--force-reinstall", source])
    finally:
        if tmp:
            shutil.rmtree(tmp, ignore_errors=True)
    return described


def build_runners(args, cfg):
    runners_cpython = [Runner("ours", args.python, "CPython")]
    stim_version = module_info(args.python, "stim", "stim.__version__ + ' (' + "
                               "type(stim.TableauSimulator()).__module__ + ')'")
    if stim_version and not args.no_stim:
        runners_cpython.append(Runner("stim", args.python, "CPython"))
        for impl in cfg["stim_batched"]:
            runners_cpython.append(Runner(impl, args.python, "CPython"))
    runners_pypy = []
    pypy = args.pypy_python or (find_pypy() if args.pypy else None)
    if args.pypy and not pypy:
        sys.exit("--pypy: no PyPy venv with ordavine found (.venv-bench-pypy or .venv-pypy); "
                 "give one with --pypy-python PATH")
    if pypy:
        runners_pypy.append(Runner("ours", pypy, "PyPy"))
    for item in args.also or []:
        label, sep, python = item.partition("=")
        if not sep or not label or not python:
            sys.exit("--also takes LABEL=PYTHON, got %r" % item)
        runners_pypy.append(Runner("ours", python, label))
    return runners_cpython, runners_pypy, stim_version, pypy


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, short budget")
    parser.add_argument("--smoke", action="store_true",
                        help="tiny sizes that only check the harness works (seconds)")
    parser.add_argument("--out", default=os.path.join(HERE, "out"), help="output directory")
    parser.add_argument("--python", default=sys.executable,
                        help="CPython interpreter with ordavine and stim (default: this one)")
    parser.add_argument("--pypy", action="store_true",
                        help="also run under PyPy, from .venv-bench-pypy or .venv-pypy")
    parser.add_argument("--pypy-python", help="PyPy interpreter with ordavine installed")
    parser.add_argument("--budget", type=float, help="seconds per run before it is stopped")
    parser.add_argument("--reps", type=int, help="repetitions per size")
    parser.add_argument("--mem-limit-gb", type=float, default=8.0,
                        help="address-space limit of each child (default 8)")
    parser.add_argument("--only", help="comma-separated workloads: percall,cluster1d,"
                        "cluster2d,cluster2d_rows,ghz,random,peek,export,saved_state,circuits,frames,sweeps")
    parser.add_argument("--also", action="append", metavar="LABEL=PYTHON",
                        help="also run ordavine under this interpreter (another build, "
                        "for instance a baseline commit), labelled LABEL; repeatable")
    parser.add_argument("--install", nargs="?", const="WORKTREE", metavar="REF",
                        help="first pip-install ordavine into the CPython and PyPy "
                        "interpreters, from the working tree or from commit REF")
    parser.add_argument("--cpp-bench", metavar="BINARY",
                        help="also run the C++ micro-benchmark binary and include its tables")
    parser.add_argument("--cpp-args", default="",
                        help="arguments for the C++ micro-benchmark (one string)")
    parser.add_argument("--no-stim", action="store_true", help="leave Stim out")
    parser.add_argument("--publish", action="store_true",
                        help="copy report and plot to bench/results/")
    parser.add_argument("--report-only", metavar="RESULTS_JSON",
                        help="rewrite report and plot from a results.json")
    args = parser.parse_args(argv)

    os.makedirs(args.out, exist_ok=True)
    if args.report_only:
        with open(args.report_only) as f:
            saved = json.load(f)
        meta, results = saved["meta"], saved["results"]
        runners = [Runner(*r) for r in meta["runners"]]
    else:
        mode = "smoke" if args.smoke else "quick" if args.quick else "full"
        cfg = MODES[mode]
        runners_cpython, runners_pypy, stim_version, pypy = build_runners(args, cfg)
        installed = None
        if args.install:
            installed = install([args.python] + ([pypy] if pypy else []), args.install)
        if not module_info(args.python, "ordavine", "1"):
            sys.exit("ordavine is not importable by %s; pip install the repository first"
                     % args.python)
        bench = Bench(args, mode)
        started = datetime.datetime.now(datetime.timezone.utc)
        machine = machine_info()
        bench.log("%s run: budget %g s, %d reps; runners: %s" % (
            mode, bench.budget, bench.reps,
            ", ".join(r.label for r in runners_cpython + runners_pypy)))
        bench.run(runners_cpython, runners_pypy)
        runners = runners_cpython + runners_pypy
        cpp = None
        if args.cpp_bench:
            bench.log("C++ micro-benchmark: %s %s" % (args.cpp_bench, args.cpp_args))
            cpp = subprocess.run([args.cpp_bench] + args.cpp_args.split(),
                                 stdout=subprocess.PIPE, universal_newlines=True).stdout
        saved = None
        if not args.only or "saved_state" in args.only.split(","):
            bench.log("saved states and copies of a 2D cluster")
            saved = saved_state.measure([("CPython", args.python)] + ([("PyPy", pypy)] if pypy else []),
                                        mode, bench.reps)
        interpreters = [("CPython", interpreter_info(args.python))]
        if pypy:
            interpreters.append(("PyPy", interpreter_info(pypy)))
        import shlex

        command = "python bench/run.py" + "".join(
            " " + shlex.quote(a) for a in (argv if argv is not None else sys.argv[1:]))
        meta = {
            "date": started.strftime("%Y-%m-%d %H:%M UTC"),
            "mode": mode,
            "command": command,
            "budget": bench.budget,
            "reps": bench.reps,
            "elapsed": time.perf_counter() - bench.t0,
            "machine": machine,
            "loadavg_end": machine_info()["loadavg"],
            "interpreters": interpreters,
            "git": git_info(),
            "installed": installed,
            "builds": [(r.interp, build_info(r.python)) for r in runners if r.impl == "ours"],
            "cpp": cpp,
            "cpp_command": ("%s %s" % (args.cpp_bench, args.cpp_args)).strip()
            if args.cpp_bench else None,
            "stim": stim_version,
            "saved_state": saved,
            "runners": [(r.impl, r.python, r.interp) for r in runners],
            "export": bench.export,
        }
        results = bench.results
        with open(os.path.join(args.out, "results.json"), "w") as f:
            json.dump({"meta": meta, "results": results}, f, indent=1)
    report = os.path.join(args.out, "report.md")
    plot = os.path.join(args.out, "scaling.png")
    have_plot = write_plot(plot, results, runners, meta["budget"], meta)
    write_report(report, meta, results, runners, "scaling.png" if have_plot else "(no plot)")
    if not args.report_only and (not args.only or "circuits" in args.only.split(",")):
        # Whole-circuit ratios (bench/circuits.py), appended to the report.
        pythons = ["%s=%s" % (r.interp, r.python) for r in runners if r.impl == "ours"]
        subprocess.run([sys.executable, os.path.join(HERE, "circuits.py"), "--out", report + ".circuits"]
                       + (["--%s" % mode] if mode != "full" else []) + ["--python=" + p for p in pythons],
                       check=True, stdout=subprocess.DEVNULL)
        with open(report, "a") as f, open(report + ".circuits") as section:
            f.write("\n" + section.read())
    if not args.report_only and (not args.only or "frames" in args.only.split(",")):
        # Many shots as Pauli frames against Stim's samplers (bench/frames.py).
        subprocess.run([sys.executable, os.path.join(HERE, "frames.py"), "--out", report + ".frames"]
                       + (["--%s" % mode] if mode != "full" else []),
                       check=True, stdout=subprocess.DEVNULL)
        with open(report, "a") as f, open(report + ".frames") as section:
            f.write("\n" + section.read())
    have_sweeps = sweeps.write_plot(os.path.join(args.out, "sweeps.png"), Table(results), runners,
                                    meta["budget"], meta["date"])
    sys.stderr.write("report: %s%s\n" % (report, "" if have_plot else
                                         " (no plot: matplotlib missing)"))
    if args.publish:
        dest = os.path.join(HERE, "results")
        os.makedirs(dest, exist_ok=True)
        shutil.copyfile(report, os.path.join(dest, "REPORT.md"))
        if have_plot:
            shutil.copyfile(plot, os.path.join(dest, "scaling.png"))
        if have_sweeps:
            shutil.copyfile(os.path.join(args.out, "sweeps.png"), os.path.join(dest, "sweeps.png"))
        sys.stderr.write("published to %s\n" % dest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
