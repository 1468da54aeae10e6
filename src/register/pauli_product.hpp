// Pauli products on the register: the factor type shared by export,
// product measurement and expectation, and the product rotation (the
// generalised S gate) with the change of frame it is built from.
//
// Any product of Paulis on distinct qubits q1..qk is carried onto Z of its
// first qubit by a Clifford U: a single-qubit gate on each qubit taking its
// Pauli to +Z, then CX from every other qubit onto q1 (CX from c onto t
// takes Z_t Z_c to Z_t).  So U P U^dagger = Z_q1, and anything defined by
// the product's eigenspaces is U^dagger (the same for Z_q1) U: a phase on
// the -1 eigenspace is an S on q1, a measurement of the product is a Z
// measurement of q1.  Every step is one of the register's own gates.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "clifford/tables.hpp"
#include "register/register.hpp"

namespace ordavine {

// One factor of a Pauli product: a qubit and the Pauli acting on it.
struct PauliFactor {
  Qubit qubit;
  Axis axis;
};

// For each axis, a Clifford that carries that Pauli to +Z.
constexpr Vop vop_taking_to_z(Axis axis) {
  for (unsigned u = 0; u < 24; ++u) {
    const Vop v = static_cast<Vop>(u);
    if (conj_axis(v, axis) == Axis::z && !conj_sign_negative(v, axis)) return v;
  }
  return 24;
}
inline constexpr std::array<Vop, 3> kTakeToZ{vop_taking_to_z(Axis::x), vop_taking_to_z(Axis::y),
                                             vop_taking_to_z(Axis::z)};
static_assert(kTakeToZ[0] < 24 && kTakeToZ[1] < 24 && kTakeToZ[2] == vop::identity);

// Multiplies Paulis written left to right into one factor per qubit, in
// the order each qubit first appears, leaving out qubits whose factors
// cancel (X0*X0).  Factors on different qubits commute; on one qubit the
// products pick up powers of i (X Y = iZ, ...).  Returns false when the
// total phase is +-i, an anti-Hermitian product such as X0*Z0 that has no
// measurement or rotation (`out` still holds the Paulis, which is all a
// noise channel needs); otherwise `negative` is flipped by a phase of -1.
bool reduce_product(std::span<const PauliFactor> written, bool& negative, std::vector<PauliFactor>& out);

// Index failure for a qubit at or above the size, and an internal failure
// when a qubit stands twice or a factor has no axis: callers hand over
// products already reduced to one factor per qubit.
void check_product(const Register& reg, std::span<const PauliFactor> factors);

// Applies U (above): afterwards Z of factors[0].qubit is the product.
// Running out of memory undoes the steps taken and rethrows, the state as
// it was (possibly another graph).  The product must be checked and not
// empty.
void gather_product(Register& reg, std::span<const PauliFactor> factors);

// Applies U^dagger, the inverse of gather_product.
void scatter_product(Register& reg, std::span<const PauliFactor> factors);

// The Pauli-product rotation: multiplies the -1 eigenspace of the product
// (negated when `negative`) by i, or by -i when `dagger`.  An empty
// product is the identity up to a global phase: nothing happens.
void rotate_product(Register& reg, std::span<const PauliFactor> factors, bool negative, bool dagger);

}  // namespace ordavine
