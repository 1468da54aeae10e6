// The methods of `Ordavine` that export the whole state at once: the VOPs,
// the edges, the stabilizer generators, and the entanglement entropy of a
// set of qubits.  All of them only read the register.
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

PyObject* vops_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* edges_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* stabilizers_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* stabilizer_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* entanglement_entropy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);

}  // namespace ordavine::binding
