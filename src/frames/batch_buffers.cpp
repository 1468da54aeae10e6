#include "frames/batch_buffers.hpp"

#include <string>

#include "register/out_of_memory.hpp"

namespace ordavine::frames {

void BatchBuffers::allocate(std::size_t row_words) {
  row_words_ = row_words;
  if (allocated_words_ != row_words_) {
    allocated_words_ = 0;  // until every row below is had
    const std::uint64_t frame_words = 2 * shape_.qubits * row_words_;
    allocate_for(
        frame_words * sizeof(Word),
        [&] { return "the Pauli frames of " + std::to_string(shape_.qubits) + " qubits"; },
        [&] { frames_.resize(frame_words); });
    const std::uint64_t other_words = (shape_.rows() - 2 * shape_.qubits) * row_words_;
    allocate_for(
        other_words * sizeof(Word), [] { return std::string("the record rows of a batch of shots"); },
        [&] {
          ring_.resize(shape_.ring_rows * row_words_);
          gauge_.resize(kPiece * row_words_);
          tile_.resize(shape_.tile_rows * row_words_);
          slots_.resize(shape_.observables * row_words_);
          mask_.resize(row_words_);
          chain_.resize(row_words_);
        });
    allocated_words_ = row_words_;
  }
  record_.attach(ring_.data(), shape_.ring_rows, row_words_);
}

}  // namespace ordavine::frames
