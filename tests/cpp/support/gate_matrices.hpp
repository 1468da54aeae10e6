// The unitaries of the circuit format's two-qubit gates, written from their
// definitions (not from the register steps that apply them), and the Pauli
// pairs in the frame sampler's bit order: bits 0-1 the first qubit's X and
// Z, bits 2-3 the second's.  The first qubit is the high index of a matrix.
#pragma once

#include <complex>

#include "circuit/program.hpp"
#include "support/dense_state.hpp"

namespace ordavine::oracle {

using circuit::TwoQubitGate;

inline Matrix2 pauli_matrix(unsigned bits) {
  switch (bits) {
    case 0b01: return gates::pauli_x();
    case 0b11: return gates::pauli_y();
    case 0b10: return gates::pauli_z();
    default: return gates::identity();
  }
}

inline Matrix4 pauli_pair(unsigned bits) { return kron(pauli_matrix(bits & 3), pauli_matrix(bits >> 2)); }

inline Matrix4 adjoint4(const Matrix4& m) {
  Matrix4 out{};
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) out[c * 4 + r] = std::conj(m[r * 4 + c]);
  return out;
}

inline Matrix4 swap_matrix() {
  Matrix4 m{};
  m[0] = m[6] = m[9] = m[15] = 1.0;
  return m;
}

// (I + sign i P(x)P) / sqrt 2.
inline Matrix4 sqrt_pp(Axis axis, double sign) {
  const Matrix4 pp = kron(gates::pauli(axis), gates::pauli(axis));
  Matrix4 m{};
  for (std::size_t i = 0; i < 16; ++i) m[i] = ((i % 5 == 0) ? 1.0 : 0.0) + sign * kI * pp[i];
  for (auto& e : m) e *= kInvSqrt2;
  return m;
}

// The gate's unitary written from its definition in the circuit format.
inline Matrix4 gate_matrix(TwoQubitGate gate) {
  using G = TwoQubitGate;
  const auto P = [](Axis a) { return gates::pauli(a); };
  const Matrix4 cx = gates::controlled(P(Axis::z), P(Axis::x));
  const Matrix4 cz = gates::controlled_z();
  Matrix4 iswap{};
  iswap[0] = iswap[15] = 1.0;
  iswap[6] = iswap[9] = kI;
  switch (gate) {
    case G::cz: return cz;
    case G::cx: return cx;
    case G::cy: return gates::controlled(P(Axis::z), P(Axis::y));
    case G::xcx: return gates::controlled(P(Axis::x), P(Axis::x));
    case G::xcy: return gates::controlled(P(Axis::x), P(Axis::y));
    case G::xcz: return gates::controlled(P(Axis::x), P(Axis::z));
    case G::ycx: return gates::controlled(P(Axis::y), P(Axis::x));
    case G::ycy: return gates::controlled(P(Axis::y), P(Axis::y));
    case G::ycz: return gates::controlled(P(Axis::y), P(Axis::z));
    case G::swap: return swap_matrix();
    case G::iswap: return iswap;
    case G::iswap_dag: return adjoint4(iswap);
    // SQRT_PP phases the -1 eigenspace of P(x)P by i: (I - i PP) / sqrt 2
    // up to a global phase.
    case G::sqrt_xx: return sqrt_pp(Axis::x, -1);
    case G::sqrt_xx_dag: return sqrt_pp(Axis::x, 1);
    case G::sqrt_yy: return sqrt_pp(Axis::y, -1);
    case G::sqrt_yy_dag: return sqrt_pp(Axis::y, 1);
    case G::sqrt_zz: return sqrt_pp(Axis::z, -1);
    case G::sqrt_zz_dag: return sqrt_pp(Axis::z, 1);
    case G::cxswap: return product(swap_matrix(), cx);  // CX, then SWAP
    case G::swapcx: return product(cx, swap_matrix());  // SWAP, then CX
    case G::czswap: return product(swap_matrix(), cz);
  }
  return {};
}

}  // namespace ordavine::oracle
