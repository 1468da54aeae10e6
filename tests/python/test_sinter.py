"""The sinter plug-in: logical error rates (surface and repetition codes, with
pymatching and fusion_blossom) and postselection against sinter's own
stim-based sampler, decoder-signalled discards and file-only decoders, batch
sizes, refused tasks, and the command line with its resume file.  Skipped
where sinter or pymatching is missing (PyPy); the fusion_blossom cases where
fusion_blossom is."""

import csv
import importlib.metadata
import importlib.util
import math
import pickle
import subprocess
import sys
from pathlib import Path

import pytest

sinter = pytest.importorskip("sinter")
pytest.importorskip("pymatching")
np = pytest.importorskip("numpy")
stim = pytest.importorskip("stim")

import ordavine_sinter  # noqa: E402  (needs sinter)
from ordavine_sinter._batch_size import MAX_GROWTH, BatchSizer  # noqa: E402

PLUG_IN_SOURCE = Path(__file__).resolve().parents[2] / "python" / "ordavine_sinter"


def surface_code(p=0.01):
    return stim.Circuit.generated(
        "surface_code:rotated_memory_x", distance=3, rounds=3,
        after_clifford_depolarization=p, after_reset_flip_probability=p,
        before_measure_flip_probability=p, before_round_data_depolarization=p)


def repetition_code(p=0.08):
    return stim.Circuit.generated(
        "repetition_code:memory", distance=5, rounds=5,
        before_round_data_depolarization=p, before_measure_flip_probability=p)


def within_five_sigma(hits_a, n_a, hits_b, n_b):
    pooled = (hits_a + hits_b) / (n_a + n_b)
    sigma = math.sqrt(pooled * (1 - pooled) * (1 / n_a + 1 / n_b))
    return abs(hits_a / n_a - hits_b / n_b) <= 5 * sigma


def with_observable_copy(circuit):
    """`circuit` with one more detector, last, on the measurements of its observable:
    a decoder reading it knows the observable's true flip."""
    circuit = circuit.copy()
    assert circuit[-1].name == "OBSERVABLE_INCLUDE"
    circuit.append("DETECTOR", circuit[-1].targets_copy())
    return circuit


