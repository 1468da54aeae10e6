// Copies and saved states of a register: copy, __copy__, __deepcopy__,
// to_bytes, the from_bytes class method and __reduce__ for pickling.
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

PyObject* copy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* dunder_copy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* deepcopy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* to_bytes_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// Called with the class as `cls` (a class method).
PyObject* from_bytes_method(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* reduce_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace ordavine::binding
