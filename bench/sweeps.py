"""Measurement orders on a 2D cluster state, and the report section for them.

A measurement-based computation consumes a 2D cluster state one row, column
or diagonal at a time; the cost of the graph updates depends on that order,
because the measured front can grow dense.  Each workload here builds an
L x L cluster (h on all, cz along rows and columns) and measure_x's every
qubit, in one of these orders:

  tailored     anti-diagonal by anti-diagonal, each qubit followed at once by
               its first neighbour (the order of the `cluster2d` workload)
  rows         row by row, in index order
  columns      column by column
  diagonal     anti-diagonal by anti-diagonal, nothing else
  interleaved  build row r+1 (h, cz along it, cz to row r), then measure
               row r: only two rows are alive, as in a running computation

The child side (`run_sweep`) is called from workloads.py; the report side
(`report_section`, `write_plot`) from run.py.  Kept compatible with Python 3.9.
"""

import gc
import math
import time

ORDERS = ("tailored", "rows", "columns", "diagonal", "interleaved")

perf = time.perf_counter


# --- child side ---------------------------------------------------------------


def _orders(side):
    n = side * side
    return {
        "rows": range(n),
        "columns": (r * side + c for c in range(side) for r in range(side)),
        "diagonal": (r * side + (d - r) for d in range(2 * side - 1)
                     for r in range(max(0, d - side + 1), min(d, side - 1) + 1)),
    }


def _build_row(sim, side, r):
    """h on row r, cz along it, then cz from row r-1 down to it."""
    h, cz = sim.h, sim.cz
    base = r * side
    for q in range(base, base + side):
        h(q)
    for q in range(base, base + side - 1):
        cz(q, q + 1)
    if r > 0:
        for q in range(base - side, base):
            cz(q, q + side)


def run_sweep(job, new_ours, build_cluster, lattice_side, measure_x_sweeping, progress):
    """One sweep workload on ordavine; the helpers come from workloads.py."""
    order = job["order"]
    side, n = lattice_side(job["n"])
    phases = {}
    gc.disable()
    t0 = perf()
    sim = new_ours(n)
    t1 = perf()
    phases["alloc"] = t1 - t0
    mx = sim.measure_x
    if order == "interleaved":
        _build_row(sim, side, 0)
        for r in range(side):
            if r + 1 < side:
                _build_row(sim, side, r + 1)
            for q in range(r * side, (r + 1) * side):
                mx(q)
            progress("measure", (r + 1) * side, n, t0)
        t2 = perf()
        phases["build+measure"] = t2 - t1
    else:
        build_cluster(sim, n, 2, side)
        t2 = perf()
        phases["build"] = t2 - t1
        if order == "tailored":
            measure_x_sweeping(sim, n, side, progress, t0)
        else:
            done = 0
            for q in _orders(side)[order]:
                mx(q)
                done += 1
                if done & 1023 == 0:
                    progress("measure", done, n, t0)
        phases["measure"] = perf() - t2
    t3 = perf()
    gc.enable()
    return {"seconds": t3 - t0, "phases": phases, "n": n, "order": order}


# --- report side -----------------------------------------------------------------


def _fit_exponent(points):
    """Least-squares slope of log t against log n over the points."""
    if len(points) < 2:
        return None
    xs = [math.log(n) for n, _ in points]
    ys = [math.log(t) for _, t in points]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    sxx = sum((x - mx) ** 2 for x in xs)
    if sxx == 0:
        return None
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx


def _points(table, runner, order):
    pts = []
    for n in table.sizes("sweep2d", {"order": order}):
        c = table.cell("sweep2d", runner.impl, runner.interp, n, {"order": order})
        if c and c["runs"]:
            pts.append((c["n_actual"], c["median"], c))
    return pts


def report_section(table, runners, budget, fmt_n, fmt_s, fmt_ratio, cell_text):
    """Markdown lines: time per order and size, ratio to the tailored order,
    fitted growth exponent, and peak memory per qubit."""
    if not table.sizes("sweep2d"):
        return []
    ours = [r for r in runners if r.impl == "ours"]
    lines = ["", "## Measurement orders on a 2D cluster state", "",
             "L x L cluster (h on all, cz along rows and columns), then `measure_x` on "
             "every qubit in the order named (see `bench/sweeps.py`): *tailored* is the "
             "order of the 2D headline (anti-diagonals, each qubit followed by its first "
             "neighbour); *rows*, *columns* and *diagonal* are plain index orders; "
             "*interleaved* builds row r+1 and then measures row r. Cells: median total "
             "time [min–max] and the ratio to the tailored order at the same size. "
             "*exponent*: least-squares slope of log time against log n over the sizes "
             "run. *B/qubit*: peak resident memory growth per qubit at the largest size.",
             "", "![time against qubit count per order](sweeps.png)"]
    for runner in ours:
        sizes = table.sizes("sweep2d")
        lines += ["", "### %s" % runner.label, ""]
        lines.append("| qubits | " + " | ".join(ORDERS) + " |")
        lines.append("|---:|" + "---:|" * len(ORDERS))
        shown = {}
        for n in sizes:
            row = []
            base = table.cell("sweep2d", runner.impl, runner.interp, n, {"order": "tailored"})
            for order in ORDERS:
                c = table.cell("sweep2d", runner.impl, runner.interp, n, {"order": order})
                text = cell_text(c, budget)
                if c and c["runs"]:
                    shown[n] = c["n_actual"]
                    if order != "tailored" and base and base["runs"]:
                        text += " (%s)" % fmt_ratio(c["median"] / base["median"])
                row.append(text)
            lines.append("| %s | %s |" % (fmt_n(shown.get(n, n)), " | ".join(row)))
        expo, mem = [], []
        for order in ORDERS:
            pts = _points(table, runner, order)
            e = _fit_exponent([(n, t) for n, t, _ in pts])
            expo.append("%.2f" % e if e is not None else "—")
            if pts:
                n, _, c = pts[-1]
                mem.append("%.0f (n=%s)" % (c["rss_growth"] / n, fmt_n(n)))
            else:
                mem.append("—")
        lines.append("| exponent | " + " | ".join(expo) + " |")
        lines.append("| B/qubit | " + " | ".join(mem) + " |")
    return lines


def write_plot(path, table, runners, budget, title):
    """Log-log time against n, one line per order (first ordavine runner)."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    ours = [r for r in runners if r.impl == "ours"]
    if not ours or not table.sizes("sweep2d"):
        return False
    fig, axes = plt.subplots(1, len(ours), figsize=(5.6 * len(ours), 4.6), squeeze=False)
    for ax, runner in zip(axes[0], ours):
        for i, order in enumerate(ORDERS):
            pts = _points(table, runner, order)
            if not pts:
                continue
            e = _fit_exponent([(n, t) for n, t, _ in pts])
            label = order + (" (n^%.2f)" % e if e is not None else "")
            ax.plot([p[0] for p in pts], [p[1] for p in pts], marker="o", color="C%d" % i,
                    label=label)
        ax.axhline(budget, color="grey", linewidth=0.8, linestyle="--")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("qubits")
        ax.set_ylabel("seconds (median)")
        ax.set_title("2D cluster, measure_x in each order: %s" % runner.label, fontsize=10)
        ax.grid(True, which="both", linewidth=0.3)
        ax.legend(fontsize=8)
    fig.suptitle(title, fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return True
