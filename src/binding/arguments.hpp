// Matching a call's arguments to a function's parameters, and converting
// them to the values the core takes: every conversion of a Python object
// to a core value is declared here, the larger readers with a job of their
// own (a buffer, a Pauli product, an iterable read item by item) in the
// headers included below.  Nothing is allocated on the successful path of
// the matcher; error texts are built only when an error is raised.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/buffer_argument.hpp"  // BufferArgument: any buffer, read as its view shows it
#include "binding/errors.hpp"
#include "binding/iterable_argument.hpp"  // iterables read item by item, their own errors passed on
#include "binding/pauli_argument.hpp"     // to_product: a Pauli product as text, dict or (sign, dict)
#include "binding/py_ref.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

// ---- matching a call ----------------------------------------------------------

// A function's parameters in order: positional-or-keyword ones, then from
// `positional` on keyword-only ones.  Those from `required` on (required <=
// positional) are optional: their slots stay null when they are left out,
// so keyword-only parameters are always optional.  Errors name the function
// as "{owner}.{method}()", or "{method}()" for a module function (owner
// null), in the words CPython uses for a def of that signature, except that
// a positional count is always "N positional arguments" (no "from 1 to 2").
// The first mismatch is raised, looked for in this order: surplus
// positional arguments, then the keywords as given (unknown, or a value
// given twice), then missing required ones; CPython looks at the keywords
// before the surplus.
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

// Qubit indices in the order given, a few of them without an allocation.
class QubitSequence {
 public:
  void push_back(Qubit q) {
    if (count_ < small_.size()) {
      small_[count_] = q;
    } else {
      if (count_ == small_.size()) large_.assign(small_.begin(), small_.end());
      large_.push_back(q);
    }
    ++count_;
  }
  std::span<const Qubit> view() const {
    return count_ <= small_.size() ? std::span<const Qubit>(small_.data(), count_)
                                   : std::span<const Qubit>(large_);
  }

 private:
  std::array<Qubit, 8> small_{};
  std::vector<Qubit> large_;
  std::size_t count_ = 0;
};

struct IndexSequence {
  QubitSequence indices;  // the first `limit` at most
  std::string longer;     // empty, or how many items a sequence of more than `limit` holds (count_beyond)
};

// Converts a sequence of qubit indices, in order, that is to name at most
// `limit` qubits.  Sets (and dicts, str, bytes) are refused: their order is
// not one the caller chose.  Items past the first `limit` are not
// converted: one more is enough for the caller to refuse the sequence for
// its length, however long it says it is (range(10**18) is not read to its
// end).
IndexSequence to_index_sequence(PyObject* object, const char* parameter, std::size_t limit);

// Converts a probability in [0, 1]: a float, or anything float() accepts
// without parsing text (to_real); outside the range (NaN included) is a
// ValueError naming the parameter.
double to_probability(PyObject* object, const char* parameter);

// Converts a flag: True or False (False too for a left-out argument, null),
// anything else a TypeError naming the parameter.
bool to_flag(PyObject* object, const char* parameter);

// Converts an outcome to postselect: 0 (+1) or 1 (-1), as an int (bool
// included) or an object with __index__, or a MeasurementResult; another
// value is a ValueError naming the parameter.
std::uint8_t to_result(PyObject* object, const char* parameter);

// Converts a seed, a non-negative int of any size, to its minimal
// little-endian bytes (empty for 0).  Accepts an int or an object with
// `__index__`, as qubit indices do, but not a bool (TypeError); a negative
// value is a ValueError.  Both messages name the parameter.
std::vector<std::uint8_t> to_seed_bytes(PyObject* value, const char* parameter);

// Text arguments: a str as the UTF-8 bytes that the core's readers take.
//
// A str may hold lone surrogates, which UTF-8 cannot encode.  The readers
// of Pauli products and stabilizers get them as the bytes UTF-8 would give
// them were they characters, and refuse them naming where they stand, as
// any character they do not know; circuit text refuses them itself.
class Utf8Text {
 public:
  explicit Utf8Text(PyObject* text);
  std::string_view view() const { return view_; }
  // Whether the str holds a lone surrogate (then written as its three bytes).
  bool has_surrogates() const { return static_cast<bool>(passed_); }

 private:
  std::string_view view_;
  PyRef passed_;  // the bytes of a str with surrogates; else the str's own UTF-8 is used
};

// Converts the circuit text of a `str` argument to UTF-8 (valid while the
// object lives).  Another type is a TypeError; a lone surrogate is a
// ValueError naming its line and column, as the circuit reader names the
// bytes it refuses.
std::string_view to_text(PyObject* object, const char* parameter);

}  // namespace ordavine::binding
