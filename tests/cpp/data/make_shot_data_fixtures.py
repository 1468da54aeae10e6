"""Writes the shot data fixtures of tests/cpp/test_shot_data.cpp with Stim.

For each case, random shots (seeded, so a rerun writes the same files) are
saved as `<case>.rows`, the packed rows the writer is fed (one row of
ceil(bits / 8) bytes per shot, bit b in bit b % 8 of byte b / 8), and
`<case>.<format>` is what stim.write_shot_data_file writes for them.  Each
file is read back with stim.read_shot_data_file before it is kept.

    python tests/cpp/data/make_shot_data_fixtures.py   # needs numpy and stim
"""

import pathlib

import numpy as np
import stim

HERE = pathlib.Path(__file__).parent

# name: (bits, shots, chance of a 1, (measurements, detectors, observables), formats)
CASES = {
    "dense13": (13, 64, 0.5, (13, 0, 0), ("01", "b8", "r8", "ptb64", "hits", "dets")),
    "mixed70": (70, 64, 0.1, (0, 64, 6), ("01", "b8", "r8", "ptb64", "hits", "dets")),
    "sparse600": (600, 64, 0.003, (0, 590, 10), ("r8", "ptb64", "hits", "dets")),
}


def main() -> None:
    rng = np.random.default_rng(20240611)
    for name, (bits, shots, chance, counts, formats) in CASES.items():
        data = rng.random((shots, bits)) < chance
        data[0, :] = False  # a shot of zeros: the longest runs of r8
        if chance >= 0.1:
            data[1, :] = True
        packed = np.packbits(data, axis=1, bitorder="little")
        (HERE / f"{name}.rows").write_bytes(packed.tobytes())
        m, d, o = counts
        for fmt in formats:
            path = HERE / f"{name}.{fmt}"
            stim.write_shot_data_file(
                data=data, path=str(path), format=fmt, num_measurements=m, num_detectors=d, num_observables=o
            )
            back = stim.read_shot_data_file(
                path=str(path), format=fmt, num_measurements=m, num_detectors=d, num_observables=o
            )
            assert np.array_equal(back, data), (name, fmt)


if __name__ == "__main__":
    main()
