"""End-to-end fidelity of a noisy repeater chain, before and after purification.

A chain of L links joins two end nodes.  Every link is a Bell pair
|Phi+> = (|00> + |11>)/sqrt(2) whose two qubits each pass through a
depolarising channel of probability p on the way to their stations
(`depolarize1`), which leaves the link a Werner state of fidelity

    F_link = (1 - p)^2 + p^2 / 3.

The repeater stations join neighbouring links by entanglement swapping (a
Bell measurement and Pauli corrections at the far end).  Swapping two Werner
states multiplies their Werner parameters w = (4F - 1)/3, so the end-to-end
pair has

    F_chain = (1 + 3 w_link^L) / 4.

Two such chains run side by side, and the end nodes spend one of the two
pairs to purify the other (one round of the Clifford protocol of Bennett et
al.: a CNOT from the kept pair onto the spent one at both ends, both spent
qubits measured in Z, the kept pair kept when the outcomes agree).  For
Werner inputs of fidelity F the round succeeds with probability
p_ok = F^2 + 2F(1 - F)/3 + 5((1 - F)/3)^2 and leaves

    F_purified = (F^2 + ((1 - F)/3)^2) / p_ok.

Each run builds the network one link at a time in one register that grows
with `add_qubits`, and asks `fidelity(bell, [a, b])` of the end-to-end pair
-- the question a repeater simulation asks after every swap.  The estimates
over many runs are checked against the three formulas within four standard
errors; `expectation` confirms, run by run, that the fidelity is
(1 + <XX> - <YY> + <ZZ>)/4, the Bell-state fidelity read from correlators.

    python examples/repeater_fidelity.py [--links L] [--p P] [--runs N] [--seed S]
"""

from __future__ import annotations

import argparse
import math

