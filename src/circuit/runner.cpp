#include "circuit/runner.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "circuit/instructions.hpp"
#include "circuit/walk.hpp"
#include "clifford/pauli_pairs.hpp"
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

  // ---- the walk's members -------------------------------------------------------

  void on_repetition() { meter_.count(1); }

  void on_step(const Step& step) {
    meter_.count(std::uint64_t{1} + step.targets.size());
    line_ = step.instruction.line;
  }

  void on_single_qubit(const Step& step) {
    for (const Target q : step.targets) pauli(q, step.instruction.vop);
  }

  void on_two_qubit(const Step& step) {
    const GateSteps& gate = gate_steps(step.instruction.gate);
    const auto list = step.targets;
    if (gate.is_controlled()) return controlled(gate, list);
    for (std::size_t i = 0; i < list.size(); i += 2) {
      touch(list[i], list[i + 1]);
      run_gate_steps(reg_, gate, list[i], list[i + 1]);
    }
  }

  void on_measure(const Step& step) {
    const Threshold flip = program_.flip_of(step.instruction);
    for (const Target t : step.targets) {
      record(measured(value_of(t), step.instruction.axis) ^ (is_inverted(t) ? 1 : 0), flip);
    }
  }

  void on_measure_reset(const Step& step) {
    const Axis axis = step.instruction.axis;
    const Threshold flip = program_.flip_of(step.instruction);
    for (const Target t : step.targets) {
      const Qubit q = value_of(t);
      const std::uint8_t result = measured(q, axis);
      correct_to_plus(reg_, q, axis, result);
      record(result ^ (is_inverted(t) ? 1 : 0), flip);
    }
  }

  void on_reset(const Step& step) {
    const Axis axis = step.instruction.axis;
    for (const Target q : step.targets) correct_to_plus(reg_, q, axis, measured(q, axis));
  }

  void on_measure_product(const Step& step) {
    const auto list = step.targets;
    const Threshold flip = program_.flip_of(step.instruction);
    for (std::size_t at = 0; at < list.size();) {
      bool negative = false;
      at = read_product(list, at, negative);
      const Measurement m = reference_ ? measure_product_with_outcome(reg_, factors_, negative, 0)
                                       : measure_product(reg_, factors_, negative, random_);
      record(m.result, flip);
    }
  }

  void on_rotate_product(const Step& step) {
    const auto list = step.targets;
    for (std::size_t at = 0; at < list.size();) {
      bool negative = false;
      at = read_product(list, at, negative);
      rotate_product(reg_, factors_, negative, step.instruction.dagger);
    }
  }

  void on_pad(const Step& step) {
    const Threshold flip = program_.flip_of(step.instruction);
    for (const Target bit : step.targets) record(static_cast<std::uint8_t>(bit), flip);
  }

  void on_pauli_error(const Step& step) {
    if (reference_) return;
    const Threshold p = program_.thresholds_of(step.instruction)[0];
    for (const Target q : step.targets) pauli_error(reg_, q, step.instruction.axis, p, random_);
  }

  void on_depolarize1(const Step& step) {
    if (reference_) return;
    const Threshold p = program_.thresholds_of(step.instruction)[0];
    for (const Target q : step.targets) depolarize1(reg_, q, p, random_);
  }

  void on_depolarize2(const Step& step) {
    if (reference_) return;
    const Threshold p = program_.thresholds_of(step.instruction)[0];
    const auto list = step.targets;
    for (std::size_t i = 0; i < list.size(); i += 2) depolarize2(reg_, list[i], list[i + 1], p, random_);
  }

  void on_pauli_channel_1(const Step& step) {
    const auto t = program_.thresholds_of(step.instruction);
    for (const Target q : step.targets) {
      const std::size_t k = disjoint_choice(t);  // X, Y, Z
      if (k < t.size()) pauli(q, static_cast<Vop>(k + 1));
    }
  }

  void on_pauli_channel_2(const Step& step) {
    const auto t = program_.thresholds_of(step.instruction);
    const auto list = step.targets;
    for (std::size_t i = 0; i < list.size(); i += 2) {
      const std::size_t k = disjoint_choice(t);
      if (k == t.size()) continue;
      const PairCode pair = pair_code(static_cast<unsigned>(k + 1));
      if (pair.first != 0) pauli(list[i], static_cast<Vop>(pair.first));
      if (pair.second != 0) pauli(list[i + 1], static_cast<Vop>(pair.second));
    }
  }

  // E starts a chain; an ELSE fires only while no earlier member has.
  void on_correlated_error(const Step& step) {
    const bool is_else = step.instruction.else_branch;
    if (is_else && chain_fired_) return;
    const bool fired = channel_fires(program_.thresholds_of(step.instruction)[0]);
    chain_fired_ = fired || (is_else && chain_fired_);
    if (!fired) return;
    read_paulis(step.targets);
    apply_factors();
  }

  void on_heralded_erase(const Step& step) {
    const Threshold p = program_.thresholds_of(step.instruction)[0];
    for (const Target target : step.targets) {
      std::uint8_t herald = 0;
      if (channel_fires(p)) {
        herald = 1;
        const std::uint32_t which = uniform_in(random_, 0, 4);  // I, X, Y, Z
        if (which != 0) pauli(value_of(target), static_cast<Vop>(which));
      }
      record_.measurements[written_++] = herald;
    }
  }

  void on_heralded_pauli_channel_1(const Step& step) {
    const auto t = program_.thresholds_of(step.instruction);
    for (const Target target : step.targets) {
      const std::size_t k = disjoint_choice(t);  // herald with I, X, Y or Z
      std::uint8_t herald = 0;
      if (k < t.size()) {
        herald = 1;
        if (k != 0) pauli(value_of(target), static_cast<Vop>(k));
      }
      record_.measurements[written_++] = herald;
    }
  }

  void on_detector(const Step& step) {
    if (!record_.detectors.empty()) record_.detectors[detectors_written_] = parity(step.targets);
    ++detectors_written_;
  }

  void on_observable_include(const Step& step) {
    if (record_.observables.empty()) return;
    record_.observables[step.instruction.observable] ^= parity(step.targets) ^ pauli_value(step);
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

  std::uint8_t parity(std::span<const Target> list) const {
    std::uint8_t bit = 0;
    for (const Target t : list) {
      if (is_record(t)) bit ^= looked_back(t);
    }
    return bit;
  }

  // The value of the Pauli targets of an observable line, as a bit.
  std::uint8_t pauli_value(const Step& step) {
    read_paulis(step.targets);
    if (factors_.empty()) return 0;
    const int value = expectation(reg_, factors_, false);
    if (value == 0) {
      throw InvalidInput("line " + std::to_string(step.instruction.line) + ": OBSERVABLE_INCLUDE(" +
                         std::to_string(step.instruction.observable) +
                         ") includes a Pauli product whose value the state does not fix here, so a "
                         "run on the register has no value for it");
    }
    return value < 0 ? 1 : 0;
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
    walk(program, run);
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
