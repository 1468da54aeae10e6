// The `state_vector` method of `Ordavine`.
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

PyObject* state_vector_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace ordavine::binding
