// The entanglement entropy of a set of qubits against the rest of the
// register.  For a graph state the entropy in bits of a set A is the GF(2)
// rank of the adjacency block between A and its complement; the VOPs are
// local unitaries and do not change it.  The block is block-diagonal over
// connected components, so only the components that A touches are read, and
// each one's rank is taken on its own: over the qubits of A with a neighbour
// outside A against the qubits outside A with a neighbour in A.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "register/register.hpp"

namespace ordavine {

// The entropy in bits of `qubits` (distinct, ascending) against all other
// qubits.  An index failure for the smallest index at or above the size,
// before anything else is read.  The empty set and the whole register give 0.
std::size_t entanglement_entropy(const Register& reg, std::span<const Qubit> qubits);

// The GF(2) rank of a bit matrix of `rows` rows, each `words` 64-bit words
// long, of which the first `columns` bits are used.  Eliminates in place.
std::size_t gf2_rank(std::vector<std::uint64_t>& matrix, std::size_t rows, std::size_t words,
                     std::size_t columns);

}  // namespace ordavine
