"""The circuit and detector error model of a task, as sinter's workers fill them in."""

from __future__ import annotations

import numpy as np
import sinter
import stim


def task_circuit(task: sinter.Task) -> stim.Circuit:
    """The task's circuit, read from its file when only a path is given."""
    if task.circuit is not None:
        return task.circuit
    if task.circuit_path is None:
        raise ValueError("the task has neither a circuit nor a circuit_path")
    return stim.Circuit.from_file(task.circuit_path)


def task_detector_error_model(task: sinter.Task, circuit: stim.Circuit) -> stim.DetectorErrorModel:
    """The task's model, or the one sinter would derive from the circuit.

    sinter's workers fill the model in before a sampler sees the task; this
    covers a task handed to ``compiled_sampler_for_task`` directly, with
    the same fallbacks (undecomposed errors, then loops flattened).
    """
    if task.detector_error_model is not None:
        return task.detector_error_model
    try:
        return circuit.detector_error_model(decompose_errors=True, approximate_disjoint_errors=True)
    except ValueError:
        try:
            return circuit.detector_error_model(approximate_disjoint_errors=True)
        except ValueError:
            return circuit.detector_error_model(approximate_disjoint_errors=True, flatten_loops=True)


def packed_mask(mask: object, bits: int, what: str) -> np.ndarray | None:
    """A task's bit-packed mask over ``bits`` entries, refused unless it has their bytes."""
    if mask is None:
        return None
    array = np.asarray(mask)
    expected = ((bits + 7) // 8,)
    if array.dtype != np.uint8 or array.shape != expected:
        raise ValueError(
            f"the task's {what} has dtype {array.dtype} and shape {array.shape}; "
            f"a bit-packed mask over {bits} entries is uint8 of shape {expected}")
    return array
