// Reading shots in the in-memory layout the samplers produce: one row of
// ceil(bits / 8) bytes per shot, bit b of the shot in bit b % 8 of byte
// b / 8.  The writer reads a row 64 bits at a time, as little-endian
// words; bits past the end of the shot (the last byte's padding) read as
// zero whatever the row holds, so every format writes only the shot's bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ordavine::shot_data {

// The shape of one shot's row.
struct RowShape {
  std::uint64_t bits = 0;

  std::size_t bytes() const { return static_cast<std::size_t>((bits + 7) / 8); }
  std::size_t words() const { return static_cast<std::size_t>((bits + 63) / 64); }
  // The number of the shot's bits in word `w` (64 except in the last word).
  unsigned bits_in_word(std::size_t w) const {
    const std::uint64_t rest = bits - 64 * static_cast<std::uint64_t>(w);
    return rest >= 64 ? 64u : static_cast<unsigned>(rest);
  }
};

// Bits 64w .. 64w + 63 of the shot whose row starts at `row`, bit 64w + j
// in bit j; bits past the shot's end are zero.
inline std::uint64_t row_word(const std::uint8_t* row, const RowShape& shape, std::size_t w) {
  const std::size_t offset = 8 * w;
  const std::size_t available = shape.bytes() - offset;
  std::uint64_t word = 0;
  if (available >= 8) {
    std::memcpy(&word, row + offset, 8);
  } else {
    std::uint8_t tail[8] = {};
    std::memcpy(tail, row + offset, available);
    std::memcpy(&word, tail, 8);
  }
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  const unsigned in_word = shape.bits_in_word(w);
  return in_word == 64 ? word : word & ((std::uint64_t{1} << in_word) - 1);
}

}  // namespace ordavine::shot_data
