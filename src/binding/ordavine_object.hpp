// The `Ordavine` instance and the wrapper that every one of its methods runs
// through: match the arguments, check the object's type, take access,
// convert, call the core, convert the result, release access.
#pragma once

#include <cstddef>

#include "binding/arguments.hpp"
#include "binding/borrow.hpp"
#include "binding/class_rules.hpp"
#include "binding/errors.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

inline constexpr char kOrdavineName[] = "ordavine.Ordavine";

struct OrdavineObject {
  PyObject_HEAD
  Register reg;
  BorrowFlag borrow;
  MadeMark made;  // the register and the flag above are constructed
};

// Creates the class (once per process); throws PythonError.
PyTypeObject* ordavine_type();

// A new instance of `type` holding `reg`.
PyObject* new_ordavine(PyTypeObject* type, Register&& reg);

// The instance behind `self`, or TypeError "'{type}' object cannot be cast
// as 'Ordavine'".
OrdavineObject& as_ordavine(PyObject* self);

// Runs one method call: `body(register, slots)` returns a new reference.
template <Access access, std::size_t N, class Body>
PyObject* call_method(const Signature<N>& signature, PyObject* self, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(signature, args, nargs, kwnames);
    OrdavineObject& object = as_ordavine(self);
    Borrow<access> borrow(object.borrow);
    return body(object.reg, slots);
  });
}

}  // namespace ordavine::binding
