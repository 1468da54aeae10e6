"""Bell pairs and GHZ states, with their measured correlations checked.

A Bell pair (|00> + |11>)/sqrt(2) gives equal outcomes when both qubits are
measured in Z or both in X, and opposite outcomes when both are measured in Y.
An n-qubit GHZ state (|0...0> + |1...1>)/sqrt(2) gives n equal Z outcomes,
and an even number of -1 outcomes when every qubit is measured in X.
Each single outcome is random; the correlations are exact, so one shot that
breaks them is an error.

    python examples/bell_ghz.py [--shots N] [--qubits N]
"""

from __future__ import annotations

import argparse
from collections import Counter
from typing import Callable

from ordavine import MeasurementResult, Ordavine


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a physical prediction fails."""
    if not condition:
        raise AssertionError(message)


def measure(sim: Ordavine, basis: str, qubit: int) -> int:
    """Measures `qubit` in `basis` ("X", "Y" or "Z"); 0 for +1, 1 for -1."""
    measurements: dict[str, Callable[[int], MeasurementResult]] = {
        "X": sim.measure_x,
        "Y": sim.measure_y,
        "Z": sim.measure_z,
    }
    return int(measurements[basis](qubit))


def bell_pair() -> Ordavine:
    """Two qubits in (|00> + |11>)/sqrt(2)."""
    sim = Ordavine(2)
    sim.h(0)
    sim.cx(0, 1)
    return sim


def ghz_state(qubits: int) -> Ordavine:
    """`qubits` qubits in (|0...0> + |1...1>)/sqrt(2)."""
    sim = Ordavine(qubits)
    sim.h(0)
    for target in range(1, qubits):
        sim.cx(0, target)
    return sim


def bell_correlations(shots: int) -> dict[str, Counter[tuple[int, int]]]:
    """Measures `shots` fresh Bell pairs in each of the bases XX, YY and ZZ.

    Returns, per basis, how often each pair of outcome bits occurred.
    """
    counts: dict[str, Counter[tuple[int, int]]] = {}
    for basis in "XYZ":
        counts[basis] = Counter()
        for _ in range(shots):
            sim = bell_pair()
            check(sim.get_entangled_group(0) == {0, 1}, "a Bell pair is one entangled group")
            first = measure(sim, basis, 0)
            second = measure(sim, basis, 1)
            counts[basis][(first, second)] += 1
    for basis, tally in counts.items():
        # <XX> = +1, <YY> = -1, <ZZ> = +1 on (|00> + |11>)/sqrt(2).
        expected_parity = 1 if basis == "Y" else 0
        wrong = sum(n for (a, b), n in tally.items() if a ^ b != expected_parity)
        check(wrong == 0, f"{basis}{basis} correlation broken in {wrong} of {shots} shots")
        if shots >= 20:
            # Each outcome alone is a fair coin; all-equal over 20+ shots
            # has probability below 2**-19.
            check(len(tally) == 2, f"{basis}{basis} outcomes are not random: {dict(tally)}")
    return counts


def ghz_correlations(qubits: int, shots: int) -> dict[str, int]:
    """Measures `shots` GHZ states in Z on every qubit and `shots` in X.

    Returns how many shots gave all +1 in Z, and how many X shots there were
    with an even number of -1 outcomes (all of them, if the state is right).
    """
    all_zero = 0
    even_x = 0
    for _ in range(shots):
        sim = ghz_state(qubits)
        check(sim.get_entangled_group(qubits - 1) == set(range(qubits)), "GHZ is one group")
        bits = [int(sim.measure_z(q)) for q in range(qubits)]
        check(len(set(bits)) == 1, f"GHZ Z outcomes differ: {bits}")
        all_zero += bits[0] == 0
    for _ in range(shots):
        sim = ghz_state(qubits)
        bits = [int(sim.measure_x(q)) for q in range(qubits)]
        check(sum(bits) % 2 == 0, f"GHZ X parity is odd: {bits}")
        even_x += 1
    if shots >= 20:
        check(0 < all_zero < shots, f"GHZ Z outcomes are not random: {all_zero} of {shots}")
    return {"all_zero": all_zero, "even_x_parity": even_x}


def ghz_peek(qubits: int) -> dict[int, tuple[str, int, bool]]:
    """Peeks at every qubit of a GHZ state and checks that the state is untouched.

    The first qubit is measured (on a copy) in a random basis; the rest
    follow from it.  Returns qubit -> (basis, outcome bit, deterministic).
    """
    sim = ghz_state(qubits)
    before = [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(qubits)]
    peeked = sim.peek_measure_set(set(range(qubits)))
    after = [(sim.get_vop(q), sim.get_neighbors(q)) for q in range(qubits)]
    check(before == after, "peek_measure_set changed the register")
    check(sorted(peeked) == list(range(qubits)), "one outcome per qubit")
    first = peeked[0]
    check(not first.deterministic, "a GHZ qubit on its own is random in every basis")
    if first.basis == "Z":
        # Z on one qubit fixes Z on all the others, to the same value.
        for q in range(1, qubits):
            outcome = peeked[q]
            check(outcome.deterministic and outcome.basis == "Z", f"qubit {q} not fixed in Z")
            check(int(outcome.result) == int(first.result), f"qubit {q} disagrees in Z")
    else:
        # X or Y on one qubit leaves the others in a smaller GHZ state: the
        # next one is random again, and the last one is fixed.
        last = peeked[qubits - 1]
        check(last.deterministic, "the last GHZ qubit is fixed by the others")
    # The real state is still a GHZ state: Z outcomes agree.
    bits = {int(sim.measure_z(q)) for q in range(qubits)}
    check(len(bits) == 1, "register no longer a GHZ state after the peek")
    return {q: (o.basis, int(o.result), o.deterministic) for q, o in peeked.items()}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shots", type=int, default=200, help="shots per basis")
    parser.add_argument("--qubits", type=int, default=10, help="GHZ size")
    args = parser.parse_args(argv)

    sim = bell_pair()
    first = sim.measure_z(0)
    second = sim.measure_z(1)
    print(f"Bell pair measured in Z: {first!r} {second!r}")
    check(int(first) == int(second), "Bell pair Z outcomes differ")

    for basis, tally in bell_correlations(args.shots).items():
        pretty = ", ".join(f"{a}{b}: {n}" for (a, b), n in sorted(tally.items()))
        print(f"Bell {basis}{basis} over {args.shots} shots: {pretty}")

    ghz = ghz_correlations(args.qubits, args.shots)
    print(
        f"GHZ-{args.qubits}: Z all equal in {args.shots}/{args.shots} shots "
        f"({ghz['all_zero']} all +1); X parity even in {ghz['even_x_parity']}/{args.shots}"
    )
    peek = ghz_peek(args.qubits)
    print("GHZ peek:", " ".join(f"{q}:{b}{'-' if r else '+'}{'!' if d else '?'}"
                                for q, (b, r, d) in sorted(peek.items())))
    print("all correlations as predicted")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
