"""A wire carved out of a 2D cluster state of a million qubits carries a state across it.

The register is a rows x cols square lattice (1000 x 1000 by default):
every qubit starts in |+>, except the corner qubit 0, which holds the input
state, and controlled-Z gates join each qubit to its right and lower
neighbour (a 2D cluster state, about two million edges).

1. Carve: every qubit off a snake-shaped path (even rows, joined at
   alternate ends through one qubit of the odd row between them) is
   measured in Z.  That cuts it out of the graph and leaves Z^m on its
   path neighbours for outcome m.  What remains is a 1D wire.
2. Teleport: the wire's qubits are measured in X one after the other,
   each step moving the state along as X^s H.  The program tracks the Pauli
   byproducts of both steps from the outcomes.
3. Check: after undoing the byproducts and the Hadamard power, the far end
   of the wire must be fixed in the input's basis with the input's
   eigenvalue, and the graph must have been exactly the path after step 1.

    python examples/cluster_wire.py [--rows N] [--cols N] [--state 0|1|+|-|+i|-i]

A progress line goes to standard error while a phase runs longer than a
second; the summary and the check go to standard output.
"""

from __future__ import annotations

import argparse
import sys
import time
from typing import Callable, TextIO

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
    """Stops the program with `message` when a physical prediction fails."""
    if not condition:
        raise AssertionError(message)


class Progress:
    """A one-line progress report on `stream`, shown once a phase runs past `delay` seconds.

    On a terminal the line is rewritten in place; elsewhere (a log file) one
    line is written per phase when the phase ends, if it was shown at all.
    """

    def __init__(self, stream: TextIO | None, delay: float = 1.0) -> None:
        self.stream = stream
        self.delay = delay
        self.tty = stream is not None and stream.isatty()
        self.phase = ""
        self.total = 0
        self.start = self.last = 0.0
        self.shown = False

    def begin(self, phase: str, total: int) -> None:
        self.phase, self.total = phase, total
        self.start = self.last = time.perf_counter()
        self.shown = False

    def update(self, done: int) -> None:
        """Reports `done` of the phase's total; cheap enough to call every few thousand steps."""
        if self.stream is None:
            return
        now = time.perf_counter()
        if now - self.start < self.delay or (self.shown and now - self.last < 0.25):
            return
        self.last = now
        self.shown = True
        if self.tty:
            self._write(done, now, "\r")

    def end(self) -> float:
        """Closes the phase; returns its duration in seconds."""
        now = time.perf_counter()
        if self.stream is not None and self.shown:
            self._write(self.total, now, "\r" if self.tty else "")
            self.stream.write("\n")
            self.stream.flush()
        return now - self.start

    def _write(self, done: int, now: float, prefix: str) -> None:
        assert self.stream is not None
        percent = 100.0 * done / self.total if self.total else 100.0
        self.stream.write(f"{prefix}{self.phase}: {done:,}/{self.total:,} ({percent:5.1f}%) "
                          f"{now - self.start:6.1f} s")
        self.stream.flush()


