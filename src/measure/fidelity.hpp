// Fidelity between the states of two registers, or between the reduced
// state of some qubits of one register and the state of another.
//
// The reduced state of a set A of k qubits is rho = 2^-E * Pi, with Pi the
// projector onto the code space of the subgroup S_A (reduced_state.hpp).
// For a pure stabilizer state |phi> on k qubits, <phi|rho|phi> is 2^-E
// times <phi|Pi|phi>, and <phi|Pi|phi> is the probability that measuring
// the generators of S_A one after another on |phi> gives +1 every time:
// a generator whose value |phi> (as the earlier ones left it) fixes at +1
// costs nothing, one fixed at -1 makes the fidelity 0, and a random one
// halves it and is postselected at +1 on a working copy.  For two whole
// registers the set is every qubit, E is 0, and the generators are the
// register's own: |<psi|phi>|^2.
#pragma once

#include <span>

#include "register/register.hpp"

namespace ordavine {

// <phi|rho|phi> for rho the reduced state of `reg` on `qubits` (distinct,
// in order: qubits[i] of `reg` is qubit i of `other`), |phi> the state of
// `other`, which has exactly qubits.size() qubits.  0 or a power of 1/2.
// Reads both registers; copies `other` only when some generator's outcome
// on it is random.  An index failure, or InvalidInput for a repeated
// qubit, before anything else.
double reduced_fidelity(const Register& reg, std::span<const Qubit> qubits, const Register& other);

// |<psi|phi>|^2 of two registers of the same size.
double fidelity(const Register& a, const Register& b);

}  // namespace ordavine
