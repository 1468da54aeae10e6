#include "frames/row_join.hpp"

#include <algorithm>
#include <cstring>

#include "failure/failure.hpp"
#include "frames/shot_rows.hpp"

namespace ordavine::frames {

void join_rows(std::span<const std::uint8_t> a, std::uint64_t a_entries, std::span<const std::uint8_t> b,
               std::uint64_t b_entries, std::uint64_t shots, bool packed, std::span<std::uint8_t> out) {
  const std::size_t a_bytes = ShotRows::bytes_for(a_entries, packed);
  const std::size_t b_bytes = ShotRows::bytes_for(b_entries, packed);
  const std::size_t out_bytes = ShotRows::bytes_for(a_entries + b_entries, packed);
  if (a.size() != shots * a_bytes || b.size() != shots * b_bytes || out.size() != shots * out_bytes) {
    fail("joined rows sized differently from their entries");
  }
  if (out_bytes == 0) return;
  const unsigned shift = static_cast<unsigned>(a_entries % 8);
  for (std::uint64_t s = 0; s < shots; ++s) {
    const std::uint8_t* x = a.data() + s * a_bytes;
    const std::uint8_t* y = b.data() + s * b_bytes;
    std::uint8_t* row = out.data() + s * out_bytes;
    if (a_bytes != 0) std::memcpy(row, x, a_bytes);
    if (!packed || shift == 0) {
      if (b_bytes != 0) std::memcpy(row + a_bytes, y, b_bytes);
      continue;
    }
    // Packed, the second row starting inside the first's last byte (whose
    // padding bits are zero): each of its bytes straddles two.
    std::uint8_t* at = row + a_bytes - 1;
    for (std::size_t k = 0; k < b_bytes; ++k) {
      at[k] |= static_cast<std::uint8_t>(y[k] << shift);
      if (a_bytes + k < out_bytes) at[k + 1] = static_cast<std::uint8_t>(y[k] >> (8 - shift));
    }
  }
}

}  // namespace ordavine::frames
