#include "measure/peek.hpp"

#include <algorithm>

#include "measure/measure.hpp"

namespace ordavine {

std::vector<PeekOutcome> peek_measure_set(const Register& reg, std::vector<Qubit> qubits,
                                          RandomSource& random) {
  if (qubits.empty()) return {};
  std::sort(qubits.begin(), qubits.end());
  qubits.erase(std::unique(qubits.begin(), qubits.end()), qubits.end());
  // The first index visited that is out of range is the smallest one.
  for (const Qubit q : qubits) reg.check(q);

  Register copy = reg;
  std::vector<PeekOutcome> outcomes;
  outcomes.reserve(qubits.size());
  for (const Qubit q : qubits) {
    Axis axis = find_deterministic(copy, q);
    if (axis == Axis::none) axis = random_axis(random);
    const Measurement m = measure(copy, q, axis, random);
    const auto info = static_cast<std::uint8_t>(static_cast<std::uint8_t>(axis) |
                                                (m.determined ? PeekOutcome::kDeterminedFlag : 0));
    outcomes.push_back({q, m.result, info});
  }
  return outcomes;
}

}  // namespace ordavine
