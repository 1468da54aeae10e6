// What each Clifford gate does to a Pauli frame.  A frame is a Pauli
// operator up to sign, so conjugation by a Clifford is a linear map over
// GF(2) of its X and Z bits, signs dropped.  Single-qubit gates are 2x2
// maps, read off the VOP tables; two-qubit gates are 4x4 maps, composed at
// compile time from the register steps their instruction records declare
// (the steps the register runner takes).
//
// A map is stored by columns: column j is the image of input bit j, a mask
// of output bits.  One qubit: bit 0 is X, bit 1 is Z.  Two qubits: bit 0
// X of the first, bit 1 Z of the first, bit 2 X of the second, bit 3 Z of
// the second.  So a Y on the first qubit is 0b0011.
#pragma once

#include <array>
#include <cstdint>

#include "circuit/instructions.hpp"
#include "circuit/program.hpp"
#include "clifford/tables.hpp"

namespace ordavine::frames {

// Columns packed four bits each: column j in bits 4j .. 4j+3.
using Map1 = std::uint8_t;   // two columns of two bits, in nibbles
using Map2 = std::uint16_t;  // four columns of four bits

constexpr unsigned column(unsigned map, unsigned j) { return (map >> (4 * j)) & 0xF; }

constexpr Map1 make_map1(unsigned x_image, unsigned z_image) {
  return static_cast<Map1>(x_image | z_image << 4);
}
constexpr Map2 make_map2(unsigned c0, unsigned c1, unsigned c2, unsigned c3) {
  return static_cast<Map2>(c0 | c1 << 4 | c2 << 8 | c3 << 12);
}

// The X and Z bits of a Pauli axis: X = 01, Y = 11, Z = 10.
constexpr unsigned axis_bits(Axis axis) {
  return axis == Axis::x ? 0b01u : axis == Axis::y ? 0b11u : axis == Axis::z ? 0b10u : 0u;
}

// Whether two one-qubit Paulis, as X/Z bits, anticommute.
constexpr bool anticommute(unsigned a, unsigned b) {
  return (((a & 1) & (b >> 1)) ^ ((a >> 1) & (b & 1))) != 0;
}

// The image of a vector of input bits under a map of `n` columns.
constexpr unsigned apply_map(unsigned map, unsigned n, unsigned input) {
  unsigned out = 0;
  for (unsigned j = 0; j < n; ++j) {
    if ((input >> j) & 1) out ^= column(map, j);
  }
  return out;
}

// `second` after `first`.
constexpr Map2 compose(Map2 second, Map2 first) {
  return make_map2(apply_map(second, 4, column(first, 0)), apply_map(second, 4, column(first, 1)),
                   apply_map(second, 4, column(first, 2)), apply_map(second, 4, column(first, 3)));
}

// The frame map of a VOP: the axes it carries X and Z to.
constexpr Map1 vop_map(Vop v) {
  return make_map1(axis_bits(conj_axis(v, Axis::x)), axis_bits(conj_axis(v, Axis::z)));
}

// A single-qubit map acting on the first or the second qubit of a pair.
constexpr Map2 on_first(Map1 m) { return make_map2(column(m, 0), column(m, 1), 0b0100, 0b1000); }
constexpr Map2 on_second(Map1 m) { return make_map2(0b0001, 0b0010, column(m, 0) << 2, column(m, 1) << 2); }

// <p>C<q>: |+p><+p| (x) I + |-p><-p| (x) q.  A Pauli on the first qubit
// that anticommutes with p picks up q on the second; one on the second
// that anticommutes with q picks up p on the first.
constexpr Map2 controlled_map(Axis p, Axis q) {
  const unsigned pb = axis_bits(p), qb = axis_bits(q);
  const auto first = [&](unsigned bits) { return bits | (anticommute(bits, pb) ? qb << 2 : 0u); };
  const auto second = [&](unsigned bits) { return bits << 2 | (anticommute(bits, qb) ? pb : 0u); };
  return make_map2(first(0b01), first(0b10), second(0b01), second(0b10));
}

inline constexpr Map2 kSwapMap = make_map2(0b0100, 0b1000, 0b0001, 0b0010);

// A map with its two qubits exchanged: the same gate on (second, first).
constexpr Map2 reversed(Map2 m) { return compose(kSwapMap, compose(m, kSwapMap)); }

// The map of one register step of a two-qubit gate.
constexpr Map2 step_map(const GateStep& step) {
  switch (step.op) {
    case GateStep::Op::vop_on_first: return on_first(vop_map(step.vop));
    case GateStep::Op::vop_on_second: return on_second(vop_map(step.vop));
    case GateStep::Op::controlled: return controlled_map(step.letters.first, step.letters.second);
    case GateStep::Op::controlled_reversed:
      return reversed(controlled_map(step.letters.first, step.letters.second));
  }
  return 0;
}

// A two-qubit gate's map: its register steps composed in order, so the
// frames follow exactly what the register runner does.
constexpr Map2 two_qubit_map(circuit::TwoQubitGate gate) {
  const GateSteps& steps = circuit::gate_steps(gate);
  Map2 map = make_map2(0b0001, 0b0010, 0b0100, 0b1000);
  for (std::uint8_t i = 0; i < steps.count; ++i) map = compose(step_map(steps.steps[i]), map);
  return map;
}

// The Pauli (X/Z bits) each controlled gate applies to one operand when
// the other is a record bit that reads 1: <p>C<q> applies q to the second
// operand when the first is a record bit, p to the first when the second is.
struct FeedForward {
  unsigned on_first, on_second;
};
constexpr FeedForward feed_forward(circuit::TwoQubitGate gate) {
  const ControlLetters letters = circuit::gate_steps(gate).letters();
  return {axis_bits(letters.first), axis_bits(letters.second)};
}

namespace detail {

// Every two-qubit map is invertible (a Clifford's map is symplectic).
constexpr bool symplectic(Map2 m) {
  const auto form = [](unsigned a, unsigned b) {
    return anticommute(a & 3, b & 3) != anticommute(a >> 2, b >> 2);
  };
  for (unsigned a = 0; a < 4; ++a) {
    for (unsigned b = 0; b < 4; ++b) {
      if (form(column(m, a), column(m, b)) != form(1u << a, 1u << b)) return false;
    }
  }
  return true;
}

constexpr bool every_map_symplectic() {
  for (unsigned g = 0; g < circuit::kTwoQubitGates; ++g) {
    if (!symplectic(two_qubit_map(static_cast<circuit::TwoQubitGate>(g)))) return false;
  }
  return true;
}

}  // namespace detail

static_assert(detail::every_map_symplectic(), "a two-qubit gate's frame map must preserve commutation");
static_assert(two_qubit_map(circuit::TwoQubitGate::cx) == make_map2(0b0101, 0b0010, 0b0100, 0b1010),
              "CX: X1 -> X1 X2, Z2 -> Z1 Z2");
static_assert(two_qubit_map(circuit::TwoQubitGate::swap) == kSwapMap, "SWAP as three CX is the exchange");
static_assert(vop_map(vop::hadamard) == make_map1(0b10, 0b01), "H swaps X and Z");

}  // namespace ordavine::frames
