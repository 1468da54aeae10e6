// Single-qubit Pauli measurement on the graph-state register.
//
// The requested observable is first carried through the qubit's VOP: on the
// bare graph state it becomes +-sigma_e for an effective axis e.  One of
// three graph updates then measures sigma_e, leaves the qubit without edges,
// and patches the VOPs of the qubit and its neighbourhood so the register
// represents the post-measurement state.  The graph outcome, corrected by
// the sign, is the result.
#pragma once

#include <cstdint>

#include "clifford/tables.hpp"
#include "random/random_source.hpp"
#include "register/register.hpp"

namespace ordavine {

struct Measurement {
  std::uint8_t result;  // 0 for eigenvalue +1, 1 for -1
  bool determined;      // the state fixed the outcome; nothing was drawn
};

// Measures qubit q on `axis` (X, Y or Z).  A random outcome draws exactly
// one word from `random`, before anything is changed; a determined outcome
// draws none and changes nothing.  An index at or above the register size
// fails with the index failure before anything is drawn.
Measurement measure(Register& reg, Qubit q, Axis axis, RandomSource& random);

// The same measurement with the outcome chosen instead of drawn: when the
// outcome is random it is `wanted` (0 for +1, 1 for -1), with the same
// graph update a draw of that outcome makes; a determined outcome is
// returned as it is, `determined` set and nothing changed (it may differ
// from `wanted`).  Used for noiseless reference runs and postselection.
Measurement measure_with_outcome(Register& reg, Qubit q, Axis axis, std::uint8_t wanted);

// The axis on which measuring q has a fixed outcome, or Axis::none.  Only an
// isolated qubit has one: the axis its VOP carries X onto.
Axis find_deterministic(const Register& reg, Qubit q);

}  // namespace ordavine
