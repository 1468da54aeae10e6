#include "register/gate_steps.hpp"

#include <string>

#include "failure/failure.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine {
namespace {

using Controlled = void (*)(Register&, Qubit, Qubit);

// Indexed by 3 * first letter + second letter (x = 0, y = 1, z = 2).
constexpr Controlled kControlled[9] = {xcx, xcy, xcz, ycx, ycy, ycz, cx, cy, cz};

constexpr unsigned index_of(ControlLetters letters) {
  return 3 * static_cast<unsigned>(letters.first) + static_cast<unsigned>(letters.second);
}

void run_step(Register& reg, const GateStep& step, Qubit first, Qubit second) {
  switch (step.op) {
    case GateStep::Op::vop_on_first: apply_to_vop(reg[first], step.vop); return;
    case GateStep::Op::vop_on_second: apply_to_vop(reg[second], step.vop); return;
    case GateStep::Op::controlled: apply_controlled(reg, step.letters, first, second); return;
    case GateStep::Op::controlled_reversed: apply_controlled(reg, step.letters, second, first); return;
  }
}

// The inverse of a step: controlled Paulis are their own inverses.
GateStep inverse(GateStep step) {
  if (step.op == GateStep::Op::vop_on_first || step.op == GateStep::Op::vop_on_second) {
    step.vop = ADJOINT_TABLE[step.vop];
  }
  return step;
}

}  // namespace

void apply_controlled(Register& reg, ControlLetters letters, Qubit control, Qubit target) {
  kControlled[index_of(letters)](reg, control, target);
}

void run_gate_steps(Register& reg, const GateSteps& gate, Qubit first, Qubit second) {
  std::uint8_t done = 0;
  try {
    for (; done < gate.count; ++done) run_step(reg, gate.steps[done], first, second);
  } catch (...) {
    // A controlled step that fails leaves the state it found, so undoing
    // the steps before it restores the gate's starting state.  Undoing can
    // need memory too; if that fails the state is lost, an internal failure.
    try {
      while (done > 0) {
        --done;
        run_step(reg, inverse(gate.steps[done]), first, second);
      }
    } catch (...) {
      fail("a two-qubit gate ran out of memory and could not be undone");
    }
    throw;
  }
}

void apply_gate_steps(Register& reg, const GateSteps& gate, Qubit first, Qubit second) {
  reg.check(first);
  reg.check(second);
  if (first == second) {
    fail("control and target must be different qubits, both are " + std::to_string(first));
  }
  run_gate_steps(reg, gate, first, second);
}

}  // namespace ordavine
