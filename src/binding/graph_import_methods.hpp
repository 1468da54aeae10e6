// The class methods that build a register from a description of its state:
// from_graph (a graph and VOPs) and from_stabilizers (generators as text).
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

// Called with the class as `cls` (class methods).
PyObject* from_graph_method(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* from_stabilizers_method(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace ordavine::binding
