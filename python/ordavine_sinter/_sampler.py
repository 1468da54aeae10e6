"""sinter's Sampler contract, with shots from ordavine and predictions from any sinter.Decoder."""

from __future__ import annotations

import time

import numpy as np
import sinter

import ordavine
from ordavine_sinter._batch_size import BatchSizer
from ordavine_sinter._decoder_setup import compile_decoder
from ordavine_sinter._outcomes import check_predictions, detector_discards, discards_and_errors
from ordavine_sinter._task_inputs import packed_mask, task_circuit, task_detector_error_model

# About this much work per call: sinter looks at its budgets between calls.
TARGET_BATCH_SECONDS = 1.0


class OrdavineSampler(sinter.Sampler):
    """Samples a task's circuit with ordavine and decodes the shots with ``decoder``.

    Give it to sinter as a custom decoder (``sinter.collect(...,
    custom_decoders={"name": OrdavineSampler(decoder)})``).  It pickles
    with its decoder, so sinter's worker processes can take it.
    """

    def __init__(self, decoder: sinter.Decoder):
        self.decoder = decoder

    def __repr__(self) -> str:
        return f"OrdavineSampler({self.decoder!r})"

    def compiled_sampler_for_task(self, task: sinter.Task) -> sinter.CompiledSampler:
        """Compiles the circuit (a fresh key) and the decoder (for the task's model) once."""
        return CompiledOrdavineSampler(self.decoder, task)


class CompiledOrdavineSampler(sinter.CompiledSampler):
    """One task's circuit and decoder, ready to take batches of shots."""

    def __init__(self, decoder: sinter.Decoder, task: sinter.Task):
        circuit = task_circuit(task)
        dem = task_detector_error_model(task, circuit)
        self._circuit = ordavine.Circuit(circuit)
        detectors, observables = self._circuit.num_detectors, self._circuit.num_observables
        if (dem.num_detectors, dem.num_observables) != (detectors, observables):
            raise ValueError(
                f"the task's detector error model has {dem.num_detectors} detectors and "
                f"{dem.num_observables} observables; its circuit has {detectors} and {observables}")
        self._postselection_mask = packed_mask(task.postselection_mask, detectors, "postselection_mask")
        self._postselected_observables_mask = packed_mask(
            task.postselected_observables_mask, observables, "postselected_observables_mask")
        self._observable_bytes = (observables + 7) // 8
        self._decoder = compile_decoder(decoder, dem)
        self._shots = self._circuit.compile_detector_sampler()
        self._batches = BatchSizer(
            target_seconds=TARGET_BATCH_SECONDS,
            bytes_per_shot=(detectors + 7) // 8 + self._observable_bytes,
            max_shots=task.collection_options.max_batch_size,
        )

    def handles_throttling(self) -> bool:
        # The batches are sized here (BatchSizer), not by sinter's ramp.
        return True

    def sample(self, suggested_shots: int) -> sinter.AnonTaskStats:
        """One batch: at most ``suggested_shots`` shots, sampled, postselected and decoded."""
        shots = self._batches.next_shots(suggested_shots)
        start = time.monotonic()
        # One thread: sinter already runs a worker process per core.
        detectors, actual = self._shots.sample(
            shots, separate_observables=True, bit_packed=True, num_threads=1)
        detectors, actual = np.asarray(detectors), np.asarray(actual)
        discards = 0
        discarded = detector_discards(detectors, self._postselection_mask)
        if discarded is not None:
            discards = int(np.count_nonzero(discarded))
            if discards:
                detectors, actual = detectors[~discarded], actual[~discarded]
        errors = 0
        if len(detectors):
            predictions = check_predictions(
                self._decoder.decode_shots_bit_packed(bit_packed_detection_event_data=detectors),
                len(detectors), self._observable_bytes)
            more_discards, errors = discards_and_errors(
                actual, predictions, self._postselected_observables_mask)
            discards += more_discards
        seconds = time.monotonic() - start
        self._batches.record(shots, seconds)
        return sinter.AnonTaskStats(shots=shots, errors=errors, discards=discards, seconds=seconds)
