"""Many shots of one circuit fanned out over a Dask cluster.

The circuit is a noisy distance-d repetition-code memory in the circuit
text format.  The shots are cut into batches; batch b samples shots
first_shot .. first_shot + count - 1 on some worker, and the gathered rows
are one numpy array.  A shot's bits depend only on the seed and its shot
number (its block of 256 shots draws from streams of its own), whichever
worker runs it and wherever a batch starts, so the array must equal what
one process gets from a single `ordavine.sample` call with the same seed:
the example checks that.

By default a LocalCluster of worker processes is started; `--scheduler`
connects to a running cluster instead (every worker needs ordavine).

    python examples/dask_shots.py [--shots N] [--batch B] [--workers W]
                                  [--distance D] [--seed S] [--scheduler ADDRESS]

Needs the `distributed` extra: pip install "ordavine[distributed]".
"""

from __future__ import annotations

import argparse
import time

import numpy as np
from dask.distributed import Client, LocalCluster

import ordavine


def repetition_code(distance: int, rounds: int, p: float) -> str:
    """Data qubits 0, 2, ..., 2d-2; ancilla 2i+1 checks Z on data 2i and 2i+2."""
    data = list(range(0, 2 * distance - 1, 2))
    ancillas = list(range(1, 2 * distance - 2, 2))
    everything = " ".join(map(str, range(2 * distance - 1)))
    checks = " ".join(map(str, ancillas))
    pairs_left = " ".join(f"{a - 1} {a}" for a in ancillas)
    pairs_right = " ".join(f"{a + 1} {a}" for a in ancillas)
    n = len(ancillas)
    first = "\n".join(f"DETECTOR rec[-{n - i}]" for i in range(n))
    later = "\n".join(f"DETECTOR rec[-{n - i}] rec[-{2 * n - i}]" for i in range(n))
    final = "\n".join(f"DETECTOR rec[-{distance - i}] rec[-{distance - i - 1}] rec[-{distance + n - i}]"
                      for i in range(n))
    rest = rounds - 1
    return "\n".join([
        f"R {everything}",
        f"DEPOLARIZE1({p}) {' '.join(map(str, data))}",
        f"CX {pairs_left}", f"CX {pairs_right}", f"X_ERROR({p}) {checks}", f"MR {checks}", first,
        f"REPEAT {rest} {{" if rest else "",
        f"DEPOLARIZE1({p}) {' '.join(map(str, data))}" if rest else "",
        f"CX {pairs_left}" if rest else "", f"CX {pairs_right}" if rest else "",
        f"X_ERROR({p}) {checks}" if rest else "", f"MR {checks}" if rest else "",
        later if rest else "", "}" if rest else "",
        f"X_ERROR({p}) {' '.join(map(str, data))}", f"M {' '.join(map(str, data))}", final,
        "OBSERVABLE_INCLUDE(0) rec[-1]",
    ])


def sample_batch(circuit: str, first_shot: int, count: int, seed: int) -> np.ndarray:
    """Rows first_shot .. first_shot + count - 1 of the run, as a (count, m) array."""
    rows = ordavine.sample(circuit, count, seed=seed, first_shot=first_shot)
    return np.frombuffer(rows, dtype=np.uint8).reshape(count, -1)


def fan_out(client: Client, circuit: str, shots: int, batch: int, seed: int) -> np.ndarray:
    """All shots, sampled in batches on the cluster and stacked in shot order."""
    starts = list(range(0, shots, batch))
    counts = [min(batch, shots - start) for start in starts]
    futures = client.map(sample_batch, [circuit] * len(starts), starts, counts,
                         [seed] * len(starts), pure=False)
    parts: list[np.ndarray] = client.gather(futures)
    return np.concatenate(parts)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--shots", type=int, default=20000)
    parser.add_argument("--batch", type=int, default=2500)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--distance", type=int, default=5)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--scheduler", default=None, help="address of a running Dask scheduler")
    args = parser.parse_args()

    circuit = repetition_code(args.distance, rounds=args.distance, p=0.01)
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        start = time.perf_counter()
        gathered = fan_out(client, circuit, args.shots, args.batch, args.seed)
        elapsed = time.perf_counter() - start
    finally:
        client.close()
        if not args.scheduler:
            cluster.close()

    alone = sample_batch(circuit, 0, args.shots, args.seed)
    if not np.array_equal(gathered, alone):
        raise AssertionError("the cluster's shots differ from one process's")
    print(f"{args.shots} shots x {gathered.shape[1]} measurements in "
          f"{-(-args.shots // args.batch)} batches: {elapsed:.2f} s on the cluster; "
          f"identical to one process's sample; mean bit {gathered.mean():.4f}")


if __name__ == "__main__":
    main()
