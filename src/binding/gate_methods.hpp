// The generated gate methods of `Ordavine` (one per unitary gate of the
// circuit format that has no hand-written method) and the resets.
#pragma once

#include <vector>

#include "binding/python.hpp"

namespace ordavine::binding {

std::vector<PyMethodDef> gate_methods();

}  // namespace ordavine::binding
