// Pauli noise on the register, with the draws every caller shares: the
// circuit runner's channels and the register's noise methods draw the same
// words for the same channel, so a seeded run of `DEPOLARIZE1(p) q` and the
// call depolarize1(q, p) leave the same register.  Probabilities come as
// thresholds (random/threshold.hpp).
#pragma once

#include <cstdint>

#include "clifford/tables.hpp"
#include "random/random_source.hpp"
#include "random/threshold.hpp"
#include "register/register.hpp"

namespace ordavine {

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

// The same for indices nobody has checked yet (the register's noise
// methods; the circuit runner's programs are checked when they are read and
// call the functions above).  An index at or above the size is the index
// failure, `a` checked before `b`, and equal qubits of depolarize2 are
// refused as the two-qubit gates refuse them, by name; a refused call draws
// nothing and changes nothing.
void checked_pauli_error(Register& reg, Qubit q, Axis axis, Threshold threshold, RandomSource& random);
void checked_depolarize1(Register& reg, Qubit q, Threshold threshold, RandomSource& random);
void checked_depolarize2(Register& reg, Qubit a, Qubit b, Threshold threshold, RandomSource& random);

}  // namespace ordavine
