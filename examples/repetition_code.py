"""Repeated syndrome extraction for the distance-d bit-flip repetition code.

Data qubits 0..d-1 hold the logical state (|0...0> + |1...1>)/sqrt(2).
Ancilla d+i measures the check Z_i Z_(i+1) each round: two CNOTs from the
data qubits onto the ancilla, a Z measurement, and a reset of the ancilla to
|0>.  An X error injected on one data qubit before some round flips the
checks next to it from that round on; the decoder reads the error's round
and qubit off the first change of the syndrome, and flipping that qubit back
restores the logical state, which is then checked by measuring all data
qubits in X (even number of -1 outcomes) or in Z (all equal).

A Z error is invisible to these checks: it leaves every syndrome at 0 but
makes the X parity odd, which the program checks too.

    python examples/repetition_code.py [--distance D] [--rounds R] [--trials N]
"""

from __future__ import annotations

import argparse
import random

from ordavine import Ordavine


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a physical prediction fails."""
    if not condition:
        raise AssertionError(message)


def encode(distance: int) -> Ordavine:
    """d data qubits in (|0...0> + |1...1>)/sqrt(2) and d-1 ancillas in |0>."""
    sim = Ordavine(2 * distance - 1)
    sim.h(0)
    for q in range(1, distance):
        sim.cx(0, q)
    return sim


def syndrome_round(sim: Ordavine, distance: int) -> list[int]:
    """Measures every check Z_i Z_(i+1) once; returns the syndrome bits."""
    bits = []
    for i in range(distance - 1):
        ancilla = distance + i
        sim.cx(i, ancilla)
        sim.cx(i + 1, ancilla)
        # The data are in an eigenstate of every check, so the outcome is
        # fixed: extracting it does not disturb the logical state.
        peeked = sim.peek_measure_set({ancilla})[ancilla]
        check(peeked.deterministic and peeked.basis == "Z", "a check outcome is random")
        bit = int(sim.measure_z(ancilla))
        check(bit == int(peeked.result), "measurement disagrees with its peek")
        if bit:
            sim.x(ancilla)  # reset the ancilla to |0> for the next round
        bits.append(bit)
    return bits


def decode(history: list[list[int]], distance: int) -> tuple[int, int] | None:
    """The (round, data qubit) of a single X error from the syndrome history.

    Returns None when the syndrome never changes.  A flip of data qubit q
    changes checks q-1 and q (only one of them at either end of the chain).
    """
    previous = [0] * (distance - 1)
    for round_, bits in enumerate(history):
        changed = [i for i in range(distance - 1) if bits[i] != previous[i]]
        if changed:
            if changed == [0]:
                return round_, 0
            if changed == [distance - 2]:
                return round_, distance - 1
            check(len(changed) == 2 and changed[1] == changed[0] + 1,
                  f"round {round_}: checks {changed} changed, not one error's pattern")
            return round_, changed[1]
        previous = bits
    return None


def run_trial(distance: int, rounds: int, error: tuple[str, int, int] | None,
              final_basis: str) -> tuple[int, int] | None:
    """Encodes, runs `rounds` syndrome rounds with `error` = (Pauli, round, qubit)
    injected, decodes, corrects, and checks the logical state in `final_basis`.

    Returns what the decoder found.
    """
    check(distance >= 3, "the error location is only unique for distance 3 or more")
    sim = encode(distance)
    history = []
    for round_ in range(rounds):
        if error is not None and error[1] == round_:
            getattr(sim, error[0].lower())(error[2])
        history.append(syndrome_round(sim, distance))
    found = decode(history, distance)
    if error is not None and error[0] == "X":
        check(found == (error[1], error[2]),
              f"X error on qubit {error[2]} before round {error[1]} decoded as {found}")
        # The syndrome stays flipped in every later round.
        check(all(bits == history[error[1]] for bits in history[error[1]:]),
              "the syndrome of an uncorrected error changed again")
        sim.x(error[2])  # the decoded qubit, checked equal just above
    else:
        check(found is None, f"syndrome changed without an X error: {history}")

    z_error = error is not None and error[0] == "Z"
    data = range(distance)
    if final_basis == "X":
        parity = sum(int(sim.measure_x(q)) for q in data) % 2
        check(parity == int(z_error), f"logical X parity is {parity}, expected {int(z_error)}")
    else:
        bits = {int(sim.measure_z(q)) for q in data}
        check(len(bits) == 1, "data qubits disagree in Z after correction")
    return found


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--distance", type=int, default=9)
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--trials", type=int, default=50)
    parser.add_argument("--seed", type=int, default=None,
                        help="seed for choosing where errors go (outcomes stay random)")
    args = parser.parse_args(argv)
    chooser = random.Random(args.seed)

    decoded = 0
    for trial in range(args.trials):
        error = ("X", chooser.randrange(args.rounds), chooser.randrange(args.distance))
        found = run_trial(args.distance, args.rounds, error, "XZ"[trial % 2])
        decoded += found is not None
        if trial < 3:
            print(f"X error on data qubit {error[2]} before round {error[1]}: "
                  f"syndrome points at qubit {found[1] if found else '-'} "
                  f"from round {found[0] if found else '-'}; corrected")
    run_trial(args.distance, args.rounds, None, "X")
    run_trial(args.distance, args.rounds, ("Z", 0, args.distance // 2), "X")
    print(f"distance {args.distance}, {args.rounds} rounds: {decoded} of {args.trials} "
          "injected X errors located and corrected; no error gives a quiet syndrome; "
          "a Z error goes unseen and flips the logical X parity")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
