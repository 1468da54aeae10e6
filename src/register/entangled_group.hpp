// Which qubits share a connected component of the graph with given qubits.
// Qubits in different components are in a product state with respect to each
// other, whatever their VOPs; the query reads the register only.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "register/qubit_marks.hpp"
#include "register/register.hpp"

namespace ordavine {

// Breadth-first search from a list of qubits over the neighbour lists: the
// qubits reached, in the order they were first met (the starts first), each
// with its position in that order.  Linear in the size of the components
// reached.  The starts must be checked indices.
class ComponentSearch {
 public:
  ComponentSearch(const Register& reg, std::span<const Qubit> starts);

  const std::vector<Qubit>& members() const& noexcept { return members_; }
  std::vector<Qubit> members() && noexcept { return std::move(members_); }

  // The position of a reached qubit in members().  Valid until the next
  // search on this thread.
  std::size_t position(Qubit q) const { return marks().get(q) - 1; }

 private:
  // Position + 1 of every reached qubit; one table per thread, reused.
  static QubitMarks<std::size_t>& marks();

  std::vector<Qubit> members_;
};

// The members of q's component, q included, in breadth-first order.  An
// index failure for q when it is out of range.
std::vector<Qubit> entangled_group(const Register& reg, Qubit q);

}  // namespace ordavine
