// Every row a batch keeps, had together before the batch runs: the frames,
// the record ring, the gauge rows of a piece, the detector tile (a flush of
// detection-event rows), the observables' slots, and two scratch rows (a
// mask, and the shots where the current E/ELSE chain has fired).
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/batch_rows.hpp"
#include "frames/record_ring.hpp"

namespace ordavine::frames {

struct BatchShape {
  std::uint64_t qubits = 0;
  std::size_t ring_rows = 0;  // a power of two
  std::size_t observables = 0;
  std::size_t tile_rows = 0;  // detection events are made a flush at a time (fewer when there are fewer)

  // Rows of every kind, for sizing batches.
  std::uint64_t rows() const { return 2 * qubits + ring_rows + kPiece + observables + 2 + tile_rows; }
};

class BatchBuffers {
 public:
  explicit BatchBuffers(BatchShape shape) : shape_(shape) {}

  // Rows of `row_words` words each (a multiple of kRowQuantum), zeroed;
  // kept when they are that long already.  Every count is bounded by the
  // reader's limits times the widest batch, so no product wraps.  A lack of
  // memory throws OutOfMemory naming what the rows are for.
  void allocate(std::size_t row_words);

  std::size_t row_words() const { return row_words_; }
  FrameRows frames() { return FrameRows(frames_.data(), row_words_); }
  RecordRing& record() { return record_; }
  Word* gauge(std::size_t t) { return gauge_.data() + t * row_words_; }
  Word* tile(std::size_t e) { return tile_.data() + e * row_words_; }
  Word* slot(std::size_t s) { return slots_.data() + s * row_words_; }
  Word* mask() { return mask_.data(); }
  Word* chain() { return chain_.data(); }
  std::size_t observable_slots() const { return shape_.observables; }

 private:
  BatchShape shape_;
  std::size_t row_words_ = 0;
  std::size_t allocated_words_ = 0;
  Rows frames_, ring_, gauge_, tile_, slots_, mask_, chain_;
  RecordRing record_;
};

}  // namespace ordavine::frames
