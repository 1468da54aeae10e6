"""The rotated surface code's threshold, from sinter runs sampled by ordavine.

For distances d = 3, 5, 7 and physical error rates around the code's
threshold (about 1 % with these noise knobs), a memory experiment of d
rounds is sampled by ordavine's detector sampler and decoded by PyMatching,
through sinter (`ordavine+pymatching`, from `ordavine_sinter`).  Below
threshold a larger code must do better, so the example checks that at the
lowest error rate the logical error rate falls from d = 3 to 5 to 7 (with
room for the counts' own spread), and draws logical against physical error
rate with sinter's plotting into a PNG.

    python examples/surface_code_threshold.py [--distances 3,5,7] [--rates 0.003,0.005,0.008,0.012]
        [--max-shots N] [--max-errors E] [--workers W] [--out PLOT.png]

Needs the `sinter` extra (pip install "ordavine[sinter]") and matplotlib.
"""

from __future__ import annotations

import argparse
import math

import sinter
import stim

import ordavine_sinter

KNOBS = ("after_clifford_depolarization", "after_reset_flip_probability",
         "before_measure_flip_probability", "before_round_data_depolarization")


def tasks(distances: list[int], rates: list[float]) -> list[sinter.Task]:
    return [
        sinter.Task(
            circuit=stim.Circuit.generated("surface_code:rotated_memory_x", distance=d, rounds=d,
                                           **{knob: p for knob in KNOBS}),
            json_metadata={"d": d, "p": p},
        )
        for d in distances
        for p in rates
    ]


def rate_and_sigma(stat: sinter.TaskStats) -> tuple[float, float]:
    kept = max(stat.shots - stat.discards, 1)
    rate = stat.errors / kept
    return rate, math.sqrt(max(rate * (1 - rate), 1 / kept) / kept)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="The rotated surface code's threshold, sampled by ordavine.")
    parser.add_argument("--distances", default="3,5,7")
    parser.add_argument("--rates", default="0.003,0.005,0.008,0.012")
    parser.add_argument("--max-shots", type=int, default=200_000)
    parser.add_argument("--max-errors", type=int, default=500)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--out", default="surface_code_threshold.png")
    args = parser.parse_args(argv)
    distances = [int(d) for d in args.distances.split(",")]
    rates = [float(p) for p in args.rates.split(",")]

    stats = sinter.collect(
        num_workers=args.workers,
        tasks=tasks(distances, rates),
        decoders=["ordavine+pymatching"],
        custom_decoders=ordavine_sinter.sinter_samplers(),
        max_shots=args.max_shots,
        max_errors=args.max_errors,
        print_progress=True,
    )
    by_task = {(s.json_metadata["d"], s.json_metadata["p"]): s for s in stats}
    print(f"{'d':>3} {'p':>7} {'shots':>9} {'errors':>7} {'logical':>9}")
    for d in distances:
        for p in rates:
            stat = by_task[(d, p)]
            rate, _ = rate_and_sigma(stat)
            print(f"{d:>3} {p:>7} {stat.shots:>9} {stat.errors:>7} {rate:>9.5f}")

    # Below threshold (the lowest rate) a larger code has fewer logical
    # errors: each step up in d must not be worse beyond 3 sigma of the
    # difference.
    lowest = min(rates)
    for small, large in zip(distances, distances[1:]):
        (a, sa), (b, sb) = rate_and_sigma(by_task[(small, lowest)]), rate_and_sigma(by_task[(large, lowest)])
        assert b < a + 3 * math.hypot(sa, sb), (
            f"at p = {lowest} the logical error rate rises from d = {small} ({a:.5f}) to d = {large} ({b:.5f})")
    print(f"below threshold (p = {lowest}) the logical error rate falls with the distance")

    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, ax = plt.subplots(figsize=(6, 4.5))
    sinter.plot_error_rate(ax=ax, stats=stats, x_func=lambda s: s.json_metadata["p"],
                           group_func=lambda s: f"d = {s.json_metadata['d']}")
    ax.loglog()
    ax.set_xlabel("physical error rate")
    ax.set_ylabel("logical error rate per shot")
    ax.set_title("Rotated surface code memory, sampled by ordavine")
    ax.grid(which="both", alpha=0.3)
    ax.legend()
    figure.savefig(args.out, dpi=120, bbox_inches="tight")
    print(f"plot written to {args.out}")
    return 0


if __name__ == "__main__":  # sinter starts its workers by spawning
    raise SystemExit(main())
