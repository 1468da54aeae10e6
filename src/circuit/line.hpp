// One instruction line as read, as the checks and the compilation see it:
// the instruction it names, where it starts, its parens arguments and what
// reading its targets found out about them, with the way back to where each
// target stands for the errors that point at one.  The target words
// themselves are in the program being built (ProgramBuilder::line_targets).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "circuit/instructions.hpp"
#include "circuit/target_reader.hpp"
#include "circuit/text_scanner.hpp"

namespace ordavine::circuit::reading {

struct Line {
  NamedInstruction entry;
  SourcePosition start;
  std::span<const Argument> arguments;
  TargetSummary summary;
  const TextScanner* text;

  const InstructionRecord& record() const { return *entry.record; }
  std::string_view name() const { return entry.name; }
  // The flags and marks seen on any of the line's targets.
  Target flags() const { return summary.flags; }
  // Where the line's target number `index` starts.
  SourcePosition target_at(std::size_t index) const {
    return target_position(*text, summary.text_offset, index);
  }
  // Where the line's largest qubit index first stands.
  SourcePosition largest_qubit_at() const { return text->position_of(summary.largest_offset); }
};

}  // namespace ordavine::circuit::reading
