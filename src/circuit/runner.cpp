#include "circuit/runner.hpp"

#include <algorithm>
#include <string>

#include "measure/measure.hpp"
#include "measure/pauli_noise.hpp"
#include "register/failure.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine::circuit {
namespace {

using TwoQubitStep = void (*)(Register&, Qubit, Qubit);

// Indexed by TwoQubitGate up to (not including) swap.
constexpr TwoQubitStep kControlled[] = {cz, cx, cy, xcx, xcy, xcz, ycx, ycy, ycz};

// The Pauli each controlled gate applies to its second and its first
// operand when the other is a record bit: the letters <p>C<q> read as
// (apply p to the first, apply q to the second).
struct AppliedPaulis {
  Vop on_first, on_second;
};
constexpr AppliedPaulis kApplied[] = {
    {vop::pauli_z, vop::pauli_z}, {vop::pauli_z, vop::pauli_x}, {vop::pauli_z, vop::pauli_y},
    {vop::pauli_x, vop::pauli_x}, {vop::pauli_x, vop::pauli_y}, {vop::pauli_x, vop::pauli_z},
    {vop::pauli_y, vop::pauli_x}, {vop::pauli_y, vop::pauli_y}, {vop::pauli_y, vop::pauli_z},
};

class Run {
 public:
  Run(const Program& program, Register& reg, RandomSource& random, RunRecord record)
      : program_(program), reg_(reg), random_(random), record_(record) {}

  void block(std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const Instruction& instruction = program_.instructions[i];
      if (instruction.code == Opcode::repeat) {
        for (std::uint64_t r = 0; r < instruction.count; ++r) block(i + 1, i + 1 + instruction.body);
        i += instruction.body;
      } else {
        step(instruction);
      }
    }
  }

  void finish() const {
    if (written_ != record_.measurements.size() ||
        (!record_.detectors.empty() && detectors_written_ != record_.detectors.size())) {
      fail("a run wrote a record of another length than its program counted");
    }
  }

 private:
  std::span<const Target> targets(const Instruction& instruction) const {
    return std::span<const Target>(program_.targets).subspan(instruction.first_target,
                                                             instruction.target_count);
  }

  std::uint8_t looked_back(Target target) const {
    return record_.measurements[written_ - value_of(target)];
  }

  void pauli(Qubit q, Vop p) { apply_to_vop(reg_[q], p); }

  std::uint8_t measured(Qubit q, Axis axis) { return measure(reg_, q, axis, random_).result; }

  void reset_after(Qubit q, Axis axis, std::uint8_t result) {
    if (result != 0) pauli(q, axis == Axis::z ? vop::pauli_x : vop::pauli_z);
  }

  void record(std::uint8_t bit, Target target, Threshold flip) {
    bit ^= is_inverted(target) ? 1 : 0;
    if (fires(random_, flip)) bit ^= 1;
    record_.measurements[written_++] = bit;
  }

  void two_qubit(const Instruction& instruction) {
    const auto gate = static_cast<TwoQubitGate>(instruction.detail);
    const auto list = targets(instruction);
    for (std::size_t i = 0; i < list.size(); i += 2) {
      const Target a = list[i], b = list[i + 1];
      if (gate < TwoQubitGate::swap) {
        const AppliedPaulis applied = kApplied[instruction.detail];
        if (is_record(a)) {
          if (looked_back(a) != 0) pauli(value_of(b), applied.on_second);
        } else if (is_record(b)) {
          if (looked_back(b) != 0) pauli(value_of(a), applied.on_first);
        } else {
          kControlled[instruction.detail](reg_, a, b);
        }
        continue;
      }
      if (gate != TwoQubitGate::swap) {
        const Vop phase = gate == TwoQubitGate::iswap ? vop::s : vop::s_dagger;
        pauli(a, phase);
        pauli(b, phase);
        cz(reg_, a, b);
      }
      cx(reg_, a, b);
      cx(reg_, b, a);
      cx(reg_, a, b);
    }
  }

  std::uint8_t parity(const Instruction& instruction) const {
    std::uint8_t bit = 0;
    for (const Target t : targets(instruction)) bit ^= looked_back(t);
    return bit;
  }

  void step(const Instruction& instruction) {
    const auto axis = static_cast<Axis>(instruction.detail);
    const Threshold p = instruction.threshold[0];
    switch (instruction.code) {
      case Opcode::single_qubit:
        for (const Target q : targets(instruction)) pauli(q, instruction.detail);
        return;
      case Opcode::two_qubit:
        return two_qubit(instruction);
      case Opcode::measure:
        for (const Target t : targets(instruction)) record(measured(value_of(t), axis), t, p);
        return;
      case Opcode::measure_reset:
        for (const Target t : targets(instruction)) {
          const Qubit q = value_of(t);
          const std::uint8_t result = measured(q, axis);
          reset_after(q, axis, result);
          record(result, t, p);
        }
        return;
      case Opcode::reset:
        for (const Target q : targets(instruction)) reset_after(q, axis, measured(q, axis));
        return;
      case Opcode::pauli_error:
        for (const Target q : targets(instruction)) pauli_error(reg_, q, axis, p, random_);
        return;
      case Opcode::depolarize1:
        for (const Target q : targets(instruction)) depolarize1(reg_, q, p, random_);
        return;
      case Opcode::depolarize2: {
        const auto list = targets(instruction);
        for (std::size_t i = 0; i < list.size(); i += 2) depolarize2(reg_, list[i], list[i + 1], p, random_);
        return;
      }
      case Opcode::pauli_channel_1: {
        const auto& t = instruction.threshold;
        for (const Target q : targets(instruction)) {
          const std::uint32_t word = random_.next_word();
          if (word < t[0]) {
            pauli(q, vop::pauli_x);
          } else if (word < t[1]) {
            pauli(q, vop::pauli_y);
          } else if (word < t[2]) {
            pauli(q, vop::pauli_z);
          }
        }
        return;
      }
      case Opcode::detector:
        if (!record_.detectors.empty()) record_.detectors[detectors_written_] = parity(instruction);
        ++detectors_written_;
        return;
      case Opcode::observable_include:
        if (!record_.observables.empty()) record_.observables[instruction.count] ^= parity(instruction);
        return;
      case Opcode::repeat:
        break;
    }
    fail("unknown opcode in a program");
  }

  const Program& program_;
  Register& reg_;
  RandomSource& random_;
  RunRecord record_;
  std::size_t written_ = 0;
  std::size_t detectors_written_ = 0;
};

}  // namespace

void check_fits(const Program& program, const Register& reg) {
  if (program.qubit_count <= reg.size()) return;
  throw InvalidInput("line " + std::to_string(program.largest_qubit_at.line) + ", column " +
                     std::to_string(program.largest_qubit_at.column) + ": qubit " +
                     std::to_string(program.qubit_count - 1) + " is outside the register of " +
                     std::to_string(reg.size()) + " qubits");
}

void run_program(const Program& program, Register& reg, RandomSource& random, RunRecord record) {
  if (record.measurements.size() != program.measurement_count ||
      (!record.detectors.empty() && record.detectors.size() != program.detector_count) ||
      (!record.observables.empty() && record.observables.size() != program.observable_count)) {
    fail("run record sized differently from its program");
  }
  std::fill(record.observables.begin(), record.observables.end(), std::uint8_t{0});
  Run run(program, reg, random, record);
  run.block(0, program.instructions.size());
  run.finish();
}

}  // namespace ordavine::circuit
