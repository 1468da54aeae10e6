// A dense state-vector oracle for the graph-state register.
//
// Everything here is computed with explicit complex matrices: the Pauli
// matrices, H and S written down from their definitions, and the 24 vertex
// operators typed in as 2x2 matrices (one fixed global phase each).  Nothing
// is read from the register's Clifford tables, so a fault in those tables or
// in the code that uses them shows up as a disagreement with this oracle.
//
// Basis convention: qubit q is bit q of the amplitude index.  Two-qubit
// matrices act on (first, second) with local index 2 * bit(first) +
// bit(second), i.e. the first operand is the left factor of a tensor product.
//
// The vectors have 2^n entries: meant for n up to about 12.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "clifford/tables.hpp"
#include "register/register.hpp"

namespace ordavine::oracle {

using Amplitude = std::complex<double>;
using Matrix2 = std::array<Amplitude, 4>;   // row-major [r0c0, r0c1, r1c0, r1c1]
using Matrix4 = std::array<Amplitude, 16>;  // row-major

inline constexpr Amplitude kI{0.0, 1.0};
inline const double kInvSqrt2 = 1.0 / std::sqrt(2.0);

// ---- small matrix algebra ---------------------------------------------------

template <std::size_t N, std::size_t Entries>
std::array<Amplitude, Entries> multiply(const std::array<Amplitude, Entries>& a,
                                        const std::array<Amplitude, Entries>& b) {
  static_assert(N * N == Entries);
  std::array<Amplitude, Entries> out{};
  for (std::size_t r = 0; r < N; ++r)
    for (std::size_t c = 0; c < N; ++c)
      for (std::size_t k = 0; k < N; ++k) out[r * N + c] += a[r * N + k] * b[k * N + c];
  return out;
}

// Named functions rather than operators: the matrices are std::array
// aliases, which argument-dependent lookup would not find operators for.
inline Matrix2 product(const Matrix2& a, const Matrix2& b) { return multiply<2>(a, b); }
inline Matrix4 product(const Matrix4& a, const Matrix4& b) { return multiply<4>(a, b); }

inline Matrix2 adjoint(const Matrix2& m) {
  return {std::conj(m[0]), std::conj(m[2]), std::conj(m[1]), std::conj(m[3])};
}

inline Matrix2 scaled(const Matrix2& m, Amplitude factor) {
  Matrix2 out = m;
  for (auto& x : out) x *= factor;
  return out;
}

inline Matrix2 sum(const Matrix2& a, const Matrix2& b) {
  Matrix2 out{};
  for (std::size_t i = 0; i < 4; ++i) out[i] = a[i] + b[i];
  return out;
}

inline Matrix4 sum(const Matrix4& a, const Matrix4& b) {
  Matrix4 out{};
  for (std::size_t i = 0; i < 16; ++i) out[i] = a[i] + b[i];
  return out;
}

// a (x) b: a acts on the first operand, b on the second.
inline Matrix4 kron(const Matrix2& a, const Matrix2& b) {
  Matrix4 out{};
  for (std::size_t ra = 0; ra < 2; ++ra)
    for (std::size_t ca = 0; ca < 2; ++ca)
      for (std::size_t rb = 0; rb < 2; ++rb)
        for (std::size_t cb = 0; cb < 2; ++cb)
          out[(2 * ra + rb) * 4 + (2 * ca + cb)] = a[2 * ra + ca] * b[2 * rb + cb];
  return out;
}

// Whether a = phase * b for some unit phase (entries compared to `tol`).
template <std::size_t Entries>
bool equal_up_to_phase(const std::array<Amplitude, Entries>& a, const std::array<Amplitude, Entries>& b,
                       double tol = 1e-9) {
  std::size_t pivot = 0;
  for (std::size_t i = 1; i < Entries; ++i)
    if (std::abs(b[i]) > std::abs(b[pivot])) pivot = i;
  if (std::abs(b[pivot]) < tol) return false;
  const Amplitude phase = a[pivot] / b[pivot];
  if (std::abs(std::abs(phase) - 1.0) > tol) return false;
  for (std::size_t i = 0; i < Entries; ++i)
    if (std::abs(a[i] - phase * b[i]) > tol) return false;
  return true;
}

// ---- named gates, from their definitions -----------------------------------

namespace gates {
inline Matrix2 identity() { return {1.0, 0.0, 0.0, 1.0}; }
inline Matrix2 pauli_x() { return {0.0, 1.0, 1.0, 0.0}; }
inline Matrix2 pauli_y() { return {0.0, -kI, kI, 0.0}; }
inline Matrix2 pauli_z() { return {1.0, 0.0, 0.0, -1.0}; }
inline Matrix2 hadamard() { return scaled(sum(pauli_x(), pauli_z()), kInvSqrt2); }
inline Matrix2 s() { return {1.0, 0.0, 0.0, kI}; }
inline Matrix2 s_dagger() { return {1.0, 0.0, 0.0, -kI}; }

inline Matrix2 pauli(Axis axis) {
  switch (axis) {
    case Axis::x: return pauli_x();
    case Axis::y: return pauli_y();
    case Axis::z: return pauli_z();
    default: throw std::invalid_argument("no Pauli matrix for Axis::none");
  }
}

inline Matrix4 controlled_z() {
  Matrix4 out{};
  out[0] = out[5] = out[10] = 1.0;
  out[15] = -1.0;
  return out;
}

// Applies `target_pauli` to the second operand when the first is in the -1
// eigenspace of `control_pauli`: (I + Pc)/2 (x) I + (I - Pc)/2 (x) Pt.
inline Matrix4 controlled(const Matrix2& control_pauli, const Matrix2& target_pauli) {
  const Matrix2 plus = scaled(sum(identity(), control_pauli), 0.5);
  const Matrix2 minus = scaled(sum(identity(), scaled(control_pauli, -1.0)), 0.5);
  return sum(kron(plus, identity()), kron(minus, target_pauli));
}
}  // namespace gates

// The operator of each vertex operator number, one matrix per element of the
// local Clifford group (any global phase).  Typed in, not computed from the
// register's tables.
inline Matrix2 vop_matrix(Vop v) {
  const double r = kInvSqrt2;
  const Amplitude i = kI;
  static const std::array<Matrix2, 24> matrices{{
      {1, 0, 0, 1},             // 0  I
      {0, 1, 1, 0},             // 1  X
      {0, 1, -1, 0},            // 2  Y
      {1, 0, 0, -1},            // 3  Z
      {0, 1, -i, 0},            // 4  (X - Y)/sqrt2
      {1, 0, 0, -i},            // 5  S-dagger
      {1, 0, 0, i},             // 6  S
      {0, 1, i, 0},             // 7  (X + Y)/sqrt2
      {r, -r, -r, -r},          // 8  (X - Z)/sqrt2
      {r, -r, r, r},            // 9  sqrt(-iY)
      {r, r, r, -r},            // 10 H
      {r, r, -r, r},            // 11 sqrt(iY)
      {r, i * r, -i * r, -r},   // 12 (Y - Z)/sqrt2
      {r, -i * r, i * r, -r},   // 13 (Y + Z)/sqrt2
      {r, i * r, i * r, r},     // 14 sqrt(iX)
      {r, -i * r, -i * r, r},   // 15 sqrt(-iX)
      {r, -i * r, r, i * r},    // 16
      {r, i * r, -r, i * r},    // 17
      {r, -i * r, -r, -i * r},  // 18
      {r, i * r, r, -i * r},    // 19
      {r, r, i * r, -i * r},    // 20
      {r, r, -i * r, i * r},    // 21
      {r, -r, -i * r, -i * r},  // 22
      {r, -r, i * r, i * r},    // 23
  }};
  return matrices.at(v);
}

// ---- the state vector --------------------------------------------------------

class DenseState {
 public:
  // n qubits, all in |0>.
  explicit DenseState(std::size_t qubits)
      : qubits_(qubits), amplitudes_(std::size_t{1} << qubits, Amplitude{0.0}) {
    amplitudes_[0] = 1.0;
  }

