"""Entanglement swapping along a quantum repeater chain.

Neighbouring stations share Bell pairs (|00> + |11>)/sqrt(2): link i is the
pair (a_i, b_i), with b_i and a_(i+1) held by the same repeater station.
Each station makes a Bell measurement on its two qubits (CNOT, H, two Z
measurements).  That swaps the entanglement outwards: after every station
has measured, the two end qubits a_0 and b_(L-1), which never interacted,
share a Bell pair up to the Pauli correction X^(sum of Z-parity bits)
Z^(sum of X-parity bits) on the far end, which the far end applies once the
outcomes arrive.

The program checks the graph (before: L separate pairs; after: one pair
joining the two ends) and the end-to-end correlations: equal outcomes when
both ends measure Z or both X, opposite outcomes when both measure Y, each
end alone a fair coin.

    python examples/repeater_chain.py [--links N] [--shots N]
"""

from __future__ import annotations

import argparse
from collections import Counter

from ordavine import Ordavine


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a physical prediction fails."""
    if not condition:
        raise AssertionError(message)


def a(link: int) -> int:
    """The left qubit of Bell pair `link`."""
    return 2 * link


def b(link: int) -> int:
    """The right qubit of Bell pair `link`."""
    return 2 * link + 1


def swap_chain(links: int) -> tuple[Ordavine, int, int]:
    """Builds `links` Bell pairs and swaps them into one end-to-end pair.

    Returns the register and the two end qubits, with the Pauli correction
    already applied to the far end.
    """
    sim = Ordavine(2 * links)
    for link in range(links):
        sim.h(a(link))
        sim.cx(a(link), b(link))
    for link in range(links):
        check(sim.get_entangled_group(a(link)) == {a(link), b(link)},
              f"link {link} is a pair of its own before swapping")

    x_correction = z_correction = 0
    for station in range(links - 1):
        left, right = b(station), a(station + 1)
        # Bell measurement: CNOT and H map the four Bell states to |00>..|11>.
        sim.cx(left, right)
        sim.h(left)
        z_correction ^= int(sim.measure_z(left))  # the pair's X parity
        x_correction ^= int(sim.measure_z(right))  # the pair's Z parity

    near, far = a(0), b(links - 1)
    if x_correction:
        sim.x(far)
    if z_correction:
        sim.z(far)
    check(sim.get_entangled_group(near) == {near, far},
          "after swapping, the two ends form one pair")
    for station in range(links - 1):
        for qubit in (b(station), a(station + 1)):
            check(sim.get_entangled_group(qubit) == {qubit},
                  f"measured repeater qubit {qubit} is left out of the pair")
    return sim, near, far


def end_to_end(links: int, shots: int) -> dict[str, Counter[tuple[int, int]]]:
    """Swaps `shots` chains per basis and measures both ends in that basis."""
    counts: dict[str, Counter[tuple[int, int]]] = {}
    for basis in "XYZ":
        counts[basis] = Counter()
        for _ in range(shots):
            sim, near, far = swap_chain(links)
            alone = sim.peek_measure_set({near})[near]
            check(not alone.deterministic, "one end on its own is random")
            measure = {"X": sim.measure_x, "Y": sim.measure_y, "Z": sim.measure_z}[basis]
            counts[basis][(int(measure(near)), int(measure(far)))] += 1
    for basis, tally in counts.items():
        expected_parity = 1 if basis == "Y" else 0
        wrong = sum(n for (p, q), n in tally.items() if p ^ q != expected_parity)
        check(wrong == 0, f"{basis}{basis} end-to-end correlation broken in {wrong} shots")
        if shots >= 20:
            check(len(tally) == 2, f"{basis}{basis} outcomes are not random: {dict(tally)}")
    return counts


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--links", type=int, default=64, help="Bell pairs in the chain")
    parser.add_argument("--shots", type=int, default=100, help="chains per basis")
    args = parser.parse_args(argv)
    for basis, tally in end_to_end(args.links, args.shots).items():
        agree = sum(n for (p, q), n in tally.items() if p == q)
        print(f"{args.links} links swapped, ends measured in {basis}{basis}: "
              f"{agree} of {args.shots} shots agree")
    print("end-to-end Bell pair as predicted")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
