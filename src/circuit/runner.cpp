#include "circuit/runner.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "circuit/instructions.hpp"
#include "failure/failure.hpp"
#include "measure/measure.hpp"
#include "measure/pauli_noise.hpp"
#include "measure/product_measurement.hpp"
#include "measure/reset.hpp"
#include "register/gate_steps.hpp"
#include "register/out_of_memory.hpp"
#include "register/pauli_product.hpp"
#include "register/single_qubit.hpp"

namespace ordavine::circuit {

static_assert(kMaxQubitIndex + 1 == kMaxQubits, "the reader's qubit limit is the register's");

namespace {

// The Pauli that a controlled gate <p>C<q> applies to one operand when the
// other is a record bit that reads 1: q to the second, p to the first.
constexpr Vop applied_by(Axis letter) { return pauli_vop(letter); }

// A reference run draws nothing; a draw would be a fault in the runner.
class NoDraws final : public RandomSource {
 public:
  std::uint32_t next_word() override { fail("the noiseless reference run drew a random word"); }
};

// Work is counted as one unit per instruction executed, per repetition
// and per target, plus, for every qubit a graph update acts on whose list
// is longer than 16, the square of its length (what a local
// complementation on it may toggle), so that a poll comes after a bounded
// stretch of time however large the repeat counts or the neighbourhoods
// are.  Polls fall between steps: a cancelled run leaves every step done
// or not begun.
class Run {
 public:
  Run(const Program& program, Register& reg, RandomSource& random, RunRecord record, bool reference,
      CancelCheck* cancel)
      : program_(program),
        reg_(reg),
        random_(random),
        record_(record),
        reference_(reference),
        meter_(cancel) {}

  void block(std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const Instruction& instruction = program_.instructions[i];
      if (instruction.code == Opcode::repeat) {
        for (std::uint64_t r = 0; r < instruction.count; ++r) {
          meter_.count(1);
          block(i + 1, i + 1 + instruction.body);
        }
        i += instruction.body;
      } else {
        meter_.count(std::uint64_t{1} + instruction.target_count);
        line_ = instruction.line;
        step(instruction);
      }
    }
  }

  // The line of the instruction running (or last run).
  std::uint64_t line() const { return line_; }

  void finish() const {
    if (written_ != record_.measurements.size() ||
        (!record_.detectors.empty() && detectors_written_ != record_.detectors.size())) {
      fail("a run wrote a record of another length than its program counted");
    }
  }

 private:
  std::span<const Target> targets(const Instruction& instruction) const {
    return program_.targets_of(instruction);
  }

  std::uint8_t looked_back(Target target) const { return record_.measurements[written_ - value_of(target)]; }

  void pauli(Qubit q, Vop p) { apply_to_vop(reg_[q], p); }

  // Counts the work of a graph update on q, before it runs.  Short lists
  // are covered by the unit of their target (at most kShortList^2 pairs),
  // which keeps the common gate on a sparse graph free of the meter.
  void touch(Qubit q) {
    const std::uint64_t length = reg_[q].neighbors.size();
    if (length > kShortList) [[unlikely]]
      meter_.count(length * length);
  }
  // The same for the two qubits of a gate, with one test for both (their
  // bitwise or exceeds the bound whenever either does, and now and then
  // when neither does: counting more only polls a little sooner).
  void touch(Qubit a, Qubit b) {
    const std::uint64_t la = reg_[a].neighbors.size(), lb = reg_[b].neighbors.size();
    if ((la | lb) > kShortList) [[unlikely]]
      meter_.count(la * la + lb * lb);
  }
  static constexpr std::uint64_t kShortList = 16;

  // Whether a channel fires: never in a reference run, which draws nothing.
  bool channel_fires(Threshold threshold) { return !reference_ && fires(random_, threshold); }

