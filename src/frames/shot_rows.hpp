// From bit rows (one row per record entry, one bit per shot) to the rows
// the caller gets (one row per shot): 64 entries at a time, transposed as
// 64 x 64 bit tiles.  A shot's row holds one byte (0 or 1) per entry, or,
// packed, 8 entries a byte, entry e in bit e mod 8 of byte e / 8, the last
// byte padded with zeros.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/kernels.hpp"

namespace ordavine::frames {

// Where the rows of the shots of one call go.
struct ShotRows {
  std::uint8_t* data = nullptr;  // the row of shot `first`
  std::uint64_t first = 0;       // the call's first shot number
  std::uint64_t count = 0;       // its number of shots
  std::size_t row_bytes = 0;
  bool packed = false;

  // Bytes per row for `entries` entries.
  static std::size_t bytes_for(std::uint64_t entries, bool packed) {
    return static_cast<std::size_t>(packed ? (entries + 7) / 8 : entries);
  }
};

// Writes entries entry0 .. entry0 + entries - 1 (entry0 a multiple of 64)
// of the shots of a batch whose first shot is `batch_first`, for the shots
// among them that the call asked for.  `rows[e]` is entry entry0 + e's bit
// row of `row_words` words, or null for a row of zeros; `reference` holds
// (entries + 63) / 64 words XORed into every shot's entries (bit e % 64
// of word e / 64 for entry entry0 + e), or is null.  Each shot's entries
// are written in one pass, so a call with more entries touches each row
// fewer times.  `kernels` transpose and unpack (any width gives the same bytes).
void write_entries(const ShotRows& out, std::uint64_t batch_first, std::size_t row_words,
                   const Word* const* rows, std::size_t entries, std::uint64_t entry0, const Word* reference,
                   const Kernels& kernels);

}  // namespace ordavine::frames
