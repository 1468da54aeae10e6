// Resetting a qubit to the +1 eigenstate of a Pauli axis, as the circuit
// format's R, RX and RY do: a measurement on that axis, then the Pauli that
// takes the -1 outcome's state to the +1 one (X after a Z measurement, Z
// after an X or Y one).
#pragma once

#include <cstdint>

#include "clifford/tables.hpp"
#include "random/random_source.hpp"
#include "register/register.hpp"
#include "register/single_qubit.hpp"

namespace ordavine {

// The correction after a measurement on `axis` gave `result`.
inline void correct_to_plus(Register& reg, Qubit q, Axis axis, std::uint8_t result) {
  if (result != 0) apply_to_vop(reg[q], axis == Axis::z ? vop::pauli_x : vop::pauli_z);
}

// Measures q on `axis` with a draw from `random` where the outcome is
// random, then corrects to the +1 eigenstate.  A bad index changes nothing.
void reset(Register& reg, Qubit q, Axis axis, RandomSource& random);

}  // namespace ordavine
