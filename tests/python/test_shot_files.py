"""sample_write: every shot data format read back by Stim as the rows
`sample` gives, with and without observables; refusals before anything is
written; a write that fails part way leaves no file and names the path."""

import os
import textwrap

import pytest

import ordavine

FORMATS = ("01", "b8", "r8", "ptb64", "hits", "dets")
CIRCUIT = """
R 0 1 2 3 4
REPEAT 4 {
  CX 0 1 2 3 4 3
  DEPOLARIZE2(0.04) 0 1 2 3
  MR(0.03) 1 3
  DETECTOR rec[-1] rec[-2]
  X_ERROR(0.05) 0 2 4
}
M 0 2 4
OBSERVABLE_INCLUDE(0) rec[-1]
OBSERVABLE_INCLUDE(2) rec[-3]
DETECTOR rec[-1] rec[-2] rec[-3]
"""


@pytest.fixture
def stim():
    return pytest.importorskip("stim")


@pytest.fixture
def np():
    return pytest.importorskip("numpy")


@pytest.mark.parametrize("fmt", FORMATS)
def test_every_format_reads_back_as_the_sampled_rows(tmp_path, stim, np, fmt):
    circuit = ordavine.Circuit(CIRCUIT)
    m, d, o = circuit.num_measurements, circuit.num_detectors, circuit.num_observables
    shots = 640 if fmt == "ptb64" else 333  # 333: not a multiple of 8 or 64
    path, obs_path = tmp_path / f"a.{fmt}", tmp_path / f"o.{fmt}"

    circuit.compile_sampler(seed=5).sample_write(shots, filepath=path, format=fmt, num_threads=3)
    rows = circuit.compile_sampler(seed=5).sample(shots)
    assert (stim.read_shot_data_file(path=str(path), format=fmt, num_measurements=m) == rows).all()

    detectors, observables = circuit.compile_detector_sampler(seed=5).sample(shots, separate_observables=True)
    circuit.compile_detector_sampler(seed=5).sample_write(
        shots, filepath=str(path), format=fmt, obs_out_filepath=obs_path, obs_out_format=fmt)
    assert (stim.read_shot_data_file(path=str(path), format=fmt, num_detectors=d) == detectors).all()
    assert (stim.read_shot_data_file(path=str(obs_path), format=fmt, num_observables=o) == observables).all()
    for flag, joined in (("append_observables", np.hstack([detectors, observables])),
                         ("prepend_observables", np.hstack([observables, detectors]))):
        circuit.compile_detector_sampler(seed=5).sample_write(shots, filepath=path, format=fmt, **{flag: True})
        if fmt == "dets":  # the letters say which is which: Stim reads D then L
            joined = np.hstack([detectors, observables])
        read = stim.read_shot_data_file(path=str(path), format=fmt, num_detectors=d, num_observables=o)
        assert (read == joined).all(), flag


def test_successive_writes_continue_the_shots_and_splits_change_nothing(tmp_path):
    circuit = ordavine.Circuit(CIRCUIT)
    sampler = circuit.compile_sampler(seed=2)
    for k, shots in enumerate((100, 1, 899)):
        sampler.sample_write(shots, filepath=tmp_path / f"{k}.b8", format="b8")
    whole = tmp_path / "whole.b8"
    circuit.compile_sampler(seed=2).sample_write(1000, filepath=whole, format="b8", num_threads=1)
    parts = b"".join((tmp_path / f"{k}.b8").read_bytes() for k in range(3))
    assert parts == whole.read_bytes() == ordavine.sample(CIRCUIT, 1000, seed=2, bit_packed=True)


def test_refusals_write_nothing_and_take_no_shots(tmp_path):
    sampler = ordavine.Circuit(CIRCUIT).compile_detector_sampler(seed=1)
    target = tmp_path / "x.01"
    with pytest.raises(ValueError, match="multiple of 64"):
        sampler.sample_write(65, filepath=target, format="ptb64")
    with pytest.raises(ValueError, match="the formats are 01, b8, r8, ptb64, hits, dets"):
        sampler.sample_write(5, filepath=target, format="csv")
    with pytest.raises(ValueError, match="at most one"):
        sampler.sample_write(5, filepath=target, append_observables=True, prepend_observables=True)
    with pytest.raises(TypeError, match="missing 1 required keyword-only argument: 'filepath'"):
        sampler.sample_write(5)
    with pytest.raises(TypeError, match="filepath"):
        sampler.sample_write(5, filepath=3.5)
    with pytest.raises(FileNotFoundError) as refused:
        sampler.sample_write(5, filepath=tmp_path / "no" / "such" / "dir")
    assert refused.value.filename == tmp_path / "no" / "such" / "dir"
    assert not target.exists()
    sampler.sample_write(5, filepath=target)  # shot 0 onwards: the refusals took none
    again = tmp_path / "y.01"
    ordavine.Circuit(CIRCUIT).compile_detector_sampler(seed=1).sample_write(5, filepath=again)
    assert target.read_bytes() == again.read_bytes()


def test_a_write_that_fails_part_way_removes_its_file(run_python, tmp_path):
    """The child limits the size of the files it writes: the write past it
    fails (EFBIG), the call raises OSError naming the file, and the partial
    file is gone.  A device the caller names is never removed."""
    result = run_python(textwrap.dedent(f"""
        import os, resource, signal, ordavine
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, resource.RLIM_INFINITY))
        path = {str(tmp_path / "big.01")!r}
        sampler = ordavine.Circuit({CIRCUIT!r}).compile_sampler(seed=1)
        try:
            sampler.sample_write(200_000, filepath=path)
        except OSError as error:
            print(type(error).__name__, error.errno == 27, error.filename == path, os.path.exists(path))
        if os.path.exists("/dev/full"):
            try:
                sampler.sample_write(100_000, filepath="/dev/full", format="b8")
            except OSError as error:
                print(error.errno == 28, os.path.exists("/dev/full"))
        else:
            print(True, True)
    """))
    assert result.stdout.split() == ["OSError", "True", "True", "False", "True", "True"], result.stderr
