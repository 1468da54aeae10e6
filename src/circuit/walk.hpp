// The one walk over a compiled program, which both runners take: the
// register runner (one shot on a graph state) and the frame sampler (many
// shots as bit rows).  REPEAT blocks run their bodies, and every other
// instruction goes to the visitor's member for its opcode, so a runner that
// lacks one fails to compile (the ProgramVisitor concept names them all).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "circuit/program.hpp"

namespace ordavine::circuit {

// An instruction as the walk hands it over: where it stands in the
// program (runners keep per-instruction data by this index) and its
// targets.
struct Step {
  std::size_t index;
  const Instruction& instruction;
  std::span<const Target> targets;
};

template <class V>
concept ProgramVisitor = requires(V& v, const Step& s) {
  v.on_repetition();  // before each run of a REPEAT body
  v.on_step(s);       // before each instruction's own member
  v.on_single_qubit(s);
  v.on_two_qubit(s);
  v.on_measure(s);
  v.on_reset(s);
  v.on_measure_reset(s);
  v.on_measure_product(s);
  v.on_rotate_product(s);
  v.on_pad(s);
  v.on_pauli_error(s);
  v.on_depolarize1(s);
  v.on_depolarize2(s);
  v.on_pauli_channel_1(s);
  v.on_pauli_channel_2(s);
  v.on_correlated_error(s);
  v.on_heralded_erase(s);
  v.on_heralded_pauli_channel_1(s);
  v.on_detector(s);
  v.on_observable_include(s);
};

namespace walk_detail {

template <ProgramVisitor V>
void walk_range(const Program& program, std::size_t begin, std::size_t end, V& visitor) {
  for (std::size_t i = begin; i < end; ++i) {
    const Instruction& in = program.instructions[i];
    if (in.code == Opcode::repeat) {
      for (std::uint64_t r = 0; r < in.repetitions; ++r) {
        visitor.on_repetition();
        walk_range(program, i + 1, i + 1 + in.body, visitor);
      }
      i += in.body;
      continue;
    }
    const Step step{i, in, program.targets_of(in)};
    visitor.on_step(step);
    switch (in.code) {
      case Opcode::single_qubit: visitor.on_single_qubit(step); break;
      case Opcode::two_qubit: visitor.on_two_qubit(step); break;
      case Opcode::measure: visitor.on_measure(step); break;
      case Opcode::reset: visitor.on_reset(step); break;
      case Opcode::measure_reset: visitor.on_measure_reset(step); break;
      case Opcode::measure_product: visitor.on_measure_product(step); break;
      case Opcode::rotate_product: visitor.on_rotate_product(step); break;
      case Opcode::pad: visitor.on_pad(step); break;
      case Opcode::pauli_error: visitor.on_pauli_error(step); break;
      case Opcode::depolarize1: visitor.on_depolarize1(step); break;
      case Opcode::depolarize2: visitor.on_depolarize2(step); break;
      case Opcode::pauli_channel_1: visitor.on_pauli_channel_1(step); break;
      case Opcode::pauli_channel_2: visitor.on_pauli_channel_2(step); break;
      case Opcode::correlated_error: visitor.on_correlated_error(step); break;
      case Opcode::heralded_erase: visitor.on_heralded_erase(step); break;
      case Opcode::heralded_pauli_channel_1: visitor.on_heralded_pauli_channel_1(step); break;
      case Opcode::detector: visitor.on_detector(step); break;
      case Opcode::observable_include: visitor.on_observable_include(step); break;
      case Opcode::repeat: break;  // taken above
    }
  }
}

}  // namespace walk_detail

// Runs `program` through `visitor`, repetitions included, in program order.
template <ProgramVisitor V>
void walk(const Program& program, V& visitor) {
  walk_detail::walk_range(program, 0, program.instructions.size(), visitor);
}

}  // namespace ordavine::circuit
