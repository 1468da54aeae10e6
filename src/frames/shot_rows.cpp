#include "frames/shot_rows.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace ordavine::frames {
namespace {

static_assert(std::endian::native == std::endian::little, "kSpread is laid out for little-endian stores");

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
  if (entries == 64) {  // a whole tile: eight fixed-size stores
    for (std::size_t i = 0; i < 8; ++i) {
      const std::uint64_t v = kSpread[(bits >> (8 * i)) & 0xFF];
      std::memcpy(out + 8 * i, &v, 8);
    }
    return;
  }
  for (std::size_t e = 0; e < entries; ++e) out[e] = static_cast<std::uint8_t>((bits >> e) & 1);
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
                   const Word* const* rows, std::size_t entries, std::uint64_t entry0,
                   const Word* reference) {
  // The call's shots as lanes of the batch, [begin, end): offsets from the
  // batch's first shot, which stay small where shot numbers near 2^64
  // would overflow (a batch's padding lanes may lie past the last shot).
  const std::uint64_t call_end = out.first + out.count;
  const std::uint64_t begin = out.first > batch_first ? out.first - batch_first : 0;
  const std::uint64_t end = std::min<std::uint64_t>(call_end - batch_first, 64 * row_words);
  const std::size_t tiles = (entries + 63) / 64;
  std::vector<Word> tile(64 * tiles);
  for (std::size_t g = begin / 64; 64 * g < end; ++g) {
    for (std::size_t t = 0; t < tiles; ++t) {
      Word* m = tile.data() + 64 * t;
      for (std::size_t e = 0; e < 64; ++e) {
        const std::size_t entry = 64 * t + e;
        m[e] = entry < entries && rows[entry] != nullptr ? rows[entry][g] : 0;
      }
      transpose64(m);
      if (reference != nullptr) {
        for (std::size_t i = 0; i < 64; ++i) m[i] ^= reference[t];
      }
    }
    const std::uint64_t lo = std::max<std::uint64_t>(64 * g, begin),
                        hi = std::min<std::uint64_t>(64 * g + 64, end);
    for (std::uint64_t lane = lo; lane < hi; ++lane) {
      // batch_first + lane - out.first is the row's index; modulo 2^64 the
      // sum is exact, since the result lies in [0, count).
      std::uint8_t* row = out.data + (batch_first + lane - out.first) * out.row_bytes;
      for (std::size_t t = 0; t < tiles; ++t) {
        const Word bits = tile[64 * t + (lane - 64 * g)];
        const std::size_t count = std::min<std::size_t>(64, entries - 64 * t);
        if (out.packed) {
          write_packed(row + (entry0 + 64 * t) / 8, bits, count);
        } else {
          write_unpacked(row + entry0 + 64 * t, bits, count);
        }
      }
    }
  }
}

}  // namespace ordavine::frames
