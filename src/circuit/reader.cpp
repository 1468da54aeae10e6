#include "circuit/reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "circuit/instructions.hpp"
#include "circuit/line.hpp"
#include "circuit/line_checks.hpp"
#include "circuit/target_reader.hpp"
#include "circuit/target_rewriting.hpp"
#include "circuit/text_scanner.hpp"
#include "failure/failure.hpp"

namespace ordavine::circuit {
namespace {

using namespace reading;

// An open REPEAT block, with the running counts at its start.
struct Frame {
  std::size_t instruction;
  std::uint64_t count;
  std::uint64_t measurements;
  std::uint64_t detectors;
  std::uint64_t work;
  SourcePosition at;
};

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Program read() {
    while (!text_.at_end()) read_line();
    if (!frames_.empty()) read_error(frames_.back().at, "REPEAT block is never closed");
    program_.measurement_count = measurements_;
    program_.detector_count = detectors_;
    program_.observable_count = observables_;
    program_.work = work_;
    return std::move(program_);
  }

 private:
  // ---- one line ----------------------------------------------------------------

  void read_line() {
    text_.skip_blanks();
    if (text_.at_line_end()) return text_.finish_line();
    const SourcePosition start = text_.here();
    if (text_.peek() == '}') {
      text_.advance();
      close_block(start);
      return text_.finish_line();
    }
    if (!is_name_char(text_.peek()) || is_digit(text_.peek())) {
      text_.error_here("expected an instruction name, found " + describe_byte(text_.peek()));
    }
    const std::string_view name = text_.read_name();
    std::optional<NamedInstruction> entry;
    constexpr std::size_t kLongestName = 24;
    if (name.size() <= kLongestName) {
      char upper[kLongestName];
      for (std::size_t i = 0; i < name.size(); ++i) upper[i] = to_upper(name[i]);
      entry = find_instruction(std::string_view(upper, name.size()));
    }
    if (!entry) read_error(start, "unknown or unsupported instruction '" + shown_name(name) + "'");
    if (text_.peek() == '[') text_.skip_tag();
    if (entry->record->kind == Kind::repeat) {
      open_block(start);
      return text_.finish_line();
    }
    text_.read_arguments(arguments_);
    line_first_target_ = program_.targets.size();
    line_ = read_targets(text_, program_.targets);
    emitted_ = false;
    compile(*entry, start);
    if (!emitted_) drop_line_targets();
    text_.finish_line();
  }

  // The current line's targets, as read.
  std::span<const Target> line_targets() const {
    return std::span<const Target>(program_.targets).subspan(line_first_target_);
  }
  std::size_t line_target_count() const { return program_.targets.size() - line_first_target_; }
  void drop_line_targets() { program_.targets.resize(line_first_target_); }

  // Where the current line's target number `index` starts.
  SourcePosition target_at(std::size_t index) const {
    return target_position(text_, line_.text_offset, index);
  }

  // ---- blocks ------------------------------------------------------------------

  void open_block(SourcePosition start) {
    text_.skip_blanks();
    if (frames_.size() >= kMaxNesting) {
      read_error(start, "REPEAT blocks nested deeper than " + std::to_string(kMaxNesting));
    }
    const std::uint64_t count = text_.read_integer(std::numeric_limits<std::int64_t>::max(), "repeat count");
    if (count == 0) read_error(start, "REPEAT 0 is not allowed: a block runs at least once");
    text_.skip_blanks();
    if (text_.peek() != '{')
      text_.error_here("expected '{' after the repeat count, found " + describe_byte(text_.peek()));
    text_.advance();
    frames_.push_back({program_.instructions.size(), count, measurements_, detectors_, work_, start});
    program_.instructions.push_back({.code = Opcode::repeat, .repetitions = count});
  }

