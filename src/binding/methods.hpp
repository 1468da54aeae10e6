// The method table of `Ordavine`, in the order the class lists its methods.
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

PyMethodDef* ordavine_methods();

}  // namespace ordavine::binding