class Contrary(sinter.Decoder):
    """Predicts the opposite of the observable's true flip (the last detector of
    `with_observable_copy`), so every shot it decodes is an error; remembers which
    detectors ever fired in what it was given."""

    def __init__(self, via_files=False, extra_byte=False):
        self.via_files, self.extra_byte = via_files, extra_byte
        self.seen = None

    def compile_decoder_for_dem(self, *, dem):
        if self.via_files:
            raise NotImplementedError
        outer = self

        class Compiled(sinter.CompiledDecoder):
            def decode_shots_bit_packed(self, *, bit_packed_detection_event_data):
                return outer.predict(bit_packed_detection_event_data, dem.num_detectors)

        return Compiled()

    def predict(self, detectors, num_detectors):
        fired = np.bitwise_or.reduce(detectors, axis=0)
        self.seen = fired if self.seen is None else self.seen | fired
        last = num_detectors - 1
        predictions = (((detectors[:, last // 8] >> (last % 8)) & 1) ^ 1)[:, None]
        if self.extra_byte:  # asks for every other shot to be discarded
            predictions = np.hstack([predictions, (np.arange(len(detectors)) % 2)[:, None]])
        return predictions.astype(np.uint8)

    def decode_via_files(self, *, num_shots, num_dets, num_obs, dem_path, dets_b8_in_path,
                         obs_predictions_b8_out_path, tmp_dir):
        assert Path(tmp_dir).is_dir() and stim.DetectorErrorModel.from_file(dem_path).num_detectors == num_dets
        detectors = np.fromfile(dets_b8_in_path, np.uint8).reshape(num_shots, (num_dets + 7) // 8)
        self.predict(detectors, num_dets).tofile(obs_predictions_b8_out_path)


def take(compiled, shots):
    """Stats of calls of `compiled` until `shots` are taken, each suggested what is left."""
    total = sinter.AnonTaskStats()
    while total.shots < shots:
        got = compiled.sample(shots - total.shots)
        assert 1 <= got.shots <= shots - total.shots and got.seconds > 0
        total += got
    return total


def test_the_distribution_installs_the_plug_in_as_it_is_in_the_tree():
    installed = {str(f).replace("\\", "/"): f for f in importlib.metadata.files("ordavine") or []}
    for source in sorted(p for p in PLUG_IN_SOURCE.iterdir() if p.is_file()):
        name = f"ordavine_sinter/{source.name}"
        assert name in installed, f"the wheel does not install {name}"
        assert Path(installed[name].locate()).read_bytes() == source.read_bytes(), (
            f"the installed {name} differs from the tree's: reinstall the package")


def test_sinter_samplers_name_every_built_in_decoder_and_pickle():
    samplers = ordavine_sinter.sinter_samplers()
    assert set(samplers) == {"ordavine+" + name for name in sinter.BUILT_IN_DECODERS}
    for name, sampler in samplers.items():
        assert isinstance(sampler, sinter.Sampler)
        assert sampler.decoder is sinter.BUILT_IN_DECODERS[name.removeprefix("ordavine+")]
        assert type(pickle.loads(pickle.dumps(sampler)).decoder) is type(sampler.decoder)


@pytest.mark.parametrize("decoder", [
    "pymatching",
    pytest.param("fusion_blossom", marks=pytest.mark.skipif(
        importlib.util.find_spec("fusion_blossom") is None, reason="fusion_blossom is not installed")),
])
def test_logical_error_rates_agree_with_sinters_own_sampler(decoder):
    tasks = [sinter.Task(circuit=surface_code(), json_metadata={"code": "surface"}),
             sinter.Task(circuit=repetition_code(), json_metadata={"code": "repetition"})]
    stats = sinter.collect(
        num_workers=2, tasks=tasks, decoders=[decoder, "ordavine+" + decoder],
        custom_decoders=ordavine_sinter.sinter_samplers(), max_shots=10_000)
    cells = {(s.json_metadata["code"], s.decoder): s for s in stats}
    assert len(cells) == 4
    for code in ("surface", "repetition"):
        ours, theirs = cells[code, "ordavine+" + decoder], cells[code, decoder]
        assert ours.shots == theirs.shots == 10_000 and ours.discards == 0 and ours.seconds > 0
        assert 0.01 < ours.errors / ours.shots < 0.2, ours  # decoded: far below an undecoded rate
        assert within_five_sigma(ours.errors, ours.shots, theirs.errors, theirs.shots), (ours, theirs)


def test_postselected_detectors_discard_at_stims_rate_and_are_never_decoded():
    circuit = with_observable_copy(surface_code())
    mask = np.packbits(np.arange(circuit.num_detectors) < 8, bitorder="little")
    dets, _ = circuit.compile_detector_sampler().sample(50_000, bit_packed=True, separate_observables=True)
    stim_discards = int(np.count_nonzero(np.any(dets & mask, axis=1)))
    for via_files in (False, True):
        decoder = Contrary(via_files=via_files)
        task = sinter.Task(circuit=circuit, postselection_mask=mask)
        total = take(ordavine_sinter.OrdavineSampler(decoder).compiled_sampler_for_task(task), 20_000)
        assert within_five_sigma(total.discards, total.shots, stim_discards, 50_000), total
        assert total.errors == total.shots - total.discards  # every decoded shot, no discarded one
        assert not np.any(decoder.seen & mask) and np.any(decoder.seen & ~mask)


def test_decoder_signalled_and_postselected_observable_discards():
    circuit = with_observable_copy(surface_code())
    # Every other shot asked to be discarded by the decoder's extra byte.
    task = sinter.Task(circuit=circuit)
    total = take(ordavine_sinter.OrdavineSampler(Contrary(extra_byte=True)).compiled_sampler_for_task(task), 999)
    assert total.discards + total.errors == total.shots and abs(total.discards - total.errors) <= 20
    # A wrong prediction of a postselected observable discards instead of counting an error.
    task = sinter.Task(circuit=circuit, postselected_observables_mask=np.array([1], np.uint8))
    total = take(ordavine_sinter.OrdavineSampler(Contrary()).compiled_sampler_for_task(task), 500)
    assert (total.discards, total.errors) == (500, 0)


def test_batches_start_at_one_shot_grow_gradually_and_follow_the_suggestion():
    compiled = ordavine_sinter.OrdavineSampler(sinter.BUILT_IN_DECODERS["vacuous"]).compiled_sampler_for_task(
        sinter.Task(circuit=surface_code()))
    sizes = [compiled.sample(10**9).shots for _ in range(6)]
    assert sizes[0] == 1 and all(b <= a * MAX_GROWTH for a, b in zip(sizes, sizes[1:]))
    assert [compiled.sample(3).shots for _ in range(3)] == [3, 3, 3]
    sizer = BatchSizer(target_seconds=1.0, bytes_per_shot=4, max_shots=5000)
    for _ in range(10):  # cheap shots: grown to the cap
        sizer.record(sizer.next_shots(10**9), 1e-6)
    assert sizer.next_shots(10**9) == 5000  # the task's max_batch_size
    sizer.record(5000, 10.0)
    assert sizer.next_shots(10**9) == 500  # a slow batch: the next one aims at the target
    sizer.record(3, 1e-6)
    assert sizer.next_shots(10**9) == 500  # a batch cut short does not grow the next


def test_refuses_masks_and_models_that_do_not_fit_the_circuit():
    circuit, sampler = surface_code(), ordavine_sinter.OrdavineSampler(sinter.BUILT_IN_DECODERS["vacuous"])
    with pytest.raises(ValueError, match="postselection_mask has dtype int64 and shape \\(3,\\); a bit-packed"):
        sampler.compiled_sampler_for_task(  # sinter checks masks and models only when validating
            sinter.Task(circuit=circuit, postselection_mask=np.zeros(3, np.int64), skip_validation=True))
    other = stim.Circuit.generated("repetition_code:memory", distance=3, rounds=2,
                                   before_round_data_depolarization=0.01)
    with pytest.raises(ValueError, match="model has 6 detectors and 1 observables; its circuit has 24 and 1"):
        sampler.compiled_sampler_for_task(
            sinter.Task(circuit=circuit, detector_error_model=other.detector_error_model(), skip_validation=True))


def test_command_line_collects_resumes_and_combines_with_ordavine_decoders(tmp_path):
    script = Path(sys.executable).with_name("sinter")
    if not script.exists():
        pytest.skip("no sinter script beside this interpreter")
    (tmp_path / "d=3,p=0.01.stim").write_text(str(surface_code()))
    out = tmp_path / "stats.csv"

    def sinter_command(*args):
        return subprocess.run([sys.executable, str(script), *args], check=True, cwd=tmp_path,
                              timeout=120, capture_output=True, text=True).stdout

    def collect(max_shots):
        sinter_command(
            "collect", "--circuits", str(tmp_path / "d=3,p=0.01.stim"),
            "--decoders", "ordavine+pymatching", "ordavine+vacuous",
            "--custom_decoders_module_function", "ordavine_sinter:sinter_samplers",
            "--metadata_func", "auto", "--max_shots", str(max_shots), "--processes", "2", "--quiet",
            "--save_resume_filepath", str(out))

    collect(300)
    stats = {s.decoder: s for s in sinter.read_stats_from_csv_files(out)}
    assert set(stats) == {"ordavine+pymatching", "ordavine+vacuous"}
    assert all(s.shots == 300 and s.json_metadata == {"d": 3, "p": 0.01} for s in stats.values())
    # Resumed with a larger budget: the rows already saved stay, and only the missing shots are taken.
    first_run = out.read_text()
    collect(500)
    assert out.read_text().startswith(first_run) and len(out.read_text()) > len(first_run)
    rows = list(csv.DictReader(sinter_command("combine", str(out)).splitlines(), skipinitialspace=True))
    assert sorted((r["decoder"], int(r["shots"]), r["json_metadata"]) for r in rows) == [
        ("ordavine+pymatching", 500, '{"d":3,"p":0.01}'), ("ordavine+vacuous", 500, '{"d":3,"p":0.01}')]
