// Pauli noise on the register, with the draws every caller shares: the
// circuit runner's channels and the register's noise methods draw the same
// words for the same channel, so a seeded run of `DEPOLARIZE1(p) q` and the
// call depolarize1(q, p) leave the same register.
//
// A probability p is compared as a 32-bit threshold, round(p * 2^32): a
// channel draws one word and fires when the word is below it.  p = 1 always
// fires (the word is still drawn); p = 0 draws nothing.
#pragma once

#include <cstdint>

#include "clifford/tables.hpp"
#include "measure/random_source.hpp"
#include "register/register.hpp"

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

// The Pauli gate of an axis, as a VOP.
constexpr Vop pauli_vop(Axis axis) { return static_cast<Vop>(static_cast<unsigned>(axis) + 1); }
static_assert(pauli_vop(Axis::x) == vop::pauli_x && pauli_vop(Axis::z) == vop::pauli_z);

// X_ERROR, Y_ERROR, Z_ERROR: the Pauli of `axis` when the channel fires.
void pauli_error(Register& reg, Qubit q, Axis axis, Threshold threshold, RandomSource& random);

// DEPOLARIZE1: when the channel fires, X, Y or Z, a second draw choosing
// uniformly (random_axis).
void depolarize1(Register& reg, Qubit q, Threshold threshold, RandomSource& random);

// DEPOLARIZE2: when the channel fires, one of the 15 non-identity pairs,
// uniformly (uniform_in(1, 16) read as two base-4 digits, a's first).
void depolarize2(Register& reg, Qubit a, Qubit b, Threshold threshold, RandomSource& random);

}  // namespace ordavine
