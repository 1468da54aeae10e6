// The program being built by the circuit reader: the instructions emitted
// line by line with their targets and arguments (probabilities and their
// thresholds), the running counts of measurements, detectors and
// observables with the limits on them (a record that could not be held,
// more targets or arguments than the instructions' 32-bit offsets reach),
// the open REPEAT blocks, whose counts are multiplied out when they close,
// and the work of a run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "circuit/line.hpp"
#include "circuit/program.hpp"

namespace ordavine::circuit::reading {

// How an emitted instruction keeps the line's arguments: not at all
// (coordinates), each as its own threshold, or as running sums (disjoint
// alternatives).
enum class Kept { none, each, cumulative };

class ProgramBuilder {
 public:
  // ---- the line being compiled ----------------------------------------------
  // Its targets go straight into the program's shared array (target_array,
  // from begin_line on); a line that emits nothing gives them back at
  // end_line.

  std::vector<Target>& target_array() { return program_.targets; }
  void begin_line() {
    line_first_target_ = program_.targets.size();
    emitted_ = false;
  }
  void end_line() {
    if (!emitted_) program_.targets.resize(line_first_target_);
  }

  // The current line's targets, as they stand now.
  std::span<const Target> line_targets() const {
    return std::span<const Target>(program_.targets).subspan(line_first_target_);
  }
  std::size_t line_target_count() const { return program_.targets.size() - line_first_target_; }

  // The line's targets as read, taken out of the program so that the
  // compiled form can take their place (appended to target_array).
  std::vector<Target> take_line_targets();

  // The line's largest qubit index, once its targets have passed the checks.
  void note_qubits(const Line& line) {
    if (line.summary.qubit_count > program_.qubit_count) {
      program_.qubit_count = line.summary.qubit_count;
      program_.largest_qubit_at = line.largest_qubit_at();
    }
  }

  // Keeps the line's targets, and its arguments as `kept` says, as one
  // instruction: `instruction` with its opcode and the fields it uses.
  void emit(Instruction instruction, const Line& line, Kept kept = Kept::none) {
    if (program_.targets.size() > std::numeric_limits<std::uint32_t>::max() ||
        program_.probabilities.size() > std::numeric_limits<std::uint32_t>::max() - 16) {
      read_error(line.start, "the circuit has too many targets");
    }
    instruction.first_target = static_cast<std::uint32_t>(line_first_target_);
    instruction.target_count = static_cast<std::uint32_t>(line_target_count());
    instruction.first_argument = static_cast<std::uint32_t>(program_.probabilities.size());
    instruction.line = line.start.line;
    if (kept != Kept::none) keep_arguments(instruction, line.arguments, kept);
    program_.instructions.push_back(instruction);
    work_ = saturating_add(work_, line_target_count() + 1);
    emitted_ = true;
  }

  // ---- counts -----------------------------------------------------------------

  std::uint64_t measurements() const { return measurements_; }
  std::uint64_t detectors() const { return detectors_; }
  void add_measurements(SourcePosition start, std::uint64_t count) {
    measurements_ += count;
    if (measurements_ > kMaxRecordEntries) record_too_large(start, "measurement record");
  }
  void add_detector(SourcePosition start) {
    ++detectors_;
    if (detectors_ + observables_ > kMaxRecordEntries) record_too_large(start, "detector record");
  }
  void include_observable(std::uint64_t observable) { observables_ = std::max(observables_, observable + 1); }

  // ---- REPEAT blocks -------------------------------------------------------------

  // Refuses a block that would nest deeper than kMaxNesting.
  void expect_room_for_block(SourcePosition start) const;
  void open_block(std::uint64_t count, SourcePosition start);
  void close_block(SourcePosition at);

  // The program, once the whole text has been read; refuses a block never
  // closed.
  Program finish();

 private:
  static std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
  }

  // The arguments of an instruction being emitted, as `kept` says.
  void keep_arguments(Instruction& instruction, std::span<const Argument> arguments, Kept kept);

  // An open REPEAT block, with the running counts at its start.
  struct Frame {
    std::size_t instruction;
    std::uint64_t count;
    std::uint64_t measurements;
    std::uint64_t detectors;
    std::uint64_t work;
    SourcePosition at;
  };

  Program program_;
  std::uint64_t measurements_ = 0;
  std::uint64_t detectors_ = 0;
  std::uint64_t observables_ = 0;
  std::uint64_t work_ = 0;
  std::vector<Frame> frames_;
  std::size_t line_first_target_ = 0;
  bool emitted_ = false;
};

}  // namespace ordavine::circuit::reading