def snake_path(rows: int, cols: int) -> list[int]:
    """The wire's qubits in order: even rows, alternately left to right and back,
    each joined to the next by the qubit of the odd row below its last column."""
    path: list[int] = []
    for row in range(0, rows, 2):
        columns = range(cols) if (row // 2) % 2 == 0 else range(cols - 1, -1, -1)
        path.extend(row * cols + c for c in columns)
        if row + 2 < rows:
            path.append((row + 1) * cols + columns[-1])
    return path


def run(rows: int, cols: int, state: str, progress: Progress) -> dict[str, float]:
    """Builds, carves, teleports and checks; returns counts and phase times."""
    check(rows >= 1 and cols >= 2, "the lattice needs at least one row of two qubits")
    n = rows * cols
    step = 1 << 14  # progress is reported every `step` qubits
    times: dict[str, float] = {}

    sim = Ordavine(n)
    progress.begin("build cluster", 2 * n)
    for gate in INPUT_STATES[state][0]:
        getattr(sim, gate)(0)
    cz, h = sim.cz, sim.h
    edges = 0
    for q in range(n):
        if q:
            h(q)  # |0> -> |+>; qubit 0 holds the input instead
        if q % step == 0:
            progress.update(q)
    for q in range(n):
        r, c = divmod(q, cols)
        if c + 1 < cols:
            cz(q, q + 1)
            edges += 1
        if r + 1 < rows:
            cz(q, q + cols)
            edges += 1
        if q % step == 0:
            progress.update(n + q)
    times["build"] = progress.end()
    middle = (rows // 2) * cols + cols // 2
    if 0 < middle // cols < rows - 1 and 0 < middle % cols < cols - 1:
        check(sorted(sim.get_neighbors(middle)) ==
              sorted([middle - cols, middle - 1, middle + 1, middle + cols]),
              "an inner qubit of the lattice has its four neighbours")

    # Carve: Z on every qubit off the path.  Z^m lands on its path neighbours.
    path = snake_path(rows, cols)
    on_path = bytearray(n)
    for q in path:
        on_path[q] = 1
    z_byproduct = bytearray(n)
    off_path = n - len(path)
    progress.begin("carve wire (Z)", off_path)
    measure_z = sim.measure_z
    done = 0
    for q in range(n):
        if on_path[q]:
            continue
        if done % step == 0:
            progress.update(done)
        done += 1
        if int(measure_z(q)):
            r, c = divmod(q, cols)
            for neighbour, inside in ((q - cols, r > 0), (q + cols, r + 1 < rows),
                                      (q - 1, c > 0), (q + 1, c + 1 < cols)):
                if inside and on_path[neighbour]:
                    z_byproduct[neighbour] ^= 1
    times["carve"] = progress.end()

    # The graph is now exactly the path (the input joins it unless it is a
    # Z eigenstate, which controlled-Z leaves unentangled); every other
    # qubit is cut loose.
    progress.begin("check graph", n)
    position = [-1] * n
    for i, q in enumerate(path):
        position[q] = i
    last = len(path) - 1
    first_linked = 1 if INPUT_STATES[state][1] == "Z" else 0
    get_neighbors = sim.get_neighbors
    for q in range(n):
        got = get_neighbors(q)
        i = position[q]
        if i < 0:
            wanted = []
        else:
            wanted = [path[j] for j in (i - 1, i + 1) if first_linked <= j <= last]
            if i < first_linked:
                wanted = []
        check(sorted(got) == sorted(wanted),
              f"after carving, qubit {q} has neighbours {got}, expected {sorted(wanted)}")
        if q % step == 0:
            progress.update(q)
    times["check"] = progress.end()

    # Teleport: X along the path.  Output = X^x Z^z H^k |input> (up to phase).
    progress.begin("teleport (X)", len(path) - 1)
    measure_x = sim.measure_x
    x_frame = z_frame = 0
    minus_ones = 0
    for i in range(len(path) - 1):
        q = path[i]
        raw = int(measure_x(q))
        minus_ones += raw
        s = raw ^ z_byproduct[q]  # Z before an X measurement flips its outcome
        x_frame, z_frame = z_frame ^ s, x_frame
        if i % step == 0:
            progress.update(i)
    times["teleport"] = progress.end()

    out = path[-1]
    z_frame ^= z_byproduct[out]
    if x_frame:
        sim.x(out)
    if z_frame:
        sim.z(out)
    if (len(path) - 1) % 2:
        sim.h(out)
    _, basis, expected = INPUT_STATES[state]
    peeked = sim.peek_measure_set({out})[out]
    check(peeked.deterministic and peeked.basis == basis,
          f"the output is not fixed in the {basis} basis (peek: {peeked.basis}, "
          f"deterministic={peeked.deterministic})")
    measure: Callable[[int], MeasurementResult] = {
        "X": sim.measure_x, "Y": sim.measure_y, "Z": sim.measure_z}[basis]
    found = int(measure(out))
    check(found == int(peeked.result) == expected,
          f"|{state}> arrived with eigenvalue bit {found}, expected {expected}")
    steps = len(path) - 1
    if steps >= 100:
        # Every wire outcome is a fair coin: allow six standard deviations.
        check(abs(minus_ones - steps / 2) <= 3 * steps ** 0.5,
              f"{minus_ones} of {steps} X outcomes were -1")
    return {"qubits": n, "edges": edges, "wire": len(path), "off_path": off_path,
            "minus_ones": minus_ones, "output": out, **times}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1000)
    parser.add_argument("--cols", type=int, default=1000)
    parser.add_argument("--state", choices=sorted(INPUT_STATES), default="+i",
                        help="input Pauli eigenstate (default +i)")
    parser.add_argument("--quiet", action="store_true", help="no progress line")
    args = parser.parse_args(argv)

    started = time.perf_counter()
    progress = Progress(None if args.quiet else sys.stderr)
    result = run(args.rows, args.cols, args.state, progress)
    total = time.perf_counter() - started
    _, basis, expected = INPUT_STATES[args.state]
    print(f"lattice {args.rows} x {args.cols}: {result['qubits']:,} qubits, "
          f"{result['edges']:,} edges, built in {result['build']:.1f} s")
    print(f"carved a wire of {result['wire']:,} qubits by {result['off_path']:,} "
          f"Z measurements in {result['carve']:.1f} s")
    print(f"checked that the graph is exactly the wire in {result['check']:.1f} s")
    print(f"teleported |{args.state}> by {result['wire'] - 1:,} X measurements in "
          f"{result['teleport']:.1f} s ({result['minus_ones']:,} outcomes -1)")
    print(f"qubit {result['output']:,} measured in {basis}: "
          f"{'+1' if expected == 0 else '-1'}, as sent; total {total:.1f} s")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
