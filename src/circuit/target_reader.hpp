// Reading one line's targets: plain qubit indices (long lines of them a
// word at a time), `!` inversions, Pauli targets (X5, !Y2, lower case
// too), rec[-k], sweep[k] and the combiner '*' of Pauli products, as
// Target words appended to an array, with what the checks need of them
// gathered on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "circuit/program.hpp"
#include "circuit/text_scanner.hpp"

namespace ordavine::circuit::reading {

// Words that stand only in a line's targets as read, never in a program:
// sweep[k] (k in the low bits) and the combiner '*' of Pauli products.
// Both sit above every index, inside the value bits.
inline constexpr Target kSweepMark = Target{1} << 59;
inline constexpr Target kCombinerMark = Target{1} << 58;
static_assert(kSweepMark <= kValueMask && kCombinerMark > kMaxQubitIndex);

constexpr bool is_sweep(Target t) { return (t & kSweepMark) != 0; }

// What reading a line's targets found out about them.
struct TargetSummary {
  std::size_t text_offset = 0;     // where the targets start in the text
  Target flags = 0;                // the flags and marks seen on any target
  std::uint64_t qubit_count = 0;   // one more than the largest qubit index
  std::size_t largest_offset = 0;  // where that index first stands in the text
};

// Reads the targets from the scanner's cursor (right after the name or the
// arguments) to the end of the line's content, appending one word each to
// `targets`.  Refuses anything that is not a target, with its position.
TargetSummary read_targets(TextScanner& text, std::vector<Target>& targets);

// Where target number `index` of a line whose targets were read from
// `text_offset` starts.  The line has been read, so its targets are runs of
// non-blanks between blanks, a combiner '*' being a target of its own
// wherever it stands.  Only refused lines need it, so nothing is stored per
// target while reading.
SourcePosition target_position(const TextScanner& text, std::size_t text_offset, std::size_t index);

}  // namespace ordavine::circuit::reading