  void close_block(SourcePosition at) {
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

  // The count after a block that added `now - before` once runs `count` times.
  static std::uint64_t repeated(std::uint64_t before, std::uint64_t now, std::uint64_t count,
                                SourcePosition at, const char* what) {
    const std::uint64_t body = now - before;
    if (body != 0 && count > (kMaxRecordEntries - before) / body) record_too_large(at, what);
    return before + body * count;
  }

  // ---- rewriting a line's targets ------------------------------------------------

  // The line's targets as read, taken out of the program so that the
  // compiled form can take their place.
  std::vector<Target> take_line_targets() {
    const auto targets = line_targets();
    std::vector<Target> raw(targets.begin(), targets.end());
    drop_line_targets();
    return raw;
  }

  // ---- emitting ------------------------------------------------------------------

  // How an instruction's arguments are kept: not at all (coordinates),
  // each as its own threshold, or as running sums (disjoint alternatives).
  enum class Kept { none, each, cumulative };

  // Keeps the line's targets, and its arguments as `kept` says, as one
  // instruction: `instruction` with its opcode and the fields it uses.
  void emit(Instruction instruction, SourcePosition start, Kept kept = Kept::none) {
    if (program_.targets.size() > std::numeric_limits<std::uint32_t>::max() ||
        program_.probabilities.size() > std::numeric_limits<std::uint32_t>::max() - 16) {
      read_error(start, "the circuit has too many targets");
    }
    instruction.first_target = static_cast<std::uint32_t>(line_first_target_);
    instruction.target_count = static_cast<std::uint32_t>(line_target_count());
    instruction.first_argument = static_cast<std::uint32_t>(program_.probabilities.size());
    instruction.line = start.line;
    if (kept != Kept::none) {
      instruction.argument_count = static_cast<std::uint8_t>(arguments_.size());
      double running = 0.0;
      for (const Argument& argument : arguments_) {
        running = kept == Kept::cumulative ? std::min(1.0, running + argument.value) : argument.value;
        program_.probabilities.push_back(argument.value);
        program_.thresholds.push_back(threshold_of(running));
      }
    }
    program_.instructions.push_back(instruction);
    work_ = saturating_add(work_, line_target_count() + 1);
    emitted_ = true;
  }

  void add_measurements(SourcePosition start, std::uint64_t count) {
    measurements_ += count;
    if (measurements_ > kMaxRecordEntries) record_too_large(start, "measurement record");
  }

  // The line's largest qubit index, once its targets have passed the checks.
  void note_line_qubits(const Line& line) {
    if (line.summary.qubit_count > program_.qubit_count) {
      program_.qubit_count = line.summary.qubit_count;
      program_.largest_qubit_at = line.largest_qubit_at();
    }
  }

  void compile(const NamedInstruction& entry, SourcePosition start) {
    const InstructionRecord& record = *entry.record;
    const Line line{entry, start, arguments_, line_, &text_};
    const double sum = check_arguments(line, detectors_);
    if (check_line_targets(line, line_targets(), measurements_)) note_line_qubits(line);
    const std::size_t targets = line_target_count();
    switch (record.kind) {
      case Kind::single_qubit:
        if (targets != 0 && record.vop != vop::identity)
          emit({.code = Opcode::single_qubit, .vop = record.vop}, start);
        return;
      case Kind::two_qubit:
        if (has_classical_bits(line.flags())) drop_classical_pairs(take_line_targets(), program_.targets);
        if (line_target_count() != 0) emit({.code = Opcode::two_qubit, .gate = record.gate}, start);
        return;
      case Kind::measure:
      case Kind::measure_reset:
        if (targets != 0) {
          const Opcode code = record.kind == Kind::measure ? Opcode::measure : Opcode::measure_reset;
          emit({.code = code, .axis = record.axis}, start, Kept::each);
        }
        add_measurements(start, targets);
        return;
      case Kind::reset:
        if (targets != 0) emit({.code = Opcode::reset, .axis = record.axis}, start);
        return;
      case Kind::measure_pair: {
        const std::size_t pairs = compile_pair_products(take_line_targets(), record.axis, program_.targets);
        if (pairs != 0) emit({.code = Opcode::measure_product}, start, Kept::each);
        add_measurements(start, pairs);
        return;
      }
      case Kind::measure_product: {
        const std::size_t products = compile_products(line, take_line_targets(), program_.targets);
        if (products != 0) emit({.code = Opcode::measure_product}, start, Kept::each);
        add_measurements(start, products);
        return;
      }
      case Kind::rotate_product: {
        const std::size_t products = compile_products(line, take_line_targets(), program_.targets);
        if (products != 0) emit({.code = Opcode::rotate_product, .dagger = record.dagger}, start, Kept::each);
        return;
      }
      case Kind::pad:
        if (targets != 0) emit({.code = Opcode::pad}, start, Kept::each);
        add_measurements(start, targets);
        return;
      case Kind::pauli_error:
        if (targets != 0 && arguments_[0].value > 0.0)
          emit({.code = Opcode::pauli_error, .axis = record.axis}, start, Kept::each);
        return;
      case Kind::depolarize1:
        if (targets != 0 && arguments_[0].value > 0.0) emit({.code = Opcode::depolarize1}, start, Kept::each);
        return;
      case Kind::depolarize2:
        if (targets != 0 && arguments_[0].value > 0.0) emit({.code = Opcode::depolarize2}, start, Kept::each);
        return;
      case Kind::pauli_channel_1:
        if (targets != 0 && sum > 0.0) emit({.code = Opcode::pauli_channel_1}, start, Kept::cumulative);
        return;
      case Kind::pauli_channel_2:
        if (targets != 0 && sum > 0.0) emit({.code = Opcode::pauli_channel_2}, start, Kept::cumulative);
        return;
      case Kind::correlated_error:
        compile_unsigned_paulis(take_line_targets(), program_.targets);
        // E always runs: it starts a new chain even when it cannot fire.
        if (!record.else_branch || arguments_[0].value > 0.0) {
          emit({.code = Opcode::correlated_error, .else_branch = record.else_branch}, start, Kept::each);
        }
        return;
      case Kind::heralded_erase:
        // The format accepts `!` here; a herald is never inverted.
        if (targets != 0) emit({.code = Opcode::heralded_erase}, start, Kept::each);
        add_measurements(start, targets);
        return;
      case Kind::heralded_pauli_channel_1:
        if (targets != 0) emit({.code = Opcode::heralded_pauli_channel_1}, start, Kept::cumulative);
        add_measurements(start, targets);
        return;
      case Kind::detector:
        emit({.code = Opcode::detector}, start);
        ++detectors_;
        if (detectors_ + observables_ > kMaxRecordEntries) record_too_large(start, "detector record");
        return;
      case Kind::observable_include: {
        const auto observable = static_cast<std::uint64_t>(arguments_[0].value);
        observables_ = std::max(observables_, observable + 1);
        if ((line_.flags & kPauliBits) != 0) compile_unsigned_paulis(take_line_targets(), program_.targets);
        emit({.code = Opcode::observable_include, .observable = observable}, start);
        return;
      }
      case Kind::pair_identity:
      case Kind::identity_error:
      case Kind::tick:
      case Kind::qubit_coords:
      case Kind::shift_coords: return;  // checked; nothing runs
      case Kind::repeat: break;
    }
    fail("instruction kind without a compilation");
  }

  TextScanner text_;
  std::uint64_t measurements_ = 0;
  std::uint64_t detectors_ = 0;
  std::uint64_t observables_ = 0;
  std::uint64_t work_ = 0;
  std::vector<Frame> frames_;
  // The line being read: its first target in program_.targets, and what
  // reading its targets found out about them.
  std::size_t line_first_target_ = 0;
  TargetSummary line_;
  bool emitted_ = false;
  std::vector<Argument> arguments_;
  Program program_;
};

}  // namespace

Program read_circuit(std::string_view text) { return Reader(text).read(); }

}  // namespace ordavine::circuit
