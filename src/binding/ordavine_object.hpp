// The `Ordavine` instance and the wrapper that every one of its methods runs
// through: match the arguments, check the object's type, take access,
// convert, call the core, convert the result, release access.
#pragma once

#include <cstddef>

#include "binding/arguments.hpp"
#include "binding/borrow.hpp"
#include "binding/class_rules.hpp"
#include "binding/errors.hpp"
#include "binding/memory_report.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

inline constexpr char kOrdavineName[] = "ordavine.Ordavine";

struct OrdavineObject {
  PyObject_HEAD Register reg;
  BorrowFlag borrow;
  MadeMark made;  // the register and the flag above are constructed
  HeldMemory held;
};

// Creates the class (once per process); throws PythonError.
PyTypeObject* ordavine_type();

// A new instance holding `reg`, whose lists hold `list_bytes` in blocks.
PyObject* adopt_register(Register&& reg, std::ptrdiff_t list_bytes);

// A new instance holding the register `build()` returns, the blocks of its
// lists counted while it is built.
template <class Build>
PyObject* new_ordavine(Build&& build) {
  const ReportedListBytes lists;
  Register reg = build();
  return adopt_register(std::move(reg), lists.change());
}

// The instance behind `self`, or TypeError "'{type}' object cannot be cast
// as 'Ordavine'".
OrdavineObject& as_ordavine(PyObject* self);

// Whether a call that changes the register may change its lists: all do
// but the single-qubit gates, which rewrite one VOP.
enum class Lists { may_change, unchanged };

// Runs one method call: `body(register, slots)` returns a new reference.
// A call that may change the register's lists updates what it holds
// afterwards.
template <Access access, Lists lists = Lists::may_change, std::size_t N, class Body>
PyObject* call_method(const Signature<N>& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, Body&& body) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(signature, args, nargs, kwnames);
    OrdavineObject& object = as_ordavine(self);
    Borrow<access> borrow(object.borrow);
    if constexpr (access == Access::exclusive && lists == Lists::may_change) {
      const HeldMemoryUpdate update(object.held, object.reg, self);
      return body(object.reg, slots);
    } else {
      return body(object.reg, slots);
    }
  });
}

}  // namespace ordavine::binding
