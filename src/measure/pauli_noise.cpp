#include "measure/pauli_noise.hpp"

#include <cmath>
#include <string>

#include "clifford/pauli_pairs.hpp"
#include "failure/failure.hpp"
#include "register/single_qubit.hpp"

namespace ordavine {

void pauli_error(Register& reg, Qubit q, Axis axis, Threshold threshold, RandomSource& random) {
  if (fires(random, threshold)) apply_to_vop(reg[q], pauli_vop(axis));
}

void depolarize1(Register& reg, Qubit q, Threshold threshold, RandomSource& random) {
  if (fires(random, threshold)) apply_to_vop(reg[q], pauli_vop(random_axis(random)));
}

void depolarize2(Register& reg, Qubit a, Qubit b, Threshold threshold, RandomSource& random) {
  if (!fires(random, threshold)) return;
  const PairCode pair = pair_code(uniform_in(random, 1, 16));  // one of IX .. ZZ
  if (pair.first != 0) apply_to_vop(reg[a], static_cast<Vop>(pair.first));
  if (pair.second != 0) apply_to_vop(reg[b], static_cast<Vop>(pair.second));
}

void checked_pauli_error(Register& reg, Qubit q, Axis axis, Threshold threshold, RandomSource& random) {
  reg.check(q);
  pauli_error(reg, q, axis, threshold, random);
}

void checked_depolarize1(Register& reg, Qubit q, Threshold threshold, RandomSource& random) {
  reg.check(q);
  depolarize1(reg, q, threshold, random);
}

void checked_depolarize2(Register& reg, Qubit a, Qubit b, Threshold threshold, RandomSource& random) {
  reg.check(a);
  reg.check(b);
  if (a == b) fail("a and b must be different qubits, both are " + std::to_string(a));
  depolarize2(reg, a, b, threshold, random);
}

}  // namespace ordavine
