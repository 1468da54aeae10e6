// A batch's measurement record as a ring of bit rows: entry m is row
// m mod ring_rows.  The ring holds the longest look-back and a flush of
// rows besides, so a row is written out (every kFlush entries) before the
// ring comes round to it, and a look-back always finds its row.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "frames/batch_rows.hpp"

namespace ordavine::frames {

class RecordRing {
 public:
  // `ring_rows` a power of two; storage for ring_rows * row_words words.
  void attach(Word* rows, std::size_t ring_rows, std::size_t row_words) {
    rows_ = rows;
    ring_mask_ = ring_rows - 1;
    row_words_ = row_words;
    written_ = 0;
  }

  // A new batch's record starts empty.
  void restart() { written_ = 0; }

  std::uint64_t written() const { return written_; }
  Word* row(std::uint64_t m) const { return rows_ + (m & ring_mask_) * row_words_; }
  // The row of the entry `t` after the last written.
  Word* next(std::size_t t) const { return row(written_ + t); }
  // The row of rec[-k].
  Word* looked_back(std::uint64_t k) const { return row(written_ - k); }

  // Targets of a recording instruction are taken in pieces of at most
  // kPiece that end where the record reaches a multiple of kFlush, so that
  // rows are written out as soon as kFlush of them are complete.
  std::size_t piece_after(std::size_t done, std::size_t count) const {
    const std::size_t room = kFlush - static_cast<std::size_t>(written_ % kFlush);
    return std::min({count - done, room, kPiece});
  }

  // Counts `count` more entries written; true when the record has just
  // reached a multiple of kFlush.
  bool advance(std::size_t count) {
    written_ += count;
    return written_ % kFlush == 0;
  }

 private:
  Word* rows_ = nullptr;
  std::size_t ring_mask_ = 0;
  std::size_t row_words_ = 0;
  std::uint64_t written_ = 0;
};

}  // namespace ordavine::frames
