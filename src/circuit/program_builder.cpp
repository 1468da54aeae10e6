#include "circuit/program_builder.hpp"

#include <algorithm>
#include <limits>
#include <string>

namespace ordavine::circuit::reading {
namespace {

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

// The count after a block that added `now - before` once runs `count` times.
std::uint64_t repeated(std::uint64_t before, std::uint64_t now, std::uint64_t count, SourcePosition at,
                       const char* what) {
  const std::uint64_t body = now - before;
  if (body != 0 && count > (kMaxRecordEntries - before) / body) record_too_large(at, what);
  return before + body * count;
}

}  // namespace

std::vector<Target> ProgramBuilder::take_line_targets() {
  const auto targets = line_targets();
  std::vector<Target> raw(targets.begin(), targets.end());
  program_.targets.resize(line_first_target_);
  return raw;
}

void ProgramBuilder::keep_arguments(Instruction& instruction, std::span<const Argument> arguments,
                                    Kept kept) {
  instruction.argument_count = static_cast<std::uint8_t>(arguments.size());
  double running = 0.0;
  for (const Argument& argument : arguments) {
    running = kept == Kept::cumulative ? std::min(1.0, running + argument.value) : argument.value;
    program_.probabilities.push_back(argument.value);
    program_.thresholds.push_back(threshold_of(running));
  }
}

void ProgramBuilder::expect_room_for_block(SourcePosition start) const {
  if (frames_.size() >= kMaxNesting) {
    read_error(start, "REPEAT blocks nested deeper than " + std::to_string(kMaxNesting));
  }
}

void ProgramBuilder::open_block(std::uint64_t count, SourcePosition start) {
  frames_.push_back({program_.instructions.size(), count, measurements_, detectors_, work_, start});
  program_.instructions.push_back({.code = Opcode::repeat, .repetitions = count});
}

void ProgramBuilder::close_block(SourcePosition at) {
  if (frames_.empty()) read_error(at, "'}' without an open REPEAT block");
  const Frame frame = frames_.back();
  frames_.pop_back();
  const std::uint64_t body = program_.instructions.size() - frame.instruction - 1;
  if (body == 0) {  // nothing to run: drop the block
    program_.instructions.pop_back();
    return;
  }
  program_.instructions[frame.instruction].body = body;
  measurements_ = repeated(frame.measurements, measurements_, frame.count, frame.at, "measurement record");
  detectors_ = repeated(frame.detectors, detectors_, frame.count, frame.at, "detector record");
  if (detectors_ + observables_ > kMaxRecordEntries) record_too_large(frame.at, "detector record");
  work_ = saturating_add(frame.work, saturating_mul(work_ - frame.work, frame.count));
}

Program ProgramBuilder::finish() {
  if (!frames_.empty()) read_error(frames_.back().at, "REPEAT block is never closed");
  program_.measurement_count = measurements_;
  program_.detector_count = detectors_;
  program_.observable_count = observables_;
  program_.work = work_;
  return std::move(program_);
}

}  // namespace ordavine::circuit::reading
