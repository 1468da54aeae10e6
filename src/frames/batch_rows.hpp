// The bit rows one batch of blocks runs in, and the word loops on them.
// Every row is `row_words` words: block j of the batch holds words
// kBlockWords j .. kBlockWords (j + 1) - 1, bit i of its word k belonging
// to shot 64 k + i of the block.  Rows are whole 64-byte lines, so every
// vector width's loads fall on whole vectors.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/kernels.hpp"

namespace ordavine::frames {

inline constexpr std::uint64_t kBlockShots = 256;
inline constexpr std::size_t kBlockWords = kBlockShots / 64;
inline constexpr std::size_t kPiece = 64;   // gauge rows drawn at a time
inline constexpr std::size_t kFlush = 512;  // record entries written out at a time (a multiple of 64)

// The blocks that shots first .. first + count - 1 (count > 0) touch.
inline std::uint64_t blocks_spanned(std::uint64_t first, std::uint64_t count) {
  return (first + count - 1) / kBlockShots + 1 - first / kBlockShots;
}

// A 64-byte aligned line of words: rows are whole lines.
struct alignas(64) Line {
  Word words[kRowQuantum];
};
static_assert(sizeof(Line) == kRowQuantum * sizeof(Word));

// Zeroed storage for a number of words, in whole lines.
class Rows {
 public:
  void resize(std::size_t words) { lines_.assign((words + kRowQuantum - 1) / kRowQuantum, Line{}); }
  Word* data() { return lines_.empty() ? nullptr : lines_.front().words; }

 private:
  std::vector<Line> lines_;
};

// Word loops over rows of one length.
class RowOps {
 public:
  explicit RowOps(std::size_t row_words = 0) : row_words_(row_words) {}
  std::size_t row_words() const { return row_words_; }

  void zero(Word* row) const { std::fill_n(row, row_words_, Word{0}); }
  void copy(Word* dst, const Word* src) const { std::copy_n(src, row_words_, dst); }
  void xor_into(Word* dst, const Word* src) const {
    for (std::size_t k = 0; k < row_words_; ++k) dst[k] ^= src[k];
  }
  // Flips bit `lane` (a shot of block j) of a row.
  static void flip(Word* row, std::size_t j, std::uint64_t lane) {
    row[j * kBlockWords + lane / 64] ^= Word{1} << (lane % 64);
  }

 private:
  std::size_t row_words_;
};

// The Pauli frames of a batch: an X row and a Z row per qubit, laid out
// as the kernels take them (kernels.hpp).
class FrameRows : public RowOps {
 public:
  FrameRows() = default;
  FrameRows(Word* frames, std::size_t row_words) : RowOps(row_words), frames_(frames) {}

  Word* data() const { return frames_; }
  Word* x_row(std::uint64_t q) const { return frames_ + 2 * row_words() * q; }
  Word* z_row(std::uint64_t q) const { return x_row(q) + row_words(); }

  // The Pauli with X/Z bits `bits` (X = 01, Z = 10) applied to qubit q
  // where `mask` is 1.
  void apply_where(std::uint64_t q, unsigned bits, const Word* mask) const {
    if (bits & 1) xor_into(x_row(q), mask);
    if (bits & 2) xor_into(z_row(q), mask);
  }
  // The same in one shot.  Both rows are touched whatever the Pauli: a
  // random Pauli would make branches on its bits mispredicted half the time.
  void apply_at(std::uint64_t q, unsigned bits, std::size_t j, std::uint64_t lane) const {
    const std::size_t k = j * kBlockWords + lane / 64;
    x_row(q)[k] ^= Word{bits & 1u} << (lane % 64);
    z_row(q)[k] ^= Word{(bits >> 1) & 1u} << (lane % 64);
  }

 private:
  Word* frames_ = nullptr;
};

}  // namespace ordavine::frames
