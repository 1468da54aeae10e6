// Where measurement takes its randomness from.  The measurement code only
// ever asks for 32-bit words; everything it needs (an outcome bit, a bounded
// integer, an axis) is derived from them here, so tests can force outcomes
// by injecting a source with chosen words.
#pragma once

#include <cstdint>

#include "clifford/tables.hpp"

namespace ordavine {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual std::uint32_t next_word() = 0;
};

// The most significant bit of the next word: 1 exactly for words >= 2^31.
bool random_bit(RandomSource& source);

// A uniform integer in [low, high), low < high, by multiply-and-refine: the
// upper half of word * range, corrected by a second word only when the lower
// half is close enough to 2^32 for a carry to be possible.  At most two
// words; no retry loop.
std::uint32_t uniform_in(RandomSource& source, std::uint32_t low, std::uint32_t high);

// X, Y or Z, uniformly: the uniform integer in [0, 3) as an axis code.
Axis random_axis(RandomSource& source);

}  // namespace ordavine
