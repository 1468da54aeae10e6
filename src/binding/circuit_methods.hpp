// Whole circuits: the method `Ordavine.run` and the module functions
// `sample` and `sample_detectors`.
#pragma once

#include <string_view>

#include "binding/python.hpp"
#include "circuit/program.hpp"

namespace ordavine::binding {

// The program of circuit text.  A record too large for memory is refused
// by the reader with its own text; memory that runs out while the program
// is built is named here.
circuit::Program read_program(std::string_view text);

// Ordavine.run(circuit), a fast-call method.
PyObject* run_circuit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The module-level functions, ending in a null entry.
PyMethodDef* circuit_functions();

}  // namespace ordavine::binding
