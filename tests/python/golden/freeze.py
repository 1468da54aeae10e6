"""Regenerates the golden corpus: the stored code-family circuits and digests.json.

tests/python/test_golden_outputs.py recomputes every digest of digests.json
with the installed module and fails on any difference.  Run this script
only when a change is meant to alter documented outputs (sample rows, run
records, seeded draws, graphs, neighbour-list order, VOPs, saved states),
with the module of that change importable, from the repository root:

    PYTHONPATH=build/py .venv-cpython/bin/python tests/python/golden/freeze.py

It writes circuits/*.stim from Stim's generated circuits (rotated and
unrotated surface-code memory in X and Z, repetition and colour codes at
small distances, noise on all four knobs), removing stale ones, then
digests.json from corpus.py.  ``--keep-circuits`` keeps the stored
circuits and needs no stim.  Afterwards run the test on CPython and PyPy
and say in the commit which outputs changed and why.
"""

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # tests/python, for `golden`

import ordavine  # noqa: E402

from golden import corpus  # noqa: E402

NOISE = {
    "after_clifford_depolarization": 0.01,
    "after_reset_flip_probability": 0.02,
    "before_measure_flip_probability": 0.015,
    "before_round_data_depolarization": 0.005,
}
# file name -> (Stim's task, distance, rounds)
CODE_FAMILIES = {
    "repetition_d3": ("repetition_code:memory", 3, 3),
    "repetition_d7": ("repetition_code:memory", 7, 4),
    "surface_rotated_x_d3": ("surface_code:rotated_memory_x", 3, 3),
    "surface_rotated_z_d3": ("surface_code:rotated_memory_z", 3, 3),
    "surface_rotated_x_d5": ("surface_code:rotated_memory_x", 5, 5),
    "surface_rotated_z_d5": ("surface_code:rotated_memory_z", 5, 5),
    "surface_unrotated_x_d3": ("surface_code:unrotated_memory_x", 3, 3),
    "surface_unrotated_z_d3": ("surface_code:unrotated_memory_z", 3, 3),
    "color_xyz_d3": ("color_code:memory_xyz", 3, 3),
    "color_xyz_d5": ("color_code:memory_xyz", 5, 3),
}


def write_circuits(stim):
    corpus.CIRCUITS.mkdir(exist_ok=True)
    for stale in corpus.CIRCUITS.glob("*.stim"):
        if stale.stem not in CODE_FAMILIES:
            stale.unlink()
    knobs = ", ".join(f"{k}={v}" for k, v in NOISE.items())
    for name, (task, distance, rounds) in CODE_FAMILIES.items():
        circuit = stim.Circuit.generated(task, distance=distance, rounds=rounds, **NOISE)
        header = (f"# stim.Circuit.generated({task!r}, distance={distance}, rounds={rounds}, {knobs})"
                  f", stim {stim.__version__}\n# qubits: {circuit.num_qubits}\n")
        (corpus.CIRCUITS / f"{name}.stim").write_text(header + str(circuit) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--keep-circuits", action="store_true",
                        help="keep circuits/*.stim as they are (no stim needed)")
    options = parser.parse_args()
    if not options.keep_circuits:
        try:
            import stim
        except ImportError:
            sys.exit("stim is needed to regenerate the circuits (or pass --keep-circuits)")
        write_circuits(stim)
    frozen = {name: compute() for name, compute in corpus.entries().items()}
    ordavine.seed(None)
    document = {
        "about": "SHA-256 digests of documented outputs, written by tests/python/golden/freeze.py "
                 "and compared by tests/python/test_golden_outputs.py; never edited by hand",
        "entries": frozen,
    }
    corpus.DIGESTS.write_text(json.dumps(document, indent=1, sort_keys=True) + "\n")
    kinds = sum(len(outputs) for outputs in frozen.values())
    print(f"froze {kinds} digests of {len(frozen)} entries into {corpus.DIGESTS} "
          f"with {ordavine.__file__}")


if __name__ == "__main__":
    main()