  // n qubits, all in |+>.
  static DenseState all_plus(std::size_t qubits) {
    DenseState state(qubits);
    const double amplitude = std::pow(kInvSqrt2, static_cast<double>(qubits));
    for (auto& a : state.amplitudes_) a = amplitude;
    return state;
  }

  std::size_t qubits() const { return qubits_; }
  const std::vector<Amplitude>& amplitudes() const { return amplitudes_; }
  std::vector<Amplitude>& amplitudes() { return amplitudes_; }

  void apply(Qubit q, const Matrix2& m) {
    const std::size_t bit = std::size_t{1} << q;
    for (std::size_t i = 0; i < amplitudes_.size(); ++i) {
      if (i & bit) continue;
      const Amplitude a0 = amplitudes_[i], a1 = amplitudes_[i | bit];
      amplitudes_[i] = m[0] * a0 + m[1] * a1;
      amplitudes_[i | bit] = m[2] * a0 + m[3] * a1;
    }
  }

  void apply(Qubit first, Qubit second, const Matrix4& m) {
    if (first == second) throw std::invalid_argument("two-qubit gate on one qubit");
    const std::size_t f = std::size_t{1} << first, s = std::size_t{1} << second;
    const std::array<std::size_t, 4> offsets{0, s, f, f | s};  // local index 2*bf + bs
    for (std::size_t i = 0; i < amplitudes_.size(); ++i) {
      if (i & (f | s)) continue;
      std::array<Amplitude, 4> in{}, out{};
      for (std::size_t k = 0; k < 4; ++k) in[k] = amplitudes_[i | offsets[k]];
      for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c) out[r] += m[r * 4 + c] * in[c];
      for (std::size_t k = 0; k < 4; ++k) amplitudes_[i | offsets[k]] = out[k];
    }
  }