import ordavine
from ordavine import Ordavine


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a physical prediction fails."""
    if not condition:
        raise AssertionError(message)


# ---- the closed-form predictions --------------------------------------------


def link_fidelity(p: float) -> float:
    """A Bell pair after depolarising noise of probability p on each qubit."""
    return (1 - p) ** 2 + p * p / 3


def werner_parameter(fidelity: float) -> float:
    return (4 * fidelity - 1) / 3


def chain_fidelity(link: float, links: int) -> float:
    """The end-to-end fidelity after swapping `links` Werner links."""
    return (1 + 3 * werner_parameter(link) ** links) / 4


def purification_success(fidelity: float) -> float:
    """The probability that one purification round keeps its pair."""
    e = (1 - fidelity) / 3
    return fidelity**2 + 2 * fidelity * (1 - fidelity) / 3 + 5 * e * e


def purified_fidelity(fidelity: float) -> float:
    """The fidelity of the kept pair after one purification round."""
    e = (1 - fidelity) / 3
    return (fidelity**2 + e * e) / purification_success(fidelity)


# ---- the protocol ------------------------------------------------------------


def bell_pair() -> Ordavine:
    """The target state |Phi+> on two qubits."""
    bell = Ordavine(2)
    bell.h(0)
    bell.cx(0, 1)
    return bell


def make_link(sim: Ordavine, p: float) -> tuple[int, int]:
    """Two new qubits holding a Bell pair, each through a depolarising channel."""
    a = sim.add_qubits(2)
    b = a + 1
    sim.h(a)
    sim.cx(a, b)
    sim.depolarize1(a, p)
    sim.depolarize1(b, p)
    return a, b


def swap(sim: Ordavine, left: int, right: int, far: int) -> None:
    """Entanglement swapping at a station holding `left` and `right`.

    A Bell measurement on the two (CNOT, H, two Z measurements); the far end
    of the right-hand pair applies X for the ZZ parity and Z for the XX
    parity, which makes the outer qubits a Bell pair when the links were.
    """
    sim.cx(left, right)
    sim.h(left)
    if int(sim.measure_z(right)):
        sim.x(far)
    if int(sim.measure_z(left)):
        sim.z(far)


def chain(sim: Ordavine, links: int, p: float) -> tuple[int, int]:
    """Builds a chain link by link, swapping each new link onto the chain."""
    near, far = make_link(sim, p)
    for _ in range(links - 1):
        a, b = make_link(sim, p)
        swap(sim, far, a, b)
        far = b
    return near, far


def correlator_fidelity(sim: Ordavine, a: int, b: int) -> float:
    """The Bell fidelity from the correlators: (1 + <XX> - <YY> + <ZZ>)/4."""
    xx = sim.expectation(f"X{a}*X{b}")
    yy = sim.expectation(f"Y{a}*Y{b}")
    zz = sim.expectation(f"Z{a}*Z{b}")
    return (1 + xx - yy + zz) / 4


def purify(sim: Ordavine, kept: tuple[int, int], spent: tuple[int, int]) -> bool:
    """One round: bilateral CNOT from the kept pair onto the spent one, the
    spent qubits measured in Z; the kept pair survives when they agree."""
    sim.cx(kept[0], spent[0])
    sim.cx(kept[1], spent[1])
    return int(sim.measure_z(spent[0])) == int(sim.measure_z(spent[1]))


def run_once(links: int, p: float, bell: Ordavine) -> tuple[float, bool, float]:
    """One run: (chain fidelity, whether purification kept its pair, purified fidelity)."""
    sim = Ordavine(0)
    first = chain(sim, links, p)
    second = chain(sim, links, p)
    fidelity = sim.fidelity(bell, list(first))
    check(fidelity == correlator_fidelity(sim, *first),
          "fidelity(bell, [a, b]) disagrees with the Bell correlators")
    check(sim.get_entangled_group(first[0]) == set(first),
          "after swapping, the chain's ends form a pair of their own")
    kept = purify(sim, first, second)
    return fidelity, kept, sim.fidelity(bell, list(first)) if kept else 0.0


def within(estimate: float, prediction: float, count: int, what: str) -> None:
    """Checks an estimate of a probability against its prediction, within
    four standard errors of `count` samples."""
    check(count > 0, f"no samples for {what}")
    sigma = math.sqrt(max(prediction * (1 - prediction), 1e-12) / count)
    check(abs(estimate - prediction) <= 4 * sigma + 1e-12,
          f"{what}: estimated {estimate:.4f}, predicted {prediction:.4f} (4 sigma = {4 * sigma:.4f})")


def simulate(links: int, p: float, runs: int, seed: int) -> dict[str, float]:
    """Runs the protocol `runs` times and checks the estimates."""
    ordavine.seed(seed)
    bell = bell_pair()
    total = kept_count = 0
    chain_sum = purified_sum = 0.0
    for _ in range(runs):
        fidelity, kept, purified = run_once(links, p, bell)
        chain_sum += fidelity
        if kept:
            kept_count += 1
            purified_sum += purified
        total += 1
    ordavine.seed(None)

    link = link_fidelity(p)
    predicted_chain = chain_fidelity(link, links)
    result = {
        "link": link,
        "chain_estimate": chain_sum / total,
        "chain_predicted": predicted_chain,
        "success_estimate": kept_count / total,
        "success_predicted": purification_success(predicted_chain),
        "purified_estimate": purified_sum / kept_count if kept_count else float("nan"),
        "purified_predicted": purified_fidelity(predicted_chain),
        "kept": float(kept_count),
    }
    within(result["chain_estimate"], predicted_chain, total, "end-to-end fidelity")
    within(result["success_estimate"], result["success_predicted"], total, "purification success")
    within(result["purified_estimate"], result["purified_predicted"], kept_count, "purified fidelity")
    check(result["purified_predicted"] > predicted_chain or predicted_chain > 0.99,
          "purification is predicted to help")
    return result


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--links", type=int, default=4, help="links per chain")
    parser.add_argument("--p", type=float, default=0.05, help="depolarising probability per qubit")
    parser.add_argument("--runs", type=int, default=4000, help="runs of the whole protocol")
    parser.add_argument("--seed", type=int, default=2024, help="seed of the random draws")
    args = parser.parse_args(argv)
    r = simulate(args.links, args.p, args.runs, args.seed)
    print(f"link fidelity {r['link']:.4f} (p = {args.p} per qubit), {args.links} links, {args.runs} runs")
    print(f"end-to-end fidelity: {r['chain_estimate']:.4f} estimated, {r['chain_predicted']:.4f} predicted")
    print(f"purification kept {int(r['kept'])} pairs: success {r['success_estimate']:.4f} "
          f"estimated, {r['success_predicted']:.4f} predicted")
    print(f"purified fidelity: {r['purified_estimate']:.4f} estimated, {r['purified_predicted']:.4f} predicted")
    print("all estimates within 4 standard errors of the Werner-state predictions")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
