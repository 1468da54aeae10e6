#include "frames/shot_rows.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "frames/byte_stores.hpp"

namespace ordavine::frames {
namespace {

static_assert(std::endian::native == std::endian::little, "packed rows are stored as little-endian words");

// Words of one chunk of tiles: 64 rows of kTilesSideBySide words.
constexpr std::size_t kChunkWords = 64 * kTilesSideBySide;
// Tiles of at most this many entries (an observable, say) are read bit by
// bit for each shot rather than transposed whole.
constexpr std::size_t kNarrowTile = 4;

// One tile's place in the shots' rows and how its bits are had.
struct TileOut {
  std::size_t count;   // entries, at most 64
  std::size_t offset;  // the byte of a row where they start
  bool narrow;         // read bit by bit, not transposed
};

// A narrow tile's Count entries for shots i0 .. i1 - 1 of one word of the
// rows (`words`: the entries' words), XORed with the reference's bits.
template <bool Packed, std::size_t Count>
void write_narrow(std::uint8_t* row, std::size_t stride, std::size_t i0, std::size_t i1, const Word* words,
                  Word reference) {
  std::size_t i = i0;
  // Rows of one byte (a few observables, say) lie side by side: the bytes
  // of eight shots are one store, each entry's eight bits spread by the
  // table to their bit of the eight bytes.
  if (stride == 1 && (Packed || Count == 1)) {
    const Word flips = (reference & ((Word{1} << Count) - 1)) * 0x0101010101010101ull;
    for (; i + 8 <= i1; i += 8, row += 8) {
      Word bytes = flips;
      for (std::size_t e = 0; e < Count; ++e) bytes ^= kSpread[(words[e] >> i) & 0xFF] << e;
      std::memcpy(row, &bytes, 8);
    }
  }
  for (; i < i1; ++i, row += stride) {
    Word bits = reference;
    for (std::size_t e = 0; e < Count; ++e) bits ^= ((words[e] >> i) & 1) << e;
    if constexpr (Packed) {
      *row = static_cast<std::uint8_t>(bits & ((Word{1} << Count) - 1));
    } else {
      for (std::size_t e = 0; e < Count; ++e) row[e] = static_cast<std::uint8_t>((bits >> e) & 1);
    }
  }
}

// Writes one tile's entries for shots i0 .. i1 - 1 of word g of the rows,
// the first at `row`, rows `stride` bytes apart.  `transposed` is the
// tile's chunk (shot i's bits at transposed[kTilesSideBySide * i]), unless
// the tile is narrow: then its bits are read from `rows` (its own entries).
// Unpacked tiles are spread to bytes by the kernels' unpack.
template <bool Packed>
void write_tile(const TileOut& tile, std::uint8_t* row, std::size_t stride, std::size_t i0, std::size_t i1,
                const Word* transposed, const Word* const* rows, std::size_t g, Word reference,
                UnpackKernel unpack) {
  row += tile.offset;
  if (tile.narrow) {
    // At most kNarrowTile entries (one byte packed), whose words of this
    // group are read once for all the shots.
    static_assert(kNarrowTile <= 8);
    Word words[kNarrowTile] = {};
    for (std::size_t e = 0; e < tile.count; ++e) words[e] = rows[e] != nullptr ? rows[e][g] : 0;
    // By the count, so that the loop over a shot's entries unrolls.
    static_assert(kNarrowTile == 4);
    switch (tile.count) {
      case 1: return write_narrow<Packed, 1>(row, stride, i0, i1, words, reference);
      case 2: return write_narrow<Packed, 2>(row, stride, i0, i1, words, reference);
      case 3: return write_narrow<Packed, 3>(row, stride, i0, i1, words, reference);
      default: return write_narrow<Packed, 4>(row, stride, i0, i1, words, reference);
    }
  }
  if constexpr (Packed) {
    const std::size_t bytes = (tile.count + 7) / 8;
    if (bytes == 8) {  // whole words, the last bits of a 57- to 63-entry tile zero-masked
      const Word keep = tile.count == 64 ? ~Word{0} : (Word{1} << tile.count) - 1;
      for (std::size_t i = i0; i < i1; ++i, row += stride) {
        const Word bits = transposed[kTilesSideBySide * i] & keep;
        std::memcpy(row, &bits, 8);
      }
    } else {
      const Word keep = (Word{1} << tile.count) - 1;
      for (std::size_t i = i0; i < i1; ++i, row += stride) {
        store_low_bytes(row, transposed[kTilesSideBySide * i] & keep, bytes);
      }
    }
  } else {
    unpack(transposed + kTilesSideBySide * i0, row, stride, i1 - i0, tile.count);
  }
}

}  // namespace

void write_entries(const ShotRows& out, std::uint64_t batch_first, std::size_t row_words,
                   const Word* const* rows, std::size_t entries, std::uint64_t entry0, const Word* reference,
                   const Kernels& kernels) {
  // The call's shots as lanes of the batch, [begin, end): offsets from the
  // batch's first shot, which stay small where shot numbers near 2^64
  // would overflow (a batch's padding lanes may lie past the last shot).
  const std::uint64_t call_end = out.first + out.count;
  const std::uint64_t begin = out.first > batch_first ? out.first - batch_first : 0;
  const std::uint64_t end = std::min<std::uint64_t>(call_end - batch_first, 64 * row_words);
  const std::size_t tile_count = (entries + 63) / 64;
  std::vector<TileOut> tiles(tile_count);
  std::size_t transposed_tiles = 0;
  for (std::size_t t = 0; t < tile_count; ++t) {
    const std::size_t count = std::min<std::size_t>(64, entries - 64 * t);
    const std::uint64_t first_entry = entry0 + 64 * t;
    tiles[t] = {count, static_cast<std::size_t>(out.packed ? first_entry / 8 : first_entry),
                count <= kNarrowTile};
    if (!tiles[t].narrow) ++transposed_tiles;
  }
  // Only the last tile can be narrow, so the transposed ones are tiles
  // 0 .. transposed_tiles - 1.
  const auto chunk =
      std::make_unique_for_overwrite<Word[]>(kChunkWords * std::max<std::size_t>(transposed_tiles, 1));
  // Chunks of kTilesSideBySide words of every row (512 lanes): each tile's
  // rows transposed together, then written out tile by tile (a chunk's
  // shots' rows stay in cache between tiles).
  for (std::size_t g0 = begin / 64 / kTilesSideBySide * kTilesSideBySide; 64 * g0 < end;
       g0 += kTilesSideBySide) {
    const std::size_t words = std::min(kTilesSideBySide, row_words - g0);
    for (std::size_t t = 0; t < transposed_tiles; ++t) {
      Word* m = chunk.get() + kChunkWords * t;
      for (std::size_t e = 0; e < 64; ++e) {
        const Word* src = e < tiles[t].count ? rows[64 * t + e] : nullptr;
        Word* dst = m + kTilesSideBySide * e;
        std::fill_n(dst, kTilesSideBySide, Word{0});
        if (src != nullptr) std::copy_n(src + g0, words, dst);
      }
      kernels.transpose(m);
      if (reference != nullptr) {
        for (std::size_t k = 0; k < kChunkWords; ++k) m[k] ^= reference[t];
      }
    }
    for (std::size_t j = 0; j < words; ++j) {
      const std::uint64_t base = 64 * (g0 + j);
      if (base + 64 <= begin || base >= end) continue;
      const std::size_t i0 = static_cast<std::size_t>(begin > base ? begin - base : 0);
      const std::size_t i1 = static_cast<std::size_t>(std::min<std::uint64_t>(64, end - base));
      // batch_first + lane - out.first is the row's index; modulo 2^64 the
      // sum is exact, since the result lies in [0, count).
      std::uint8_t* row = out.data + (batch_first + base + i0 - out.first) * out.row_bytes;
      for (std::size_t t = 0; t < tile_count; ++t) {
        const Word* transposed = chunk.get() + kChunkWords * t + j;
        const Word ref = reference != nullptr ? reference[t] : 0;
        if (out.packed) {
          write_tile<true>(tiles[t], row, out.row_bytes, i0, i1, transposed, rows + 64 * t, g0 + j, ref,
                           kernels.unpack);
        } else {
          write_tile<false>(tiles[t], row, out.row_bytes, i0, i1, transposed, rows + 64 * t, g0 + j, ref,
                            kernels.unpack);
        }
      }
    }
  }
}

}  // namespace ordavine::frames