  double norm_squared() const {
    double sum = 0.0;
    for (const auto& a : amplitudes_) sum += std::norm(a);
    return sum;
  }

 private:
  std::size_t qubits_;
  std::vector<Amplitude> amplitudes_;
};

// The state a register represents: |+> on every qubit, CZ on every edge, then
// every qubit's vertex operator.  Each edge is applied once, from the list of
// its lower end.
inline DenseState state_of(const Register& reg) {
  DenseState state = DenseState::all_plus(reg.size());
  for (Qubit a = 0; a < reg.size(); ++a)
    for (Qubit b : reg[a].neighbors)
      if (a < b) state.apply(a, b, gates::controlled_z());
  for (Qubit q = 0; q < reg.size(); ++q) state.apply(q, vop_matrix(reg[q].vop));
  return state;
}

// Whether two states agree up to a global phase (and norm, both being unit
// vectors): |<a|b>| = |a| |b| exactly when they are parallel.
inline bool same_up_to_phase(const DenseState& a, const DenseState& b, double tol = 1e-9) {
  if (a.qubits() != b.qubits()) return false;
  Amplitude overlap{0.0};
  for (std::size_t i = 0; i < a.amplitudes().size(); ++i)
    overlap += std::conj(a.amplitudes()[i]) * b.amplitudes()[i];
  const double na = std::sqrt(a.norm_squared()), nb = std::sqrt(b.norm_squared());
  return std::abs(na - 1.0) < tol && std::abs(nb - 1.0) < tol && std::abs(std::abs(overlap) - na * nb) < tol;
}

// ---- projective measurement of one qubit in a Pauli basis -------------------

struct PauliMeasurement {
  double probability;  // of the requested outcome
  DenseState after;    // the normalised post-measurement state; all zeros when
                       // the outcome is impossible
};

// Projects qubit q onto the +1 (result_bit 0) or -1 (result_bit 1) eigenspace
// of the Pauli operator along `axis`: P = (I +- sigma)/2.
inline PauliMeasurement measure_pauli(const DenseState& state, Qubit q, Axis axis, int result_bit) {
  const double sign = result_bit == 0 ? 1.0 : -1.0;
  const Matrix2 projector = scaled(sum(gates::identity(), scaled(gates::pauli(axis), sign)), 0.5);
  DenseState projected = state;
  projected.apply(q, projector);
  const double probability = projected.norm_squared() / state.norm_squared();
  if (probability > 1e-12) {
    const double scale = 1.0 / std::sqrt(projected.norm_squared());
    for (auto& a : projected.amplitudes()) a *= scale;
  } else {
    for (auto& a : projected.amplitudes()) a = 0.0;
  }
  return {probability, projected};
}

}  // namespace ordavine::oracle
