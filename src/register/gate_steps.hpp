// A two-qubit gate written as the register steps that apply it: single-qubit
// gates on either operand and the controlled gates of the <p>C<q> family,
// which are the register's entangling operations.  A circuit instruction and
// a register method that name the same gate run the same steps, so they
// leave the same graph, list order and VOPs; the frame sampler reads the
// same steps to find the gate's action on Pauli frames.
#pragma once

#include <array>
#include <cstdint>

#include "clifford/tables.hpp"
#include "register/register.hpp"

namespace ordavine {

// The letters of <p>C<q>: q is applied to the second operand when the
// first is in the -1 eigenstate of p.
struct ControlLetters {
  Axis first, second;
  friend constexpr bool operator==(ControlLetters, ControlLetters) = default;
};

struct GateStep {
  enum class Op : std::uint8_t {
    vop_on_first,         // multiply the first operand's VOP by `vop`
    vop_on_second,        // the same on the second operand
    controlled,           // <letters> with the operands in order
    controlled_reversed,  // <letters> with the second operand first
  };
  Op op;
  Vop vop = vop::identity;
  ControlLetters letters{Axis::z, Axis::z};
};

// At most this many steps make up a gate (CZSWAP: a CZ and three CX).
inline constexpr std::size_t kMaxGateSteps = 8;

struct GateSteps {
  std::array<GateStep, kMaxGateSteps> steps{};
  std::uint8_t count = 0;

  constexpr GateSteps then_step(GateStep step) const {
    GateSteps next = *this;
    next.steps[next.count++] = step;
    return next;
  }
  constexpr GateSteps then(const GateSteps& more) const {
    GateSteps next = *this;
    for (std::uint8_t i = 0; i < more.count; ++i) next.steps[next.count++] = more.steps[i];
    return next;
  }
  // The gate is one controlled gate on its operands in order: what a
  // record bit may stand in for (where the gate reads Z).
  constexpr bool is_controlled() const { return count == 1 && steps[0].op == GateStep::Op::controlled; }
  constexpr ControlLetters letters() const { return steps[0].letters; }
};

namespace steps {

constexpr GateSteps none() { return {}; }
constexpr GateSteps on_first(Vop v) { return none().then_step(GateStep{GateStep::Op::vop_on_first, v}); }
constexpr GateSteps on_second(Vop v) { return none().then_step(GateStep{GateStep::Op::vop_on_second, v}); }
constexpr GateSteps on_both(Vop v) { return on_first(v).then(on_second(v)); }
constexpr GateSteps controlled(Axis p, Axis q) {
  return none().then_step(GateStep{GateStep::Op::controlled, vop::identity, {p, q}});
}
constexpr GateSteps controlled_reversed(Axis p, Axis q) {
  return none().then_step(GateStep{GateStep::Op::controlled_reversed, vop::identity, {p, q}});
}
constexpr GateSteps cz() { return controlled(Axis::z, Axis::z); }
constexpr GateSteps cx() { return controlled(Axis::z, Axis::x); }
constexpr GateSteps cx_reversed() { return controlled_reversed(Axis::z, Axis::x); }
constexpr GateSteps swap() { return cx().then(cx_reversed()).then(cx()); }

}  // namespace steps

// Checks both operands (the first, then the second) and refuses equal ones,
// then runs the steps.  A step that runs out of memory leaves the state of
// the steps before it; those are undone in reverse (each is its own
// inverse, or a VOP undone by its adjoint) before the failure passes on, so
// a failed gate leaves the state it found, possibly on another graph.
void apply_gate_steps(Register& reg, const GateSteps& gate, Qubit first, Qubit second);

// The steps without the checks, for callers that checked the operands.
void run_gate_steps(Register& reg, const GateSteps& gate, Qubit first, Qubit second);

// The register's controlled gate with these letters (cz, cx, ..., ycz), on
// (control, target): each checks its operands itself.
void apply_controlled(Register& reg, ControlLetters letters, Qubit control, Qubit target);

}  // namespace ordavine
