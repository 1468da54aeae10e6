#include "measure/peek.hpp"

#include <algorithm>
#include <cstdint>

#include "measure/measure.hpp"
#include "register/entangled_group.hpp"

namespace ordavine {
namespace {

// The part of a register that a peek can reach: the connected components of
// the qubits it measures, as a register of its own in which `qubits[i]` is
// qubit i.  A measurement reads and changes only the component of the qubit
// it measures, so measuring on this copy gives exactly the outcomes, draws
// and updates of a copy of the whole register, at the cost of the
// components rather than of every qubit.  `qubits` are distinct and checked.
Register copy_reachable(const Register& reg, const std::vector<Qubit>& qubits) {
  const ComponentSearch search(reg, qubits);  // the starts come first, in order
  const std::vector<Qubit>& reached = search.members();
  Register copy(reached.size());
  for (std::size_t i = 0; i < reached.size(); ++i) {
    const Node& from = reg[reached[i]];
    Node& to = copy[i];
    to.vop = from.vop;
    // The same lists, in the same order, in local numbering.
    to.neighbors.reserve(from.neighbors.size());
    for (const Qubit n : from.neighbors) to.neighbors.push_back(search.position(n));
  }
  return copy;
}

}  // namespace

std::vector<PeekOutcome> peek_measure_set(const Register& reg, std::vector<Qubit> qubits,
                                          RandomSource& random) {
  if (qubits.empty()) return {};
  std::sort(qubits.begin(), qubits.end());
  qubits.erase(std::unique(qubits.begin(), qubits.end()), qubits.end());
  // The first index visited that is out of range is the smallest one.
  for (const Qubit q : qubits) reg.check(q);

  Register copy = copy_reachable(reg, qubits);
  std::vector<PeekOutcome> outcomes;
  outcomes.reserve(qubits.size());
  for (std::size_t i = 0; i < qubits.size(); ++i) {
    Axis axis = find_deterministic(copy, i);
    if (axis == Axis::none) axis = random_axis(random);
    const Measurement m = measure(copy, i, axis, random);
    const auto info = static_cast<std::uint8_t>(static_cast<std::uint8_t>(axis) |
                                                (m.determined ? PeekOutcome::kDeterminedFlag : 0));
    outcomes.push_back({qubits[i], m.result, info});
  }
  return outcomes;
}

}  // namespace ordavine
