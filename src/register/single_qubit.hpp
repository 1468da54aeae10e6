// The six single-qubit gates.  Each multiplies the qubit's VOP on the left
// by the gate's element (the gate acts after everything the qubit has seen);
// the graph is not touched.
#pragma once

#include "register/register.hpp"

namespace ordavine {

// Left multiplication of one VOP, the building block of every gate.
constexpr void apply_to_vop(Node& node, Vop gate) noexcept { node.vop = MULT_TABLE[gate][node.vop]; }

inline void apply_single_qubit_gate(Register& reg, Qubit q, Vop gate,
                                    std::source_location where = std::source_location::current()) {
  apply_to_vop(reg.at(q, where), gate);
}

inline void x(Register& reg, Qubit q) { apply_single_qubit_gate(reg, q, vop::pauli_x); }
inline void y(Register& reg, Qubit q) { apply_single_qubit_gate(reg, q, vop::pauli_y); }
inline void z(Register& reg, Qubit q) { apply_single_qubit_gate(reg, q, vop::pauli_z); }
inline void h(Register& reg, Qubit q) { apply_single_qubit_gate(reg, q, vop::hadamard); }
inline void s(Register& reg, Qubit q) { apply_single_qubit_gate(reg, q, vop::s); }
inline void sdag(Register& reg, Qubit q) { apply_single_qubit_gate(reg, q, vop::s_dagger); }

}  // namespace ordavine
