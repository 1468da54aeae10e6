"""Discards and errors of one batch, counted as sinter's own sampler counts them."""

from __future__ import annotations

import numpy as np


def detector_discards(detectors: np.ndarray, postselection_mask: np.ndarray | None) -> np.ndarray | None:
    """The shots (rows) where a postselected detector fired, or None without a mask."""
    if postselection_mask is None:
        return None
    fired: np.ndarray = np.any(detectors & postselection_mask, axis=1)
    return fired


def check_predictions(predictions: object, shots: int, observable_bytes: int) -> np.ndarray:
    """The decoder's predictions, refused with a ValueError unless shaped as sinter requires.

    A row holds the packed observable flips, and may hold one more byte:
    nonzero there, the decoder asks for the shot to be discarded.
    """
    if not isinstance(predictions, np.ndarray):
        raise ValueError(f"the decoder returned {type(predictions).__name__}, not a numpy array")
    if predictions.dtype != np.uint8:
        raise ValueError(f"the decoder returned an array of {predictions.dtype}, not uint8")
    if predictions.ndim != 2 or predictions.shape[0] != shots or \
            predictions.shape[1] not in (observable_bytes, observable_bytes + 1):
        raise ValueError(
            f"the decoder returned an array of shape {predictions.shape} for {shots} shots; "
            f"expected ({shots}, {observable_bytes}) or ({shots}, {observable_bytes + 1})")
    return predictions


def discards_and_errors(
    actual: np.ndarray,
    predictions: np.ndarray,
    postselected_observables_mask: np.ndarray | None,
) -> tuple[int, int]:
    """(discards, errors) among decoded shots.

    A shot is discarded when the decoder's extra byte is nonzero, or when
    its prediction of a postselected observable is wrong; every other shot
    whose predicted flips differ from the actual ones is an error.
    """
    discards = 0
    if predictions.shape[1] == actual.shape[1] + 1:
        kept = predictions[:, -1] == 0
        discards += int(np.count_nonzero(~kept))
        actual, predictions = actual[kept], predictions[kept, :-1]
    if postselected_observables_mask is not None:
        kept = ~np.any((actual ^ predictions) & postselected_observables_mask, axis=1)
        discards += int(np.count_nonzero(~kept))
        actual, predictions = actual[kept], predictions[kept]
    errors = int(np.count_nonzero(np.any(actual != predictions, axis=1)))
    return discards, errors
