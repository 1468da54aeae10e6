// Small stores of a shot's bytes, shared by the row writer and the
// kernels: a word's low bytes in at most three stores, and bits spread to
// bytes by a table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ordavine::frames {

// Stores the low `bytes` (below 8) bytes of `v` at `out`, in at most three
// stores (the branches go the same way for every shot of a tile).
inline __attribute__((always_inline)) void store_low_bytes(std::uint8_t* out, std::uint64_t v,
                                                           std::size_t bytes) {
  std::uint8_t b[8];
  __builtin_memcpy(b, &v, 8);
  std::size_t k = 0;
  if (bytes & 4) {
    __builtin_memcpy(out, b, 4);
    k = 4;
  }
  if (bytes & 2) {
    __builtin_memcpy(out + k, b + k, 2);
    k += 2;
  }
  if (bytes & 1) out[k] = b[k];
}

// Byte b spread to eight bytes, bit i of b to byte i (0 or 1).
inline constexpr std::array<std::uint64_t, 256> kSpread = [] {
  std::array<std::uint64_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned i = 0; i < 8; ++i) table[b] |= static_cast<std::uint64_t>((b >> i) & 1) << (8 * i);
  }
  return table;
}();

}  // namespace ordavine::frames
