// The entanglement entropy of a set of qubits against the rest of the
// register.  For a graph state the entropy in bits of a set A is the GF(2)
// rank of the adjacency block between A and its complement; the VOPs are
// local unitaries and do not change it.  Only the cut edges are nonzero in
// that block, and they are all found in the lists of A's qubits, so nothing
// else is read.  The block is block-diagonal over the connected pieces of
// the cut edges (a piece never shares a row or a column with another), and
// each piece is ranked on its own, bit-packed.
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
