// Measurement outcomes for a set of qubits, taken on a copy so that the
// register itself is left as it was.
#pragma once

#include <cstdint>
#include <vector>

#include "random/random_source.hpp"
#include "register/register.hpp"

namespace ordavine {

struct PeekOutcome {
  // `info` packs how the outcome was found: the axis code in bits 0-1 and
  // kDeterminedFlag when the state fixed the outcome.
  static constexpr std::uint8_t kAxisMask = 0x3;
  static constexpr std::uint8_t kDeterminedFlag = 0x4;

  Qubit qubit;
  std::uint8_t result;  // 0 for +1, 1 for -1
  std::uint8_t info;
};

// Measures every listed qubit, in ascending index order, on one deep copy
// of the part of `reg` they are connected to: each on the axis whose outcome the copy fixes when there is
// one, otherwise on a uniformly random axis.  Later qubits see the copy as the earlier measurements left it,
// so the outcomes are jointly consistent. Returns one outcome per distinct qubit, ascending.  An index at or
// above the register size fails with the index failure before anything is copied or drawn.  An empty list
// returns an empty result and draws nothing.
std::vector<PeekOutcome> peek_measure_set(const Register& reg, std::vector<Qubit> qubits,
                                          RandomSource& random);

}  // namespace ordavine
