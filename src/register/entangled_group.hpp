// Which qubits share a connected component of the graph with a given qubit.
// Qubits in different components are in a product state with respect to each
// other, whatever their VOPs; the query reads the register only.
#pragma once

#include <vector>

#include "register/register.hpp"

namespace ordavine {

// The members of q's component, q included, in breadth-first order.  An
// index failure for q when it is out of range.  Linear in the component's
// size: each member is queued once and each list entry tested once.
std::vector<Qubit> entangled_group(const Register& reg, Qubit q);

}  // namespace ordavine
