// The functions of the module itself (not of a class).
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

// The module's method table, ending in the null entry.
PyMethodDef* module_functions();

}  // namespace ordavine::binding
