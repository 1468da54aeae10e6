"""ordavine.Circuit and its compiled samplers: the format's counts (against
Stim), the rows of the module functions for the same key and shot numbers
over any split, thread count and packing, the observable flags, pickling,
the memoryview results without numpy, and refusals."""

import pickle
import subprocess
import sys

import pytest

import ordavine
from golden import corpus
from golden.random_circuits import random_circuit


@pytest.fixture
def np():
    return pytest.importorskip("numpy")


def test_counts_follow_the_format_on_generated_families_random_circuits_and_mpad():
    stim = pytest.importorskip("stim")
    texts = [random_circuit(k)[0] for k in range(corpus.RANDOM_CIRCUITS)]
    texts += [str(stim.Circuit.generated(family, distance=3, rounds=2, after_clifford_depolarization=0.01))
              for family in ("repetition_code:memory", "surface_code:rotated_memory_x",
                             "surface_code:rotated_memory_z", "surface_code:unrotated_memory_x",
                             "surface_code:unrotated_memory_z", "color_code:memory_xyz")]
    texts += ["MPAD 0 1\nM 0", "QUBIT_COORDS(1) 9\nI 4", "M 0\nOBSERVABLE_INCLUDE(3) rec[-1]", ""]
    for text in texts:
        ours, theirs = ordavine.Circuit(text), stim.Circuit(text)
        assert (ours.num_qubits, ours.num_measurements, ours.num_detectors, ours.num_observables) == (
            theirs.num_qubits, theirs.num_measurements, theirs.num_detectors, theirs.num_observables), text
    assert ordavine.Circuit(theirs).num_qubits == theirs.num_qubits  # a stim.Circuit, by its str()


NOISY = """
R 0 1 2 3
REPEAT 5 {
  H 0
  CX 0 1 2 3
  DEPOLARIZE2(0.05) 0 1 2 3
  MR(0.02) 1 3
  DETECTOR rec[-1] rec[-2]
  HERALDED_ERASE(0.03) 2
}
M 0 2
OBSERVABLE_INCLUDE(0) rec[-1]
OBSERVABLE_INCLUDE(1) rec[-2]
"""


def test_successive_calls_give_the_module_functions_rows_at_any_split_and_thread_count(np):
    circuit = ordavine.Circuit(NOISY)
    whole = np.frombuffer(ordavine.sample(NOISY, 1500, seed=3), np.uint8).reshape(1500, -1).astype(bool)
    detectors, observables = (np.frombuffer(b, np.uint8).reshape(1500, -1).astype(bool)
                              for b in ordavine.sample_detectors(NOISY, 1500, seed=3))
    for threads in (1, 2, 5, None):
        sampler, detector_sampler = circuit.compile_sampler(seed=3), circuit.compile_detector_sampler(seed=3)
        got = np.vstack([sampler.sample(n, num_threads=threads) for n in (1, 300, 0, 699, 500)])
        assert got.dtype == np.bool_ and (got == whole).all(), threads
        packed = [detector_sampler.sample(n, num_threads=threads, bit_packed=True, separate_observables=True)
                  for n in (257, 1243)]
        unpack = lambda a, width: np.unpackbits(a, axis=1, bitorder="little")[:, :width].astype(bool)
        assert (np.vstack([unpack(d, detectors.shape[1]) for d, _ in packed]) == detectors).all()
        assert (np.vstack([unpack(o, 2) for _, o in packed]) == observables).all()
    appended = circuit.compile_detector_sampler(seed=3).sample(1500, append_observables=True, bit_packed=True)
    prepended = circuit.compile_detector_sampler(seed=3).sample(1500, prepend_observables=True)
    assert (np.unpackbits(appended, axis=1, bitorder="little")[:, :7] == np.hstack([detectors, observables])).all()
    assert (prepended == np.hstack([observables, detectors])).all()
    assert (circuit.compile_detector_sampler(seed=3).sample(1500) == detectors).all()


def test_unseeded_samplers_draw_fresh_keys_from_the_thread_generator(np):
    circuit = ordavine.Circuit(NOISY)
    ordavine.seed(11)
    a = circuit.compile_sampler().sample(200)
    b = circuit.compile_sampler().sample(200)
    ordavine.seed(11)
    assert (circuit.compile_sampler().sample(200) == a).all() and not (a == b).all()
    ordavine.seed(None)


def test_text_repr_and_pickling_keep_the_circuit():
    circuit = ordavine.Circuit(NOISY)
    again = pickle.loads(pickle.dumps(circuit))
    assert str(again) == str(circuit) == NOISY
    assert eval(repr(circuit), {"ordavine": ordavine}).num_detectors == circuit.num_detectors == 5


def test_refusals():
    with pytest.raises(ValueError, match="line 1"):
        ordavine.Circuit("H 0 rec[-1]")
    sampler = ordavine.Circuit(NOISY).compile_detector_sampler(seed=1)
    with pytest.raises(ValueError, match="at most one"):
        sampler.sample(5, separate_observables=True, append_observables=True)
    with pytest.raises(ValueError, match="num_threads"):
        sampler.sample(5, num_threads=0)
    with pytest.raises(TypeError):
        sampler.sample(5, True)
    with pytest.raises(TypeError):
        ordavine.CompiledDetectorSampler()
    # Rows that cannot fit are refused before anything is written, the
    # observables a call drops among them.
    no_detectors = ordavine.Circuit("M 0\nOBSERVABLE_INCLUDE(40) rec[-1]").compile_detector_sampler(seed=1)
    for call in (lambda: no_detectors.sample(2**62), lambda: sampler.sample(2**62, bit_packed=True)):
        with pytest.raises(MemoryError):
            call()
    assert no_detectors.sample(3).shape == (3, 0)


def test_without_numpy_results_are_memoryviews_of_the_same_rows():
    script = f"""
import sys
sys.modules["numpy"] = None
import ordavine
c = ordavine.Circuit({NOISY!r})
a = c.compile_sampler(seed=3).sample(300)
b = c.compile_detector_sampler(seed=3).sample(300, bit_packed=True, prepend_observables=True)
assert isinstance(a, memoryview) and a.shape == (300, 17) and a.format == "?", (a.shape, a.format)
assert b.shape == (300, 1) and b.format == "B"
assert a.tobytes() == ordavine.sample(c.__str__(), 300, seed=3)
# Empty results keep their shape: no shots, and no detectors.
assert c.compile_sampler(seed=3).sample(0).shape == (0, 17)
assert c.compile_detector_sampler(seed=3).sample(0, bit_packed=True).shape == (0, 1)
none = ordavine.Circuit("M 0\\nOBSERVABLE_INCLUDE(40) rec[-1]").compile_detector_sampler(seed=1)
assert none.sample(3).shape == (3, 0) and none.sample(3).format == "?"
print("ok")
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.stdout.strip() == "ok", done.stderr
