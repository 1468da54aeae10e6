"""A sinter.Decoder made ready for one detector error model."""

from __future__ import annotations

import pathlib
import tempfile

import numpy as np
import sinter
import stim


def compile_decoder(decoder: sinter.Decoder, dem: stim.DetectorErrorModel) -> sinter.CompiledDecoder:
    """``decoder.compile_decoder_for_dem(dem=dem)``, or, for a decoder that
    only decodes through files (``decode_via_files``, which the Decoder
    contract allows), an adapter that goes through files of its own."""
    try:
        return decoder.compile_decoder_for_dem(dem=dem)
    except NotImplementedError:
        return FileDecoder(decoder, dem)


class FileDecoder(sinter.CompiledDecoder):
    """Decodes through files in a temporary directory owned by this object.

    The directory goes when the object does (or when the process exits);
    the decoder's own scratch files go in a subdirectory, as the Decoder
    contract asks.
    """

    def __init__(self, decoder: sinter.Decoder, dem: stim.DetectorErrorModel):
        self._decoder = decoder
        self._num_detectors = dem.num_detectors
        self._num_observables = dem.num_observables
        self._directory = tempfile.TemporaryDirectory(prefix="ordavine_sinter_")
        root = pathlib.Path(self._directory.name)
        self._dem_path = root / "model.dem"
        self._detectors_path = root / "detectors.b8"
        self._predictions_path = root / "predictions.b8"
        self._scratch = root / "decoder"
        self._scratch.mkdir()
        dem.to_file(self._dem_path)

    def decode_shots_bit_packed(self, *, bit_packed_detection_event_data: np.ndarray) -> np.ndarray:
        shots = bit_packed_detection_event_data.shape[0]
        np.ascontiguousarray(bit_packed_detection_event_data).tofile(self._detectors_path)
        self._decoder.decode_via_files(
            num_shots=shots,
            num_dets=self._num_detectors,
            num_obs=self._num_observables,
            dem_path=self._dem_path,
            dets_b8_in_path=self._detectors_path,
            obs_predictions_b8_out_path=self._predictions_path,
            tmp_dir=self._scratch,
        )
        row_bytes = (self._num_observables + 7) // 8
        predictions = np.fromfile(self._predictions_path, dtype=np.uint8, count=shots * row_bytes)
        self._detectors_path.unlink()
        self._predictions_path.unlink()
        if predictions.size != shots * row_bytes:
            raise ValueError(
                f"the decoder wrote {predictions.size} bytes of predictions for {shots} shots; "
                f"expected {shots * row_bytes}")
        return predictions.reshape(shots, row_bytes)
