"""Shots of a noisy 2D cluster state of a million qubits, streamed to a file.

The circuit prepares a side x side cluster state (H on every qubit, CZ on
every grid edge), applies depolarizing noise to every qubit, and measures
every qubit in X.  A tableau of 10^6 qubits would need about 10^12 bits;
the Pauli-frame sampler runs one noiseless reference on the graph state
and then the shots as frames, 256 at a time.

The shots go to a `b8` file (bit-packed rows) as they are made: memory
stays at a few hundred megabytes whatever the shot count, while the file
grows.  A progress line follows the file's size as the write runs (the
sampler releases the interpreter lock).  At the end the first rows of the
file are checked against the same shots sampled in memory, and their X
outcomes against the cluster state's prediction (fair coins).

    python examples/large_cluster_shots.py [--side N] [--shots S] [--out PATH] [--threads T]
"""

from __future__ import annotations

import argparse
import os
import tempfile
import threading
import time

import numpy as np

import ordavine


def cluster_circuit(side: int, p: float) -> str:
    """A side x side cluster state, depolarized, measured in X."""

    def q(r: int, c: int) -> int:
        return r * side + c

    edges = [f"{q(r, c)} {q(r, c + 1)}" for r in range(side) for c in range(side - 1)]
    edges += [f"{q(r, c)} {q(r + 1, c)}" for r in range(side - 1) for c in range(side)]
    every = " ".join(map(str, range(side * side)))
    return f"H {every}\nCZ {' '.join(edges)}\nDEPOLARIZE1({p}) {every}\nMX {every}\n"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--side", type=int, default=1000)
    parser.add_argument("--shots", type=int, default=10_000)
    parser.add_argument("--p", type=float, default=0.01)
    parser.add_argument("--out", default=None, help="the b8 file (default: a temporary file, removed)")
    parser.add_argument("--threads", type=int, default=None)
    args = parser.parse_args(argv)

    n = args.side * args.side
    start = time.perf_counter()
    circuit = ordavine.Circuit(cluster_circuit(args.side, args.p))
    sampler = circuit.compile_sampler(seed=2024)  # the reference run happens here
    print(f"{n} qubits: read and compiled in {time.perf_counter() - start:.1f} s")

    row_bytes = (circuit.num_measurements + 7) // 8
    total = args.shots * row_bytes
    path = args.out or os.path.join(tempfile.mkdtemp(), "cluster_shots.b8")
    errors: list[BaseException] = []

    def write() -> None:
        try:
            sampler.sample_write(args.shots, filepath=path, format="b8", num_threads=args.threads)
        except BaseException as error:  # reported by the main thread
            errors.append(error)

    start = time.perf_counter()
    writer = threading.Thread(target=write)
    writer.start()
    # The progress line prints at least once, after the writer has ended, so
    # its last reading is the whole file even when the writing took no time.
    while True:
        writer.join(timeout=1.0)
        done = not writer.is_alive()
        written = os.path.getsize(path) if os.path.exists(path) else 0
        print(f"\r  {written / 1e6:8.1f} of {total / 1e6:.1f} MB written "
              f"({written // row_bytes} of {args.shots} shots)", end="", flush=True)
        if done:
            break
    print()
    if errors:
        raise errors[0]
    seconds = time.perf_counter() - start
    print(f"{args.shots} shots in {seconds:.1f} s, {total / seconds / 1e6:.0f} MB/s to {path}")
    assert os.path.getsize(path) == total

    # The first rows of the file are the first shots of the seed: a new
    # sampler of the same seed gives them in memory.
    check = min(args.shots, 256)
    in_memory = ordavine.Circuit(cluster_circuit(args.side, args.p)).compile_sampler(seed=2024)
    expected = in_memory.sample(check, bit_packed=True)
    with open(path, "rb") as file:
        head = np.frombuffer(file.read(check * row_bytes), dtype=np.uint8).reshape(check, row_bytes)
    assert (head == expected).all(), "the file's first rows differ from the same shots in memory"

    # X_q anticommutes with the cluster stabilizer X_q Z_neighbours, so every
    # X outcome is a fair coin, with noise or without: the rate of 1s is 1/2.
    ones = np.unpackbits(head, axis=1, bitorder="little")[:, :n].mean()
    sigma = (0.25 / (check * n)) ** 0.5
    print(f"X outcomes: {ones:.5f} of them are 1 (a cluster state predicts 1/2)")
    assert abs(ones - 0.5) < 5 * sigma, "the X outcomes are not fair coins"
    if args.out is None:
        os.remove(path)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