  std::uint8_t measured(Qubit q, Axis axis) {
    touch(q);
    if (reference_) return measure_with_outcome(reg_, q, axis, 0).result;
    return measure(reg_, q, axis, random_).result;
  }

  void record(std::uint8_t bit, Threshold flip) {
    if (channel_fires(flip)) bit ^= 1;
    record_.measurements[written_++] = bit;
  }

  // The product starting at targets[at] (a header and its factors), read
  // into factors_; returns the index after it and whether it is negated.
  std::size_t read_product(std::span<const Target> list, std::size_t at, bool& negative) {
    const Target header = list[at];
    const std::size_t count = value_of(header);
    negative = is_inverted(header);
    factors_.clear();
    for (std::size_t k = 1; k <= count; ++k) {
      touch(value_of(list[at + k]));
      factors_.push_back({value_of(list[at + k]), pauli_of(list[at + k])});
    }
    return at + 1 + count;
  }

  // The Pauli targets of a line (factors without a header), into factors_.
  void read_paulis(std::span<const Target> list) {
    factors_.clear();
    for (const Target t : list) {
      if (is_pauli(t)) factors_.push_back({value_of(t), pauli_of(t)});
    }
  }

  void apply_factors() {
    for (const PauliFactor& f : factors_) pauli(f.qubit, pauli_vop(f.axis));
  }

  // The controlled gates, where a record bit may stand for a control.
  void controlled(const GateSteps& gate, std::span<const Target> list) {
    const ControlLetters letters = gate.letters();
    for (std::size_t i = 0; i < list.size(); i += 2) {
      const Target a = list[i], b = list[i + 1];
      if (is_record(a)) [[unlikely]] {
        if (looked_back(a) != 0) pauli(value_of(b), applied_by(letters.second));
      } else if (is_record(b)) [[unlikely]] {
        if (looked_back(b) != 0) pauli(value_of(a), applied_by(letters.first));
      } else {
        touch(a, b);
        apply_controlled(reg_, letters, a, b);
      }
    }
  }

  void two_qubit(const Instruction& instruction) {
    const GateSteps& gate = gate_steps(static_cast<TwoQubitGate>(instruction.detail));
    const auto list = targets(instruction);
    if (gate.is_controlled()) return controlled(gate, list);
    for (std::size_t i = 0; i < list.size(); i += 2) {
      touch(list[i], list[i + 1]);
      run_gate_steps(reg_, gate, list[i], list[i + 1]);
    }
  }

  void measure_products(const Instruction& instruction) {
    const auto list = targets(instruction);
    const Threshold flip = program_.flip_of(instruction);
    for (std::size_t at = 0; at < list.size();) {
      bool negative = false;
      at = read_product(list, at, negative);
      const Measurement m = reference_ ? measure_product_with_outcome(reg_, factors_, negative, 0)
                                       : measure_product(reg_, factors_, negative, random_);
      record(m.result, flip);
    }
  }

  void rotate_products(const Instruction& instruction) {
    const auto list = targets(instruction);
    for (std::size_t at = 0; at < list.size();) {
      bool negative = false;
      at = read_product(list, at, negative);
      rotate_product(reg_, factors_, negative, instruction.detail != 0);
    }
  }

  // E starts a chain; an ELSE fires only while no earlier member has.
  void correlated_error(const Instruction& instruction) {
    if (instruction.detail != 0 && chain_fired_) return;
    const bool fired = channel_fires(program_.thresholds_of(instruction)[0]);
    chain_fired_ = fired || (instruction.detail != 0 && chain_fired_);
    if (!fired) return;
    read_paulis(targets(instruction));
    apply_factors();
  }

  // The index of the first cumulative threshold a word falls below, or
  // thresholds.size() when it falls below none (or the channel draws
  // nothing: it cannot fire).
  std::size_t disjoint_choice(std::span<const Threshold> cumulative) {
    if (reference_ || cumulative.back() == 0) return cumulative.size();
    const std::uint32_t word = random_.next_word();
    std::size_t k = 0;
    while (k < cumulative.size() && word >= cumulative[k]) ++k;
    return k;
  }

