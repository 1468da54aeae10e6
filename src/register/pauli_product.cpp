#include "register/pauli_product.hpp"

#include "register/qubit_marks.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine {

void check_product(const Register& reg, std::span<const PauliFactor> factors) {
  for (const PauliFactor& f : factors) {
    reg.check(f.qubit);
    if (f.axis == Axis::none) fail("a Pauli factor without an axis");
  }
  if (factors.size() <= 8) {
    for (std::size_t i = 0; i < factors.size(); ++i) {
      for (std::size_t j = i + 1; j < factors.size(); ++j) {
        if (factors[i].qubit == factors[j].qubit) fail("a Pauli product names a qubit twice");
      }
    }
    return;
  }
  thread_local QubitMarks<bool> seen_storage;
  QubitMarks<bool>& seen = seen_storage;
  seen.begin(reg.size());
  for (const PauliFactor& f : factors) {
    if (seen[f.qubit]) fail("a Pauli product names a qubit twice");
    seen[f.qubit] = true;
  }
}

namespace {

void undo_parity_steps(Register& reg, std::span<const PauliFactor> factors, std::size_t cx_done) {
  const Qubit pivot = factors[0].qubit;
  for (std::size_t i = cx_done; i-- > 1;) cx(reg, factors[i].qubit, pivot);
  for (const PauliFactor& f : factors) {
    apply_to_vop(reg[f.qubit], ADJOINT_TABLE[kTakeToZ[static_cast<unsigned>(f.axis)]]);
  }
}

}  // namespace

void gather_product(Register& reg, std::span<const PauliFactor> factors) {
  for (const PauliFactor& f : factors) apply_to_vop(reg[f.qubit], kTakeToZ[static_cast<unsigned>(f.axis)]);
  const Qubit pivot = factors[0].qubit;
  std::size_t done = 1;
  try {
    for (; done < factors.size(); ++done) cx(reg, factors[done].qubit, pivot);
  } catch (...) {
    // cx changes nothing when it fails, so the steps before it are undone.
    undo_parity_steps(reg, factors, done);
    throw;
  }
}

void scatter_product(Register& reg, std::span<const PauliFactor> factors) {
  undo_parity_steps(reg, factors, factors.size());
}

void rotate_product(Register& reg, std::span<const PauliFactor> factors, bool negative, bool dagger) {
  check_product(reg, factors);
  if (factors.empty()) return;
  gather_product(reg, factors);
  // S phases the -1 eigenspace of +Z by i; the -1 eigenspace of -Z is the
  // +1 eigenspace of Z, phased by i up to a global phase with S-dagger.
  apply_to_vop(reg[factors[0].qubit], negative == dagger ? vop::s : vop::s_dagger);
  scatter_product(reg, factors);
}

}  // namespace ordavine
