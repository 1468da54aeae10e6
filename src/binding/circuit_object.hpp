// `ordavine.Circuit`: circuit text read once into a program, which its
// compiled samplers share; and the two sampler classes it compiles.
#pragma once

#include <memory>
#include <string>

#include "binding/class_rules.hpp"
#include "binding/python.hpp"
#include "circuit/program.hpp"

namespace ordavine::binding {

inline constexpr char kCircuitName[] = "ordavine.Circuit";

struct CircuitObject {
  PyObject_HEAD std::shared_ptr<const circuit::Program> program;
  std::shared_ptr<const std::string> text;
  MadeMark made;
};

// Creates the class (once per process); throws PythonError.
PyTypeObject* circuit_type();

// The instance behind `self`, or the cast TypeError.
CircuitObject& as_circuit(PyObject* self);

// The sampler classes (compiled_samplers.cpp), created once per process.
PyTypeObject* measurement_sampler_type();
PyTypeObject* detector_sampler_type();

// `circuit.compile_sampler(*, seed=None)` and
// `circuit.compile_detector_sampler(*, seed=None)`.
PyObject* compile_sampler_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* compile_detector_sampler_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames);

}  // namespace ordavine::binding
