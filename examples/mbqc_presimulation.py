"""Presimulating the Pauli part of a measurement pattern on a 2D cluster.

A pattern on an R x C cluster state: R wires run along the rows, column 0
holds the inputs (|+>), column C-1 the outputs, and every other qubit is
measured in a Pauli basis, X or Y, column by column (the Clifford part of a
pattern, which a graph-state register can carry out before the rest of a
computation).  The cluster is built in one call with `from_graph` from a
numpy array of its edges.

Measuring qubit j of a wire, with outcome 0, moves the wire's state one
column on as H (basis X) or H S-dagger (basis Y); the vertical edges of the
next column then act as CZ gates between neighbouring wires.  So the ideal
outcome (all zeros) leaves on the outputs the state of the circuit

    |+>^R, CZ on column 0, then per measured column: H or H S-dagger on
    each wire, CZ on the next column's vertical edges.

Other outcomes leave that state up to a Pauli byproduct, tracked here as a
Pauli frame with the flow of the cluster (each qubit's successor is its
right-hand neighbour f(j)): an outcome of 1 is undone by X on f(j) and Z on
the other neighbours of f(j).  Those corrections reach qubits that are
still to be measured, so each measurement is read in a signed basis: its
outcome counts as flipped when the frame anticommutes with the measured
Pauli.

The open graph left on the outputs is exported with `edges()` and `vops()`
and rebuilt as an R-qubit register with `from_graph`; after the frame is
applied to it, `expectation` must give +1 on every stabilizer of the
circuit's state, and `fidelity` with it must be 1.

    python examples/mbqc_presimulation.py [--rows R] [--cols C] [--seed S]
"""

from __future__ import annotations

import argparse
import random

import numpy as np
import numpy.typing as npt

from ordavine import MeasurementResult, Ordavine


def check(condition: bool, message: str) -> None:
    """Stops the example with `message` when a prediction fails."""
    if not condition:
        raise AssertionError(message)


def qubit(rows: int, row: int, col: int) -> int:
    """Qubits are numbered column by column, so that columns are measured in order."""
    return col * rows + row


def cluster_edges(rows: int, cols: int) -> npt.NDArray[np.int64]:
    """The cluster's edges as an (m, 2) array: along the wires, then down the columns."""
    index = np.arange(rows * cols, dtype=np.int64).reshape(cols, rows).T  # index[row, col]
    along = np.stack([index[:, :-1].ravel(), index[:, 1:].ravel()], axis=1)
    down = np.stack([index[:-1, :].ravel(), index[1:, :].ravel()], axis=1)
    return np.concatenate([along, down])


def neighbours(rows: int, cols: int, row: int, col: int) -> list[int]:
    """The cluster neighbours of (row, col)."""
    around = [(row, col - 1), (row, col + 1), (row - 1, col), (row + 1, col)]
    return [qubit(rows, r, c) for r, c in around if 0 <= r < rows and 0 <= c < cols]


def pattern(rows: int, cols: int, rng: random.Random) -> dict[int, str]:
    """The Pauli basis of every measured qubit (all but the last column)."""
    return {qubit(rows, r, c): rng.choice("XY") for c in range(cols - 1) for r in range(rows)}


def reference(rows: int, cols: int, bases: dict[int, str]) -> Ordavine:
    """The state the pattern leaves on the outputs for all-zero outcomes, made by gates."""
    ref = Ordavine(rows)
    for r in range(rows):
        ref.h(r)
    for r in range(rows - 1):
        ref.cz(r, r + 1)
    for c in range(cols - 1):
        for r in range(rows):
            if bases[qubit(rows, r, c)] == "Y":
                ref.sdag(r)
            ref.h(r)
        for r in range(rows - 1):
            ref.cz(r, r + 1)
    return ref


