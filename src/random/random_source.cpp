#include "random/random_source.hpp"

namespace ordavine {

bool random_bit(RandomSource& source) { return (source.next_word() >> 31) != 0; }

std::uint32_t uniform_in(RandomSource& source, std::uint32_t low, std::uint32_t high) {
  const std::uint32_t range = high - low;
  const std::uint64_t product = std::uint64_t{source.next_word()} * range;
  std::uint32_t hi = static_cast<std::uint32_t>(product >> 32);
  const std::uint32_t lo = static_cast<std::uint32_t>(product);
  // 2^32 - range, computed in 32 bits.  Only when lo lies above it can the
  // fraction contributed by a further word carry into hi.
  const std::uint32_t carry_threshold = 0u - range;
  if (lo > carry_threshold) {
    const std::uint64_t refine = std::uint64_t{source.next_word()} * range;
    const auto refine_hi = static_cast<std::uint32_t>(refine >> 32);
    if (static_cast<std::uint32_t>(lo + refine_hi) < lo) ++hi;
  }
  return low + hi;
}

Axis random_axis(RandomSource& source) { return static_cast<Axis>(uniform_in(source, 0, 3)); }

}  // namespace ordavine
