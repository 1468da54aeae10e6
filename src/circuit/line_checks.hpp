// The checks a line passes before anything of it is compiled, derived from
// its instruction's record (circuit/instructions.hpp): how many parens
// arguments and what they must be (probabilities, disjoint alternatives,
// an observable index), and which targets it takes (qubits, `!`, pairs of
// distinct qubits, records and sweep bits where a controlled gate reads Z,
// Pauli targets and products, look-backs within the record, MPAD's bits).
// A refused line throws InvalidInput with the position of what is wrong.
#pragma once

#include <cstdint>
#include <span>

#include "circuit/line.hpp"

namespace ordavine::circuit::reading {

// The parens arguments; `detectors` is the number of detectors so far.
// Returns the sum of the probabilities of disjoint alternatives (0 for
// arguments of any other meaning).
double check_arguments(const Line& line, std::uint64_t detectors);

// The line's targets as read (`targets`); `measurements` is the number of
// measurements so far.  Returns whether the targets are qubits of the
// register, so that the largest of them counts towards its size.
bool check_line_targets(const Line& line, std::span<const Target> targets, std::uint64_t measurements);

}  // namespace ordavine::circuit::reading
