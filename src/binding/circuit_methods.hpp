// Whole circuits: the method `Ordavine.run` and the module functions
// `sample` and `sample_detectors`.
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

// Ordavine.run(circuit), a fast-call method.
PyObject* run_circuit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The module-level functions, ending in a null entry.
PyMethodDef* circuit_functions();

}  // namespace ordavine::binding
