"""Per-detector rates of a noisy surface code, sampled by ordavine and by Stim.

Generates a rotated surface code memory with Stim's circuit generator,
samples its detection events with ``ordavine.sample_detectors`` and with
Stim's compiled detector sampler, and plots each detector's rate from both,
with the binomial error of the difference.  Stops with an AssertionError if
any detector's two rates differ by more than five standard errors.

    python docs/scripts/detector_rates.py [--shots N] [--out docs/assets/detector_rates.png]

Needs stim, numpy and matplotlib.  The committed picture was made with the
defaults.
"""

from __future__ import annotations

import argparse

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import stim  # noqa: E402

import ordavine  # noqa: E402


def circuit(distance: int, rounds: int, p: float) -> stim.Circuit:
    return stim.Circuit.generated(
        "surface_code:rotated_memory_z", distance=distance, rounds=rounds,
        after_clifford_depolarization=p, before_measure_flip_probability=p,
        after_reset_flip_probability=p, before_round_data_depolarization=p)


def rates(text: str, detectors: int, observables: int, shots: int, seed: int):
    """Per-detector and per-observable event rates: (ours, Stim's), each a pair of arrays."""
    ours_d, ours_o = ordavine.sample_detectors(text, shots, seed=seed)
    ours_d = np.frombuffer(ours_d, np.uint8).reshape(shots, detectors)
    ours_o = np.frombuffer(ours_o, np.uint8).reshape(shots, observables)
    sampler = stim.Circuit(text).compile_detector_sampler(seed=seed)
    stim_d, stim_o = sampler.sample(shots, separate_observables=True)
    return ((ours_d.mean(axis=0), ours_o.mean(axis=0)),
            (stim_d.mean(axis=0), stim_o.mean(axis=0)))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--distance", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--p", type=float, default=0.005)
    parser.add_argument("--shots", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--out", default="docs/assets/detector_rates.png")
    args = parser.parse_args(argv)

    code = circuit(args.distance, args.rounds, args.p)
    (ours, ours_obs), (theirs, theirs_obs) = rates(
        str(code), code.num_detectors, code.num_observables, args.shots, args.seed)
    error = np.sqrt((ours * (1 - ours) + theirs * (1 - theirs)) / args.shots)
    z = (ours - theirs) / np.where(error > 0, error, 1)
    print(f"{code.num_detectors} detectors, {args.shots} shots: largest |z| {np.abs(z).max():.2f}, "
          f"{np.mean(np.abs(z) < 2):.0%} within 2 standard errors; observable flips "
          f"{ours_obs[0]:.4f} (ordavine) and {theirs_obs[0]:.4f} (Stim)")
    assert np.abs(z).max() < 5, "a detector's rates differ by more than five standard errors"

    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), width_ratios=[2, 1])
    index = np.arange(code.num_detectors)
    left.plot(index, theirs, color="#999999", lw=1, label="Stim")
    left.plot(index, ours, ".", ms=3, color="#1f4e79", label="ordavine")
    left.set_xlabel("detector")
    left.set_ylabel("detection-event rate")
    left.set_title(f"rotated surface code, d = {args.distance}, {args.rounds} rounds, p = {args.p}; "
                   f"{args.shots:,} shots", fontsize=10)
    left.legend(loc="upper left")
    right.hist(z, bins=30, color="#cfe3f7", edgecolor="#1f4e79")
    right.set_xlabel("(ordavine − Stim) / standard error")
    right.set_ylabel("detectors")
    right.set_title("difference per detector", fontsize=10)
    figure.tight_layout()
    figure.savefig(args.out, dpi=100)
    plt.close(figure)
    print(f"drawn to {args.out}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
