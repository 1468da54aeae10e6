"""Teleportation along a one-dimensional cluster-state wire.

Qubit 0 holds an input state; qubits 1..n-1 start in |+> and controlled-Z
gates join neighbours into a chain (a 1D cluster state).  Measuring qubit j
in the X basis with outcome s moves the state one step along the wire as
X^s H: after the first n-1 qubits are measured, the last one holds the input
state up to a known Hadamard power and Pauli byproduct.  The program tracks
that byproduct from the outcomes, undoes it, and checks, for each of the six
Pauli eigenstates as input, that the output is fixed in the input's basis
with the input's eigenvalue.

    python examples/teleport_wire.py [--length N] [--trials N]
"""

from __future__ import annotations

import argparse
from typing import Callable

from ordavine import MeasurementResult, Ordavine

# name -> (preparation gates from |0>, basis, eigenvalue bit: 0 for +1, 1 for -1)
INPUT_STATES: dict[str, tuple[tuple[str, ...], str, int]] = {
    "0": ((), "Z", 0),
    "1": (("x",), "Z", 1),
    "+": (("h",), "X", 0),
    "-": (("h", "z"), "X", 1),
    "+i": (("h", "s"), "Y", 0),
    "-i": (("h", "sdag"), "Y", 1),
}


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a physical prediction fails."""
    if not condition:
        raise AssertionError(message)


def measurement(sim: Ordavine, basis: str) -> Callable[[int], MeasurementResult]:
    """The measurement method of `sim` for `basis` ("X", "Y" or "Z")."""
    return {"X": sim.measure_x, "Y": sim.measure_y, "Z": sim.measure_z}[basis]


def prepare(sim: Ordavine, qubit: int, state: str) -> None:
    """Turns `qubit`, in |0>, into the named Pauli eigenstate."""
    for gate in INPUT_STATES[state][0]:
        getattr(sim, gate)(qubit)


def teleport(length: int, state: str) -> tuple[int, int]:
    """Teleports `state` from qubit 0 to qubit length-1 of a wire of `length` qubits.

    Returns (outcome bit found on the output in the input's basis, number of
    X outcomes that were -1 along the wire).
    """
    check(length >= 2, "a wire needs at least two qubits")
    sim = Ordavine(length)
    prepare(sim, 0, state)
    for q in range(1, length):
        sim.h(q)  # |0> -> |+>
    for q in range(length - 1):
        sim.cz(q, q + 1)
    # A Z eigenstate is unchanged by controlled-Z (it only picks up a Pauli
    # on its neighbour), so it stays out of the cluster; any other input joins.
    cluster = set(range(0 if INPUT_STATES[state][1] != "Z" else 1, length))
    check(sim.get_entangled_group(length - 1) == cluster, "the wire is one cluster")

    # Output = X^x Z^z H^k |input>, up to a global phase, after k measurements.
    x_frame = z_frame = 0
    minus_ones = 0
    for q in range(length - 1):
        s = int(sim.measure_x(q))
        minus_ones += s
        # X^s H X^x Z^z = X^s Z^x X^z H: the frame swaps and takes s into X.
        x_frame, z_frame = z_frame ^ s, x_frame
    out = length - 1
    check(sim.get_neighbors(out) == [], "the output is cut loose from the measured wire")

    if x_frame:
        sim.x(out)
    if z_frame:
        sim.z(out)
    if (length - 1) % 2:
        sim.h(out)

    _, basis, expected = INPUT_STATES[state]
    peeked = sim.peek_measure_set({out})[out]
    check(peeked.deterministic and peeked.basis == basis,
          f"output of {state!r} is not fixed in {basis}: {peeked.basis}, "
          f"deterministic={peeked.deterministic}")
    found = int(measurement(sim, basis)(out))
    check(found == int(peeked.result) == expected,
          f"teleported {state!r} arrived as eigenvalue bit {found}, expected {expected}")
    return found, minus_ones


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--length", type=int, default=1001, help="qubits in the wire")
    parser.add_argument("--trials", type=int, default=20, help="runs per input state")
    args = parser.parse_args(argv)

    for state, (_, basis, expected) in INPUT_STATES.items():
        total_minus = 0
        for _ in range(args.trials):
            _, minus_ones = teleport(args.length, state)
            total_minus += minus_ones
        measured = args.trials * (args.length - 1)
        print(f"|{state}> over {args.length} qubits, {args.trials} runs: output measured in "
              f"{basis} gave {'+1' if expected == 0 else '-1'} every time "
              f"({total_minus} of {measured} wire outcomes were -1)")
        if measured >= 40:
            # Every wire outcome is a fair coin.
            check(0 < total_minus < measured, "wire outcomes are not random")
    print("all inputs teleported")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
