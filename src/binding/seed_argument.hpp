// Converting a seed argument: a non-negative Python int of any size.
#pragma once

#include <cstdint>
#include <vector>

#include "binding/python.hpp"

namespace ordavine::binding {

// The seed as its minimal little-endian bytes (empty for 0).  Accepts an int
// or an object with `__index__`, as qubit indices do, but not a bool
// (TypeError); a negative value is a ValueError.  Both messages name the
// parameter.
std::vector<std::uint8_t> to_seed_bytes(PyObject* value, const char* parameter);

}  // namespace ordavine::binding
