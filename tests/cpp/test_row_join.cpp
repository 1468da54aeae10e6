// Rows joined entry by entry, against joining the entries one at a time.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frames/row_join.hpp"
#include "frames/shot_rows.hpp"

namespace ordavine::frames {
namespace {

std::vector<std::uint8_t> random_rows(std::uint64_t shots, std::uint64_t entries, bool packed,
                                      std::mt19937& rng) {
  std::vector<std::uint8_t> rows(shots * ShotRows::bytes_for(entries, packed));
  const std::size_t width = ShotRows::bytes_for(entries, packed);
  for (std::uint64_t s = 0; s < shots; ++s) {
    for (std::uint64_t e = 0; e < entries; ++e) {
      const std::uint8_t bit = rng() & 1;
      if (packed) {
        rows[s * width + e / 8] |= static_cast<std::uint8_t>(bit << (e % 8));
      } else {
        rows[s * width + e] = bit;
      }
    }
  }
  return rows;
}

std::uint8_t entry(const std::vector<std::uint8_t>& rows, std::uint64_t entries, bool packed,
                   std::uint64_t shot, std::uint64_t e) {
  const std::size_t width = ShotRows::bytes_for(entries, packed);
  return packed ? (rows[shot * width + e / 8] >> (e % 8)) & 1 : rows[shot * width + e];
}

TEST(RowJoin, EachShotIsItsFirstEntriesThenItsSecond) {
  std::mt19937 rng(3);
  for (const bool packed : {false, true}) {
    for (const std::uint64_t a : {0u, 1u, 7u, 8u, 13u, 64u}) {
      for (const std::uint64_t b : {0u, 1u, 5u, 8u, 21u}) {
        const std::uint64_t shots = 5;
        const auto x = random_rows(shots, a, packed, rng), y = random_rows(shots, b, packed, rng);
        std::vector<std::uint8_t> out(shots * ShotRows::bytes_for(a + b, packed), 0xFF);
        join_rows(x, a, y, b, shots, packed, out);
        for (std::uint64_t s = 0; s < shots; ++s) {
          for (std::uint64_t e = 0; e < a + b; ++e) {
            const std::uint8_t expected = e < a ? entry(x, a, packed, s, e) : entry(y, b, packed, s, e - a);
            ASSERT_EQ(entry(out, a + b, packed, s, e), expected) << packed << " " << a << " " << b;
          }
          if (packed && (a + b) % 8 != 0) {  // the padding bits are zero
            const std::size_t width = ShotRows::bytes_for(a + b, packed);
            EXPECT_EQ(out[s * width + width - 1] >> ((a + b) % 8), 0);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace ordavine::frames
