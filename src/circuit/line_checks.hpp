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

// What the checks found out that compiling the line needs.
struct CheckedLine {
  double disjoint_sum;  // the sum of the probabilities of disjoint alternatives (else 0)
  bool names_qubits;    // the targets are qubits of the register: the largest counts towards its size
};

// The parens arguments, then the targets as read (`targets`).
// `measurements` and `detectors` are the counts so far.
CheckedLine check_line(const Line& line, std::span<const Target> targets, std::uint64_t measurements,
                       std::uint64_t detectors);

}  // namespace ordavine::circuit::reading
