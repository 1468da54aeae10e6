// Rewriting a line's targets as read into the form the program keeps:
// products of Pauli targets reduced to one factor per qubit with their
// sign (refusing anti-Hermitian ones), the pairs of MXX, MYY and MZZ as
// two-factor products, the unsigned Paulis of noise channels and
// observables, and the pairs of controlled gates that have nothing
// quantum to act on left out.  Each takes the targets as read (`raw`,
// already checked by line_checks) and appends the rewritten ones to `out`.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "circuit/line.hpp"

namespace ordavine::circuit::reading {

// Whether a line whose targets carry `flags` has record or sweep bits, the
// only lines from which drop_classical_pairs drops anything.
constexpr bool has_classical_bits(Target flags) { return (flags & (kRecordFlag | kSweepMark)) != 0; }

// Pairs of a controlled gate with a sweep bit (sweep bits are 0 without
// sweep data, so the gate does nothing) or with two classical bits
// (nothing quantum to act on) are left out.
void drop_classical_pairs(std::span<const Target> raw, std::vector<Target>& out);

// The Paulis written on a line (combiners and signs dropped), one factor
// per qubit, after its record targets: what a noise channel or an
// observable needs of them.
void compile_unsigned_paulis(std::span<const Target> raw, std::vector<Target>& out);

// Products of Pauli targets joined by '*' (the line holds only those, as
// checked), each written as a header and its reduced factors.  Returns
// the number of products.
std::size_t compile_products(const Line& line, std::span<const Target> raw, std::vector<Target>& out);

// MXX, MYY, MZZ: each pair becomes the product of the axis on both, its
// sign flipped by each `!`.  Returns the number of pairs.
std::size_t compile_pair_products(std::span<const Target> raw, Axis axis, std::vector<Target>& out);

}  // namespace ordavine::circuit::reading