class PauliFrame:
    """A Pauli operator, one X bit and one Z bit per qubit."""

    def __init__(self) -> None:
        self.x: set[int] = set()
        self.z: set[int] = set()

    def apply_x(self, q: int) -> None:
        self.x ^= {q}

    def apply_z(self, q: int) -> None:
        self.z ^= {q}

    def flips(self, q: int, basis: str) -> bool:
        """Whether the frame anticommutes with `basis` on qubit q."""
        if basis == "X":
            return q in self.z
        return (q in self.x) != (q in self.z)  # Y


def measure_pattern(sim: Ordavine, rows: int, cols: int, bases: dict[int, str]) -> PauliFrame:
    """Measures every non-output qubit in its signed basis, column by column,
    and returns the byproduct left on the outputs."""
    frame = PauliFrame()
    measure = {"X": sim.measure_x, "Y": sim.measure_y}
    for c in range(cols - 1):
        for r in range(rows):
            j = qubit(rows, r, c)
            result: MeasurementResult = measure[bases[j]](j)
            outcome = int(result) ^ frame.flips(j, bases[j])
            if outcome:
                successor = qubit(rows, r, c + 1)
                frame.apply_x(successor)
                for k in neighbours(rows, cols, r, c + 1):
                    if k != j:
                        frame.apply_z(k)
    return frame


def export_outputs(sim: Ordavine, outputs: list[int]) -> Ordavine:
    """The open graph on the outputs, read with edges() and vops(), as a register of its own."""
    where = {q: i for i, q in enumerate(outputs)}
    e = sim.edges()
    pairs = np.frombuffer(e, dtype=e.format).reshape(-1, 2)
    for a, b in pairs.tolist():
        check(a in where and b in where, f"edge {a}-{b} leaves the outputs: a measured qubit kept an edge")
    local = np.array([[where[a], where[b]] for a, b in pairs.tolist()], dtype=np.int64).reshape(-1, 2)
    vops = sim.vops()
    return Ordavine.from_graph(len(outputs), local, bytes(vops[q] for q in outputs))


def run(rows: int, cols: int, seed: int) -> dict[str, int]:
    check(rows >= 1 and cols >= 2, "the pattern needs an input and an output column")
    rng = random.Random(seed)
    bases = pattern(rows, cols, rng)
    sim = Ordavine.from_graph(rows * cols, cluster_edges(rows, cols))
    frame = measure_pattern(sim, rows, cols, bases)
    outputs = [qubit(rows, r, cols - 1) for r in range(rows)]
    for q in range(rows * cols - rows):
        check(sim.get_neighbors(q) == [], f"measured qubit {q} still has edges")

    state = export_outputs(sim, outputs)
    for i, q in enumerate(outputs):
        if q in frame.x:
            state.x(i)
        if q in frame.z:
            state.z(i)
    ref = reference(rows, cols, bases)
    for i, generator in enumerate(ref.stabilizers()):
        check(state.expectation(generator) == 1,
              f"output stabilizer {i} {generator} is not +1 on the presimulated state")
    check(state.fidelity(ref) == 1.0, "the presimulated outputs differ from the circuit's state")
    return {"qubits": rows * cols, "measured": len(bases), "y_measured": sum(b == "Y" for b in bases.values()),
            "byproduct_weight": len((frame.x | frame.z) & set(outputs)), "output_edges": len(state.edges()) // 2}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=6, help="wires")
    parser.add_argument("--cols", type=int, default=40, help="columns, outputs included")
    parser.add_argument("--seed", type=int, default=7, help="seed of the pattern's bases")
    args = parser.parse_args(argv)
    result = run(args.rows, args.cols, args.seed)
    print(f"{args.rows} x {args.cols} cluster: {result['qubits']} qubits, {result['measured']} measured "
          f"({result['y_measured']} in Y); the byproduct acts on {result['byproduct_weight']} "
          f"of the {args.rows} outputs")
    print(f"open graph on the outputs: {result['output_edges']} edges; "
          f"every stabilizer of the circuit's state is +1 on it")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
