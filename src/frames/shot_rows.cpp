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
  if (entries == 64) {
    std::memcpy(out, &bits, 8);
    return;
  }
  const std::size_t bytes = (entries + 7) / 8;
  bits &= (Word{1} << entries) - 1;
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// Words of one chunk of tiles: 64 rows of kTilesSideBySide words.
constexpr std::size_t kChunkWords = 64 * kTilesSideBySide;
// Tiles of at most this many entries (an observable, say) are read bit by
// bit for each shot rather than transposed whole.
constexpr std::size_t kNarrowTile = 4;

}  // namespace

void write_entries(const ShotRows& out, std::uint64_t batch_first, std::size_t row_words,
                   const Word* const* rows, std::size_t entries, std::uint64_t entry0, const Word* reference,
                   TransposeKernel transpose) {
  // The call's shots as lanes of the batch, [begin, end): offsets from the
  // batch's first shot, which stay small where shot numbers near 2^64
  // would overflow (a batch's padding lanes may lie past the last shot).
  const std::uint64_t call_end = out.first + out.count;
  const std::uint64_t begin = out.first > batch_first ? out.first - batch_first : 0;
  const std::uint64_t end = std::min<std::uint64_t>(call_end - batch_first, 64 * row_words);
  const std::size_t tiles = (entries + 63) / 64;
  const auto width_of = [&](std::size_t t) { return std::min<std::size_t>(64, entries - 64 * t); };
  std::vector<Word> chunk(kChunkWords * tiles);
  // Chunks of kTilesSideBySide words of every row (512 lanes), each tile's
  // rows transposed together, then every shot's entries written.
  for (std::size_t g0 = begin / 64 / kTilesSideBySide * kTilesSideBySide; 64 * g0 < end;
       g0 += kTilesSideBySide) {
    const std::size_t words = std::min(kTilesSideBySide, row_words - g0);
    for (std::size_t t = 0; t < tiles; ++t) {
      if (width_of(t) <= kNarrowTile) continue;
      Word* m = chunk.data() + kChunkWords * t;
      for (std::size_t e = 0; e < 64; ++e) {
        const Word* src = e < width_of(t) ? rows[64 * t + e] : nullptr;
        Word* dst = m + kTilesSideBySide * e;
        std::fill_n(dst, kTilesSideBySide, Word{0});
        if (src != nullptr) std::copy_n(src + g0, words, dst);
      }
      transpose(m);
      if (reference != nullptr) {
        for (std::size_t k = 0; k < kChunkWords; ++k) m[k] ^= reference[t];
      }
    }
    const std::uint64_t lo = std::max<std::uint64_t>(64 * g0, begin),
                        hi = std::min<std::uint64_t>(64 * (g0 + words), end);
    for (std::uint64_t lane = lo; lane < hi; ++lane) {
      const std::size_t j = static_cast<std::size_t>(lane / 64 - g0), i = static_cast<std::size_t>(lane % 64);
      // batch_first + lane - out.first is the row's index; modulo 2^64 the
      // sum is exact, since the result lies in [0, count).
      std::uint8_t* row = out.data + (batch_first + lane - out.first) * out.row_bytes;
      for (std::size_t t = 0; t < tiles; ++t) {
        const std::size_t count = width_of(t);
        Word bits;
        if (count <= kNarrowTile) {
          bits = reference != nullptr ? reference[t] : 0;
          for (std::size_t e = 0; e < count; ++e) {
            const Word* src = rows[64 * t + e];
            if (src != nullptr) bits ^= ((src[g0 + j] >> i) & 1) << e;
          }
        } else {
          bits = chunk[kChunkWords * t + kTilesSideBySide * i + j];
        }
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
