// Random gates for building random states in the oracle tests.
#pragma once

#include <iterator>
#include <random>

#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine::test_gates {

// The six named single-qubit gates.
inline Vop named_gate(std::mt19937& gen) {
  static constexpr Vop gates[] = {vop::pauli_x,  vop::pauli_y, vop::pauli_z,
                                  vop::s_dagger, vop::s,       vop::hadamard};
  return gates[gen() % std::size(gates)];
}

// Any of the 24 local Cliffords.
inline Vop any_vop(std::mt19937& gen) { return static_cast<Vop>(gen() % 24); }

// With probability 1/2 (and two qubits or more) one of the nine controlled
// gates on a random ordered pair, else a single-qubit gate `pick` draws.
template <class Pick = Vop (*)(std::mt19937&)>
void random_gate(Register& reg, std::mt19937& gen, Pick pick = named_gate) {
  using TwoQubitGate = void (*)(Register&, Qubit, Qubit);
  static constexpr TwoQubitGate two_qubit[] = {cz, cx, cy, xcx, xcy, xcz, ycx, ycy, ycz};
  const std::size_t n = reg.size();
  if (n >= 2 && gen() % 2 == 0) {
    const Qubit a = gen() % n;
    Qubit b = gen() % (n - 1);
    if (b >= a) ++b;
    two_qubit[gen() % std::size(two_qubit)](reg, a, b);
  } else {
    // The gate is drawn before the qubit, in a statement of its own: the
    // order of two draws among one call's arguments is up to the compiler.
    const Vop gate = pick(gen);
    apply_single_qubit_gate(reg, gen() % n, gate);
  }
}

}  // namespace ordavine::test_gates
