#include "frames/sampler_plan.hpp"

#include <algorithm>
#include <bit>
#include <map>

namespace ordavine::frames {

using circuit::Instruction;
using circuit::is_record;
using circuit::Opcode;
using circuit::Program;
using circuit::Target;
using circuit::value_of;

SamplerPlan make_plan(const Program& program, std::size_t flush_rows) {
  SamplerPlan plan;
  const std::size_t n = program.instructions.size();
  plan.rate.resize(n);
  plan.choices.assign(n, 0);
  plan.slot.assign(n, 0);
  plan.feeds_forward.assign(n, false);
  std::map<std::uint64_t, std::uint32_t> slots;
  for (std::size_t i = 0; i < n; ++i) {
    const Instruction& in = program.instructions[i];
    for (const Target t : program.targets_of(in)) {
      if (in.code != Opcode::pad && is_record(t)) {
        plan.lookback = std::max<std::uint64_t>(plan.lookback, value_of(t));
        if (in.code == Opcode::two_qubit) plan.feeds_forward[i] = true;
      }
    }
    const auto p = program.probabilities_of(in);
    switch (in.code) {
      case Opcode::measure:
      case Opcode::measure_reset:
      case Opcode::measure_product:
      case Opcode::pad:
      case Opcode::pauli_error:
      case Opcode::depolarize1:
      case Opcode::depolarize2:
      case Opcode::correlated_error:
      case Opcode::heralded_erase: plan.rate[i] = FiringRate::of(p.empty() ? 0.0 : p[0]); break;
      case Opcode::pauli_channel_1:
      case Opcode::pauli_channel_2:
      case Opcode::heralded_pauli_channel_1: {
        double total = 0.0;
        for (const double q : p) total += q;
        plan.rate[i] = FiringRate::of(total);
        plan.choices[i] = static_cast<std::uint32_t>(plan.cumulative.size());
        double running = 0.0;
        for (const double q : p) {
          running += q;
          plan.cumulative.push_back(total > 0.0 ? running / total : 0.0);
        }
        break;
      }
      case Opcode::observable_include: slots.emplace(in.observable, 0); break;
      case Opcode::detector:
        plan.widest_detector = std::max<std::size_t>(plan.widest_detector, in.target_count);
        break;
      default: break;
    }
  }
  std::uint32_t next = 0;
  for (auto& [index, slot] : slots) {
    slot = next++;
    plan.observables.push_back(index);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (program.instructions[i].code == Opcode::observable_include) {
      plan.slot[i] = slots.at(program.instructions[i].observable);
    }
  }
  // The ring holds the longest look-back and the rows not yet written out:
  // a flush of them, or the whole record when it is shorter.
  const std::uint64_t pending =
      std::min<std::uint64_t>(flush_rows, std::max<std::uint64_t>(program.measurement_count, 1));
  plan.ring_rows = std::bit_ceil(std::max<std::uint64_t>(plan.lookback + 1, pending));
  return plan;
}

}  // namespace ordavine::frames
