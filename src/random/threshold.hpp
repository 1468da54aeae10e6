// Probabilities as the noise code compares them: a 32-bit threshold,
// round(p * 2^32).  A channel draws one word and fires when the word is
// below it; p = 1 always fires (the word is still drawn); p = 0 draws
// nothing.  Kept apart from the register so that a compiled program, which
// stores thresholds, does not depend on the graph algebra.
#pragma once

#include <cstdint>

#include "random/random_source.hpp"

namespace ordavine {

using Threshold = std::uint64_t;
inline constexpr Threshold kAlways = Threshold{1} << 32;

// round(p * 2^32) for p in [0, 1].
Threshold threshold_of(double p);

// Whether a channel with this threshold fires: one word drawn unless the
// threshold is 0.
inline bool fires(RandomSource& random, Threshold threshold) {
  return threshold != 0 && random.next_word() < threshold;
}

}  // namespace ordavine