  void heralded(const Instruction& instruction) {
    const auto t = program_.thresholds_of(instruction);
    for (const Target target : targets(instruction)) {
      const Qubit q = value_of(target);
      std::uint8_t herald = 0;
      if (instruction.code == Opcode::heralded_erase) {
        if (channel_fires(t[0])) {
          herald = 1;
          const std::uint32_t which = uniform_in(random_, 0, 4);  // I, X, Y, Z
          if (which != 0) pauli(q, static_cast<Vop>(which));
        }
      } else {
        const std::size_t k = disjoint_choice(t);  // herald with I, X, Y or Z
        if (k < t.size()) {
          herald = 1;
          if (k != 0) pauli(q, static_cast<Vop>(k));
        }
      }
      record_.measurements[written_++] = herald;
    }
  }

  std::uint8_t parity(const Instruction& instruction) const {
    std::uint8_t bit = 0;
    for (const Target t : targets(instruction)) {
      if (is_record(t)) bit ^= looked_back(t);
    }
    return bit;
  }

  // The value of the Pauli targets of an observable line, as a bit.
  std::uint8_t pauli_value(const Instruction& instruction) {
    read_paulis(targets(instruction));
    if (factors_.empty()) return 0;
    const int value = expectation(reg_, factors_, false);
    if (value == 0) {
      throw InvalidInput("line " + std::to_string(instruction.line) + ": OBSERVABLE_INCLUDE(" +
                         std::to_string(instruction.count) +
                         ") includes a Pauli product whose value the state does not fix here, so a "
                         "run on the register has no value for it");
    }
    return value < 0 ? 1 : 0;
  }

  void step(const Instruction& instruction) {
    const auto axis = static_cast<Axis>(instruction.detail);
    switch (instruction.code) {
      case Opcode::single_qubit:
        for (const Target q : targets(instruction)) pauli(q, instruction.detail);
        return;
      case Opcode::two_qubit: return two_qubit(instruction);
      case Opcode::measure: {
        const Threshold flip = program_.flip_of(instruction);
        for (const Target t : targets(instruction)) {
          record(measured(value_of(t), axis) ^ (is_inverted(t) ? 1 : 0), flip);
        }
        return;
      }
      case Opcode::measure_reset: {
        const Threshold flip = program_.flip_of(instruction);
        for (const Target t : targets(instruction)) {
          const Qubit q = value_of(t);
          const std::uint8_t result = measured(q, axis);
          correct_to_plus(reg_, q, axis, result);
          record(result ^ (is_inverted(t) ? 1 : 0), flip);
        }
        return;
      }
      case Opcode::reset:
        for (const Target q : targets(instruction)) correct_to_plus(reg_, q, axis, measured(q, axis));
        return;
      case Opcode::measure_product: return measure_products(instruction);
      case Opcode::rotate_product: return rotate_products(instruction);
      case Opcode::pad: {
        const Threshold flip = program_.flip_of(instruction);
        for (const Target bit : targets(instruction)) record(static_cast<std::uint8_t>(bit), flip);
        return;
      }
      case Opcode::pauli_error: {
        if (reference_) return;
        const Threshold p = program_.thresholds_of(instruction)[0];
        for (const Target q : targets(instruction)) pauli_error(reg_, q, axis, p, random_);
        return;
      }
      case Opcode::depolarize1: {
        if (reference_) return;
        const Threshold p = program_.thresholds_of(instruction)[0];
        for (const Target q : targets(instruction)) depolarize1(reg_, q, p, random_);
        return;
      }
      case Opcode::depolarize2: {
        if (reference_) return;
        const Threshold p = program_.thresholds_of(instruction)[0];
        const auto list = targets(instruction);
        for (std::size_t i = 0; i < list.size(); i += 2) depolarize2(reg_, list[i], list[i + 1], p, random_);
        return;
      }
      case Opcode::pauli_channel_1: {
        const auto t = program_.thresholds_of(instruction);
        for (const Target q : targets(instruction)) {
          const std::size_t k = disjoint_choice(t);  // X, Y, Z
          if (k < t.size()) pauli(q, static_cast<Vop>(k + 1));
        }
        return;
      }
      case Opcode::pauli_channel_2: {
        const auto t = program_.thresholds_of(instruction);
        const auto list = targets(instruction);
        for (std::size_t i = 0; i < list.size(); i += 2) {
          const std::size_t k = disjoint_choice(t);
          if (k == t.size()) continue;
          // 1..15 as two base-4 digits, the first qubit's first: 0 = I,
          // 1 = X, 2 = Y, 3 = Z (the format's order IX, IY, ..., ZZ).
          const std::size_t pair = k + 1;
          if (pair / 4 != 0) pauli(list[i], static_cast<Vop>(pair / 4));
          if (pair % 4 != 0) pauli(list[i + 1], static_cast<Vop>(pair % 4));
        }
        return;
      }
      case Opcode::correlated_error: return correlated_error(instruction);
      case Opcode::heralded_erase:
      case Opcode::heralded_pauli_channel_1: return heralded(instruction);
      case Opcode::detector:
        if (!record_.detectors.empty()) record_.detectors[detectors_written_] = parity(instruction);
        ++detectors_written_;
        return;
      case Opcode::observable_include:
        if (!record_.observables.empty()) {
          record_.observables[instruction.count] ^= parity(instruction) ^ pauli_value(instruction);
        }
        return;
      case Opcode::repeat: break;
    }
    fail("unknown opcode in a program");
  }

