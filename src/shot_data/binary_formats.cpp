#include "shot_data/binary_formats.hpp"

#include <bit>
#include <cstring>

namespace ordavine::shot_data {
namespace {

// Writes a run of `zeros` zeros ended by a 1.
void put_gap(std::uint64_t zeros, OutputBuffer& out) {
  if (zeros >= 255) out.fill(255, zeros / 255);
  std::uint8_t* at = out.reserve(1);
  *at = static_cast<std::uint8_t>(zeros % 255);
  out.commit(at + 1);
}

}  // namespace

void write_b8_shots(const std::uint8_t* rows, std::uint64_t shots, const RowShape& shape, OutputBuffer& out) {
  const std::size_t row_bytes = shape.bytes();
  const unsigned tail = static_cast<unsigned>(shape.bits % 8);
  if (tail == 0) {
    out.put(std::span<const std::uint8_t>(rows, static_cast<std::size_t>(shots) * row_bytes));
    return;
  }
  const std::uint8_t keep = static_cast<std::uint8_t>((1u << tail) - 1);
  for (std::uint64_t s = 0; s < shots; ++s, rows += row_bytes) {
    out.put(std::span<const std::uint8_t>(rows, row_bytes - 1));
    std::uint8_t* at = out.reserve(1);
    *at = rows[row_bytes - 1] & keep;
    out.commit(at + 1);
  }
}

void write_r8_shot(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out) {
  std::uint64_t zeros = 0;  // since the last 1
  for (std::size_t w = 0; w < shape.words(); ++w) {
    std::uint64_t word = row_word(row, shape, w);
    unsigned next = 0;  // the bit of the word after the last 1 written
    for (; word != 0; word &= word - 1) {
      const unsigned one = static_cast<unsigned>(std::countr_zero(word));
      put_gap(zeros + (one - next), out);
      zeros = 0;
      next = one + 1;
    }
    zeros += shape.bits_in_word(w) - next;
  }
  put_gap(zeros, out);
}

void transpose_bits64(std::uint64_t* words) {
  // At step s, bit s of the row number is exchanged with bit s of the
  // column number: the upper s-bit halves of the blocks of word i swap with
  // the lower ones of word i + s, for every i without bit s.
  constexpr std::uint64_t kLowHalves[6] = {0x5555555555555555, 0x3333333333333333, 0x0f0f0f0f0f0f0f0f,
                                           0x00ff00ff00ff00ff, 0x0000ffff0000ffff, 0x00000000ffffffff};
  for (int level = 5; level >= 0; --level) {
    const unsigned s = 1u << level;
    const std::uint64_t low = kLowHalves[level];
    for (unsigned i = 0; i < 64; i = (i + s + 1) & ~s) {
      const std::uint64_t t = ((words[i] >> s) ^ words[i + s]) & low;
      words[i] ^= t << s;
      words[i + s] ^= t;
    }
  }
}

void write_ptb64_group(const std::uint8_t* rows, const RowShape& shape, OutputBuffer& out) {
  const std::size_t row_bytes = shape.bytes();
  std::uint64_t tile[64];
  for (std::size_t w = 0; w < shape.words(); ++w) {
    for (std::size_t k = 0; k < 64; ++k) tile[k] = row_word(rows + k * row_bytes, shape, w);
    transpose_bits64(tile);
    const unsigned bits = shape.bits_in_word(w);
    std::uint8_t* at = out.reserve(8 * bits);
    for (unsigned j = 0; j < bits; ++j, at += 8) {
      std::uint64_t word = tile[j];
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      std::memcpy(at, &word, 8);
    }
    out.commit(at);
  }
}

}  // namespace ordavine::shot_data
