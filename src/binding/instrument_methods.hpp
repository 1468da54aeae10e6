// The register as an instrument: Pauli-product expectations and
// measurements, postselection, fidelity, local complementation, growth and
// Pauli noise as calls, and the `num_qubits` attribute.
#pragma once

#include "binding/python.hpp"

namespace ordavine::binding {

PyObject* expectation_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* measure_pauli_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* postselect_x_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* postselect_y_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* postselect_z_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* postselect_pauli_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* fidelity_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* local_complement_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* add_qubits_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* x_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* y_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* z_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* depolarize1_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* depolarize2_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The read-only attributes of `Ordavine` (num_qubits).
PyGetSetDef* ordavine_attributes();

}  // namespace ordavine::binding