  const Program& program_;
  Register& reg_;
  RandomSource& random_;
  RunRecord record_;
  bool reference_;
  WorkMeter meter_;
  bool chain_fired_ = false;
  std::uint64_t line_ = 0;
  std::size_t written_ = 0;
  std::size_t detectors_written_ = 0;
  std::vector<PauliFactor> factors_;
};

void run(const Program& program, Register& reg, RandomSource& random, RunRecord record, bool reference,
         CancelCheck* cancel) {
  if (record.measurements.size() != program.measurement_count ||
      (!record.detectors.empty() && record.detectors.size() != program.detector_count) ||
      (!record.observables.empty() && record.observables.size() != program.observable_count)) {
    fail("run record sized differently from its program");
  }
  std::fill(record.observables.begin(), record.observables.end(), std::uint8_t{0});
  Run run(program, reg, random, record, reference, cancel);
  try {
    run.block(0, program.instructions.size());
  } catch (const OutOfMemory&) {
    throw;
  } catch (const std::bad_alloc&) {
    // The graph outgrew memory: the register stays valid, holding the
    // state after the steps that ran.
    throw OutOfMemory("line " + std::to_string(run.line()) +
                      ": could not allocate room in the register's neighbour lists");
  }
  run.finish();
}

}  // namespace

void check_fits(const Program& program, const Register& reg) {
  if (program.qubit_count <= reg.size()) return;
  throw InvalidInput("line " + std::to_string(program.largest_qubit_at.line) + ", column " +
                     std::to_string(program.largest_qubit_at.column) + ": qubit " +
                     std::to_string(program.qubit_count - 1) + " is outside the register of " +
                     std::to_string(reg.size()) + " qubits");
}

void run_program(const Program& program, Register& reg, RandomSource& random, RunRecord record,
                 CancelCheck* cancel) {
  run(program, reg, random, record, false, cancel);
}

void run_reference(const Program& program, Register& reg, RunRecord record, CancelCheck* cancel) {
  NoDraws no_draws;
  run(program, reg, no_draws, record, true, cancel);
}

}  // namespace ordavine::circuit
