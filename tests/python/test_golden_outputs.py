"""Documented outputs, held byte for byte against frozen SHA-256 digests.

golden/digests.json holds, for every entry of the corpus (golden/corpus.py
says what each computes), one digest per output kind: sample and
sample_detectors rows, run records, seeded draws of the register methods,
query results, and registers through to_bytes (graph, neighbour-list order,
VOPs).  Each is recomputed here with the installed module; a difference
names the entry and the output kind.  The digests need neither stim nor
numpy: the code-family circuits are stored as text and the random circuits
come from a seeded generator, so they are checked on PyPy as on CPython
(where stim is present, it also checks that it reads the random circuits as
we do).

Only a change meant to alter outputs re-freezes the digests
(golden/freeze.py).
"""

import json

import pytest

import ordavine
from golden import corpus
from golden.random_circuits import ALL_NAMES, random_circuit

FROZEN = json.loads(corpus.DIGESTS.read_text())["entries"]
ENTRIES = corpus.entries()


@pytest.fixture(autouse=True)
def back_to_entropy():
    yield
    ordavine.seed(None)


def test_the_corpus_has_exactly_the_frozen_entries():
    missing = sorted(set(FROZEN) - set(ENTRIES))
    unfrozen = sorted(set(ENTRIES) - set(FROZEN))
    assert not missing and not unfrozen, f"entries no longer computed: {missing}; never frozen: {unfrozen}"


def test_the_random_circuits_use_every_instruction_name():
    assert len(set(ALL_NAMES)) == len(ALL_NAMES) == 93  # 81 instructions and 12 aliases
    used = set()
    for k in range(corpus.RANDOM_CIRCUITS):
        used |= random_circuit(k)[2]
    assert sorted(set(ALL_NAMES) - used) == []


def test_stim_reads_every_random_circuit_with_our_record_and_detector_counts():
    stim = pytest.importorskip("stim")
    for k in range(corpus.RANDOM_CIRCUITS):
        text, qubits, _ = random_circuit(k)
        theirs = stim.Circuit(text)
        assert theirs.num_qubits <= qubits, k
        record = ordavine.sample(text, 1, seed=0)
        detectors, observables = ordavine.sample_detectors(text, 1, seed=0)
        assert (len(record), len(detectors), len(observables)) == (
            theirs.num_measurements, theirs.num_detectors, theirs.num_observables), k


@pytest.mark.parametrize("entry", sorted(ENTRIES))
def test_outputs_match_the_frozen_digests(entry):
    computed = ENTRIES[entry]()
    frozen = FROZEN.get(entry, {})
    changed = [kind for kind in sorted(frozen) if kind in computed and computed[kind] != frozen[kind]]
    gone = sorted(set(frozen) - set(computed))
    new = sorted(set(computed) - set(frozen))
    problems = ([f"{entry}: {kind}: output changed" for kind in changed]
                + [f"{entry}: {kind}: no longer computed" for kind in gone]
                + [f"{entry}: {kind}: not frozen" for kind in new])
    assert not problems, "\n".join(problems)
