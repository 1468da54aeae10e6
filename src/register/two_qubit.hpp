// The two-qubit gates.  Controlled-Z is the only entangling operation; every
// other gate is a controlled-Z framed by single-qubit basis changes on its
// operands.  The gate named <p>c<q> applies Pauli q to the target when the
// control is in the -1 eigenstate of Pauli p (p = Z when the name starts
// with "c").
//
// Every gate checks both indices before it changes anything, in the order in
// which its steps first use them, so the first bad index met is the one
// reported and a failing call leaves the register as it was.  A call whose
// control equals its target is refused the same way.  A call that runs out
// of memory throws std::bad_alloc and leaves the same state, possibly
// represented by another graph (the reductions it got through).
#pragma once

#include "register/register.hpp"

namespace ordavine {

// Controlled-Z with a as the first operand and b as the second.  The order
// does not change the represented state, but it does change the graph and
// VOPs that represent it: reductions start with a, and a's VOP is the first
// index of the lookup.
void cz(Register& reg, Qubit a, Qubit b);

void cx(Register& reg, Qubit control, Qubit target);
void cy(Register& reg, Qubit control, Qubit target);
void xcx(Register& reg, Qubit control, Qubit target);
void xcy(Register& reg, Qubit control, Qubit target);
void xcz(Register& reg, Qubit control, Qubit target);
void ycx(Register& reg, Qubit control, Qubit target);
void ycy(Register& reg, Qubit control, Qubit target);
void ycz(Register& reg, Qubit control, Qubit target);

}  // namespace ordavine
