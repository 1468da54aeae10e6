#include "frames/shot_rows.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace ordavine::frames {
namespace {

// Byte b spread to eight bytes, bit i of b to byte i (0 or 1).
constexpr std::array<std::uint64_t, 256> kSpread = [] {
  std::array<std::uint64_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned i = 0; i < 8; ++i) table[b] |= static_cast<std::uint64_t>((b >> i) & 1) << (8 * i);
  }
  return table;
}();

// Writes the low `entries` bits of `bits` to `out`, one byte each.
void write_unpacked(std::uint8_t* out, Word bits, std::size_t entries) {
  std::uint8_t spread[64];
  for (std::size_t i = 0; i < 8; ++i) {
    const std::uint64_t v = kSpread[(bits >> (8 * i)) & 0xFF];
    for (std::size_t j = 0; j < 8; ++j) spread[8 * i + j] = static_cast<std::uint8_t>(v >> (8 * j));
  }
  std::memcpy(out, spread, entries);
}

// Writes the low `entries` bits of `bits` to `out`, 8 a byte, the first in bit 0.
void write_packed(std::uint8_t* out, Word bits, std::size_t entries) {
  const std::size_t bytes = (entries + 7) / 8;
  if (entries < 64) bits &= (Word{1} << entries) - 1;
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

}  // namespace

void transpose64(Word* m) {
  // Swap the off-diagonal blocks of every 2w x 2w block, w = 32, 16, ..., 1.
  Word mask = 0x00000000FFFFFFFFull;
  for (unsigned w = 32; w != 0; w >>= 1, mask ^= mask << w) {
    for (unsigned i = 0; i < 64; i = (i + w + 1) & ~w) {
      const Word t = ((m[i] >> w) ^ m[i + w]) & mask;
      m[i] ^= t << w;
      m[i + w] ^= t;
    }
  }
}

void write_entries(const ShotRows& out, std::uint64_t batch_first, std::size_t row_words,
                   const Word* const* rows, std::size_t entries, std::uint64_t entry0, Word reference) {
  const std::uint64_t call_end = out.first + out.count;
  for (std::size_t g = 0; g < row_words; ++g) {
    const std::uint64_t group_first = batch_first + 64 * g;
    if (group_first >= call_end) break;
    if (group_first + 64 <= out.first) continue;
    Word tile[64];
    for (std::size_t e = 0; e < 64; ++e) tile[e] = e < entries && rows[e] != nullptr ? rows[e][g] : 0;
    transpose64(tile);
    const std::uint64_t lo = std::max(group_first, out.first), hi = std::min(group_first + 64, call_end);
    for (std::uint64_t shot = lo; shot < hi; ++shot) {
      std::uint8_t* row = out.data + (shot - out.first) * out.row_bytes;
      const Word bits = tile[shot - group_first] ^ reference;
      if (out.packed) {
        write_packed(row + entry0 / 8, bits, entries);
      } else {
        write_unpacked(row + entry0, bits, entries);
      }
    }
  }
}

}  // namespace ordavine::frames
