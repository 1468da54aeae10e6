// Matching a call's arguments to a function's parameters, and converting
// them to the values the core takes.  Nothing is allocated on the
// successful path; error texts are built only when an error is raised.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "binding/errors.hpp"
#include "binding/py_ref.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

// ---- matching a call ----------------------------------------------------------

// A function's parameters in order: positional-or-keyword ones, then from
// `positional` on keyword-only ones.  Those from `required` on (required <=
// positional) are optional: their slots stay null when they are left out,
// so keyword-only parameters are always optional.  Errors name the function
// as "{owner}.{method}()", or "{method}()" for a module function (owner
// null), in the words CPython uses for a def of that signature.
template <std::size_t N>
struct Signature {
  const char* method;  // "x", or "__new__" for the constructor
  std::array<const char*, N> parameters;
  std::size_t required = N;
  std::size_t positional = N;
  const char* owner = "Ordavine";
};

// A signature of any length, as the matcher reads it.
struct Parameters {
  const char* owner;
  const char* method;
  std::span<const char* const> names;
  std::size_t required;
  std::size_t positional;
};

template <std::size_t N>
constexpr Parameters parameters_of(const Signature<N>& signature) {
  return {signature.owner, signature.method, signature.parameters, signature.required, signature.positional};
}

// Fills `slots` from a fast call (positional values, then the values of the
// keyword names in `kwnames`); raises the first mismatch as TypeError.
void match_fast_call(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     std::span<PyObject*> slots);

// The same for a classic call with an argument tuple and keyword dictionary.
void match_classic_call(const Parameters& parameters, PyObject* args, PyObject* kwargs,
                        std::span<PyObject*> slots);

template <std::size_t N>
std::array<PyObject*, N> match_arguments(const Signature<N>& signature, PyObject* const* args,
                                         Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, N> slots{};
  if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(signature.positional)) {
    for (std::size_t i = 0; i < signature.positional; ++i) slots[i] = args[i];  // the common case
  } else {
    match_fast_call(parameters_of(signature), args, nargs, kwnames, slots);
  }
  return slots;
}

// ---- conversion errors ------------------------------------------------------------

// Rethrows the interpreter's pending error for an argument; exactly a
// TypeError is rewritten as "argument '{parameter}': {text}", its cause kept.
[[noreturn]] void raise_conversion_error(const char* parameter);

// When the pending error is a PanicException raised by Python code that the
// module called (an `__index__`), carries the abort on as an internal
// failure; any other pending error is left as it is.
void resume_panic_if_raised();

// Raises `type` with "argument '{parameter}': {what}".
[[noreturn]] void raise_argument_error(PyObject* type, const char* parameter, const std::string& what);

// The TypeError of `object` not being a `target`, worded for `parameter`.
[[noreturn]] void raise_argument_cast_error(PyObject* object, const char* target, const char* parameter);

// ---- converters ------------------------------------------------------------------

// An integer argument as a Python int: the object itself when it is one,
// else the result of its `__index__` (run under the nesting guard, since it
// may call into the module again); a failed conversion names the parameter.
PyRef to_python_int(PyObject* object, const char* parameter);

// Converts a qubit index or count: an int (bool included) or an object with
// `__index__`, non-negative and fitting a machine word.  A TypeError names
// the parameter; other errors pass through unchanged.
Qubit to_index(PyObject* object, const char* parameter);

// Converts a real number as float() does, without parsing text: an int, an
// object with `__float__` (tried first) or one with `__index__`, so numpy
// scalars too, on every interpreter alike.  Anything else is a TypeError
// naming the parameter; an int too large for a double is the interpreter's
// OverflowError; what the object's own methods raise passes on.
double to_real(PyObject* object, const char* parameter);

// Converts a set or frozenset of qubit indices, duplicates collapsed, in
// ascending order.
std::vector<Qubit> to_index_set(PyObject* object, const char* parameter);

}  // namespace ordavine::binding
