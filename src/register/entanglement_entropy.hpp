// The entanglement entropy of a set of qubits against the rest of the
// register.  For a graph state the entropy in bits of a set A is the GF(2)
// rank of the adjacency block between A and its complement; the VOPs are
// local unitaries and do not change it.  Only the cut edges are nonzero in
// that block, and they are all found in the lists of A's qubits, so nothing
// else is read.  The rank is taken on the cut edges alone (cut_rank.hpp).
#pragma once

#include <cstddef>
#include <span>

#include "register/register.hpp"
#include "register/work_meter.hpp"

namespace ordavine {

// The entropy in bits of `qubits` (distinct, ascending) against all other
// qubits.  An index failure for the smallest index at or above the size,
// before anything else is read.  The empty set and the whole register give
// 0.  `cancel` is polled while the rank is taken (not while the lists are
// read, which uses the thread's qubit marks: a call nested in the check
// may use them in turn).
std::size_t entanglement_entropy(const Register& reg, std::span<const Qubit> qubits,
                                 CancelCheck* cancel = nullptr);

}  // namespace ordavine
