#include "binding/arguments.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "binding/py_ref.hpp"
#include "binding/results.hpp"

namespace ordavine::binding {
namespace {

std::string function_name(const Parameters& parameters) {
  std::string name = parameters.owner == nullptr ? std::string() : std::string(parameters.owner) + ".";
  return name + parameters.method + "()";
}

// Whether `name` (a str) is one of the keyword-only parameters.
bool names_keyword_only(const Parameters& parameters, PyObject* name) {
  const char* utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
  if (utf8 == nullptr) {
    // A name that UTF-8 cannot encode names no parameter; any other error stands.
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
    PyErr_Clear();
    return false;
  }
  for (std::size_t i = parameters.positional; i < parameters.names.size(); ++i) {
    if (std::strcmp(utf8, parameters.names[i]) == 0) return true;
  }
  return false;
}

// Too many positional arguments.  As CPython says it for a def with
// keyword-only parameters, those given by keyword are counted too:
// "... but 3 positional arguments (and 1 keyword-only argument) were given".
[[noreturn]] void raise_too_many(const Parameters& parameters, Py_ssize_t given, std::size_t keyword_only) {
  std::string text = function_name(parameters) + " takes " + std::to_string(parameters.positional) +
                     " positional arguments but " + std::to_string(given);
  if (keyword_only != 0) {
    text += std::string(" positional argument") + (given == 1 ? "" : "s") + " (and " +
            std::to_string(keyword_only) + " keyword-only argument" + (keyword_only == 1 ? "" : "s") + ")";
  }
  text += given == 1 && keyword_only == 0 ? " was given" : " were given";
  raise(PyExc_TypeError, text);
}

// Formatted from the name itself, which may hold what UTF-8 cannot.
[[noreturn]] void raise_unexpected_keyword(const Parameters& parameters, PyObject* name) {
  PyRef text(check(PyObject_Str(name)));
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
               function_name(parameters).c_str(), text.get());
  throw PythonError{};
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const std::vector<const char*>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) text += ",";
      text += (i + 1 == names.size()) ? " and " : " ";
    }
    text += std::string("'") + names[i] + "'";
  }
  return text;
}

void put_keyword(const Parameters& parameters, PyObject* name, PyObject* value, std::span<PyObject*> slots) {
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &length) : nullptr;
  if (utf8 == nullptr && PyErr_Occurred()) {
    // A name that UTF-8 cannot encode matches nothing; any other error stands.
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
    PyErr_Clear();
  }
  const std::string_view text =
      utf8 ? std::string_view(utf8, static_cast<std::size_t>(length)) : std::string_view();
  for (std::size_t i = 0; utf8 != nullptr && i < parameters.names.size(); ++i) {
    if (text == parameters.names[i]) {
      if (slots[i] != nullptr) {
        raise(PyExc_TypeError,
              function_name(parameters) + " got multiple values for argument '" + parameters.names[i] + "'");
      }
      slots[i] = value;
      return;
    }
  }
  raise_unexpected_keyword(parameters, name);
}

// Only the required parameters, all positional-or-keyword, can be missing.
void check_missing(const Parameters& parameters, std::span<PyObject*> slots) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < parameters.required; ++i) {
    if (slots[i] == nullptr) missing.push_back(parameters.names[i]);
  }
  if (missing.empty()) return;
  if (missing.size() == 1) {
    raise(PyExc_TypeError,
          function_name(parameters) + " missing 1 required positional argument: '" + missing[0] + "'");
  }
  raise(PyExc_TypeError, function_name(parameters) + " missing " + std::to_string(missing.size()) +
                             " required positional arguments: " + name_list(missing));
}

unsigned long long read_unsigned(PyObject* integer) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
  return value;
}

// Whether the type of `object` has the special method `name` (looked up on
// the type, as the interpreter looks up special methods).
bool type_has(PyObject* object, const char* name) {
  PyRef found(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), name));
  if (found) return true;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
  PyErr_Clear();
  return false;
}

// The offset of the first lone surrogate in UTF-8 that passes them through.
std::size_t first_surrogate(std::string_view bytes) {
  for (std::size_t at = 0; at + 2 < bytes.size(); ++at) {
    if (static_cast<unsigned char>(bytes[at]) == 0xED && static_cast<unsigned char>(bytes[at + 1]) >= 0xA0) {
      return at;
    }
  }
  fail("a str that UTF-8 cannot encode holds no lone surrogate");
}

std::vector<std::uint8_t> little_endian_bytes(unsigned long long value) {
  std::vector<std::uint8_t> bytes;
  for (; value != 0; value >>= 8) bytes.push_back(static_cast<std::uint8_t>(value & 0xffu));
  return bytes;
}

// For ints beyond 64 bits: `int.to_bytes` through the interpreter, which
// both CPython and PyPy provide, sized by `int.bit_length`.
std::vector<std::uint8_t> long_bytes(PyObject* integer) {
  PyRef bits(check(PyObject_CallMethod(integer, "bit_length", nullptr)));
  const Py_ssize_t bit_count = PyLong_AsSsize_t(bits.get());
  if (bit_count < 0) throw PythonError{};
  PyRef bytes(check(PyObject_CallMethod(integer, "to_bytes", "ns", (bit_count + 7) / 8, "little")));
  char* data = nullptr;
  Py_ssize_t length = 0;
  check_status(PyBytes_AsStringAndSize(bytes.get(), &data, &length));
  return std::vector<std::uint8_t>(data, data + length);
}

}  // namespace

// The interpreter's error for an argument, rewritten to name the parameter
// when it is exactly a TypeError; its cause carries over.
[[noreturn]] void raise_conversion_error(const char* parameter) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type(type), owned_value(value), owned_traceback(traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(owned_type.release(), owned_value.release(), owned_traceback.release());
    throw PythonError{};
  }
  // Formatted from the str itself: its text may hold what UTF-8 cannot.
  PyRef text(check(PyObject_Str(value)));
  PyRef message(check(PyUnicode_FromFormat("argument '%s': %U", parameter, text.get())));
  PyRef replacement(check(PyObject_CallOneArg(PyExc_TypeError, message.get())));
  PyObject* cause = PyException_GetCause(value);                         // new reference or null
  if (cause != nullptr) PyException_SetCause(replacement.get(), cause);  // steals `cause`
  PyErr_SetObject(PyExc_TypeError, replacement.get());
  throw PythonError{};
}

// A PanicException raised by Python code that we called (an `__index__`) is
// not a conversion error: the abort it stands for carries on through this
// call, after its traceback has been shown.
void resume_panic_if_raised() {
  PyObject* panic = existing_panic_type();
  if (panic == nullptr || !PyErr_Occurred()) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != panic) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string message = "panic";
  if (value != nullptr) {
    PyRef text(PyObject_Str(value));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 != nullptr) message = utf8;
    PyErr_Clear();
  }
  std::fputs(
      "ordavine: a PanicException raised in Python code is resumed as an internal failure\n"
      "Python stack trace below:\n",
      stderr);
  std::fflush(stderr);
  PyErr_Restore(type, value, traceback);
  PyErr_PrintEx(0);
  resume_failure(std::move(message));
}

void match_fast_call(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     std::span<PyObject*> slots) {
  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  if (nargs > static_cast<Py_ssize_t>(parameters.positional)) {
    std::size_t keyword_only = 0;
    for (Py_ssize_t i = 0; i < keywords; ++i) {
      keyword_only += names_keyword_only(parameters, PyTuple_GET_ITEM(kwnames, i));
    }
    raise_too_many(parameters, nargs, keyword_only);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  for (Py_ssize_t i = 0; i < keywords; ++i) {
    put_keyword(parameters, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots);
  }
  if (nargs < static_cast<Py_ssize_t>(parameters.required)) check_missing(parameters, slots);
}

void match_classic_call(const Parameters& parameters, PyObject* args, PyObject* kwargs,
                        std::span<PyObject*> slots) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (nargs > static_cast<Py_ssize_t>(parameters.positional)) {
    std::size_t keyword_only = 0;
    Py_ssize_t position = 0;
    PyObject *name, *value;
    while (kwargs != nullptr && PyDict_Next(kwargs, &position, &name, &value)) {
      keyword_only += names_keyword_only(parameters, name);
    }
    raise_too_many(parameters, nargs, keyword_only);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &position, &name, &value)) put_keyword(parameters, name, value, slots);
  }
  if (nargs < static_cast<Py_ssize_t>(parameters.required)) check_missing(parameters, slots);
}

void raise_argument_error(PyObject* type, const char* parameter, const std::string& what) {
  raise(type, std::string("argument '") + parameter + "': " + what);
}

void raise_argument_cast_error(PyObject* object, const char* target, const char* parameter) {
  try {
    raise_cast_error(object, target);
  } catch (const PythonError&) {
    raise_conversion_error(parameter);
  }
}

PyRef to_python_int(PyObject* object, const char* parameter) {
  if (PyLong_Check(object)) return PyRef::borrow(object);
  const NestingGuard nesting;
  PyRef integer(PyNumber_Index(object));
  if (!integer) {
    resume_panic_if_raised();
    raise_conversion_error(parameter);
  }
  return integer;
}

Qubit to_index(PyObject* object, const char* parameter) {
  unsigned long long value;
  if (PyLong_Check(object)) {
    value = read_unsigned(object);
  } else {
    const NestingGuard nesting;  // __index__ may call into the module again
    PyRef integer(PyNumber_Index(object));
    if (!integer) {
      resume_panic_if_raised();
      raise_conversion_error(parameter);
    }
    value = read_unsigned(integer.get());
  }
  if constexpr (sizeof(Qubit) < sizeof(unsigned long long)) {
    if (value > static_cast<unsigned long long>(SIZE_MAX)) {
      raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
  }
  return static_cast<Qubit>(value);
}

double to_real(PyObject* object, const char* parameter) {
  if (PyFloat_Check(object)) return PyFloat_AS_DOUBLE(object);
  PyRef number;
  if (PyLong_Check(object)) {
    number = PyRef::borrow(object);
  } else if (type_has(object, "__float__")) {
    number = PyRef(PyNumber_Float(object));
  } else if (type_has(object, "__index__")) {
    number = PyRef(PyNumber_Index(object));
  } else {
    raise_argument_error(PyExc_TypeError, parameter,
                         std::string("must be real number, not ") + Py_TYPE(object)->tp_name);
  }
  if (!number) {
    resume_panic_if_raised();
    raise_conversion_error(parameter);
  }
  const double value =
      PyFloat_Check(number.get()) ? PyFloat_AS_DOUBLE(number.get()) : PyLong_AsDouble(number.get());
  if (value == -1.0 && PyErr_Occurred()) throw PythonError{};  // an int beyond every double
  return value;
}

std::vector<Qubit> to_index_set(PyObject* object, const char* parameter) {
  const NestingGuard nesting;  // a set subclass's __iter__ may call into the module
  if (!PySet_Check(object) && !PyFrozenSet_Check(object)) {
    try {
      raise_cast_error(object, "set");
    } catch (const PythonError&) {
      raise_conversion_error(parameter);
    }
  }
  std::vector<Qubit> indices;
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) raise_conversion_error(parameter);
  while (PyRef item{PyIter_Next(iterator.get())}) {
    indices.push_back(to_index(item.get(), parameter));
  }
  if (PyErr_Occurred()) {
    resume_panic_if_raised();
    raise_conversion_error(parameter);
  }
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  return indices;
}

IndexSequence to_index_sequence(PyObject* object, const char* parameter, std::size_t limit) {
  IndexSequence sequence;
  // A list or tuple of ints runs no Python code while it is read.
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    PyObject* const* items = PySequence_Fast_ITEMS(object);
    const auto length = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object));
    const std::size_t read = std::min(length, limit);
    bool plain = true;
    for (std::size_t i = 0; i < read && plain; ++i) plain = PyLong_Check(items[i]);
    if (plain) {
      for (std::size_t i = 0; i < read; ++i) sequence.indices.push_back(to_index(items[i], parameter));
      if (length > limit) sequence.longer = std::to_string(length);
      return sequence;
    }
  }
  const NestingGuard nesting;  // iteration and __index__ may call into the module
  if (PyAnySet_Check(object) || PyDict_Check(object) || PyUnicode_Check(object) || PyBytes_Check(object)) {
    raise_argument_cast_error(object, "Sequence[int]", parameter);
  }
  const PyRef iterator = iterate_argument(object, "Sequence[int]", parameter);
  for (std::size_t i = 0;; ++i) {
    const PyRef item = next_item(iterator.get());
    if (!item) return sequence;
    if (i == limit) {
      sequence.longer = count_beyond(object, limit);
      return sequence;
    }
    sequence.indices.push_back(to_index(item.get(), parameter));
  }
}

// A float, or anything float() accepts without parsing text, the same on
// every interpreter (PyPy's PyFloat_AsDouble does not look at __index__).
double to_probability(PyObject* object, const char* parameter) {
  double p;
  if (PyFloat_Check(object)) {
    p = PyFloat_AS_DOUBLE(object);
  } else {
    const NestingGuard nesting;  // __float__ may call into the module again
    p = to_real(object, parameter);
  }
  if (!(p >= 0.0 && p <= 1.0)) {
    char shown[64];
    std::snprintf(shown, sizeof shown, "%.17g", p);
    raise_argument_error(PyExc_ValueError, parameter,
                         std::string("a probability must be in [0, 1], not ") + shown);
  }
  return p;
}

bool to_flag(PyObject* object, const char* parameter) {
  if (object == nullptr || object == Py_False) return false;
  if (object == Py_True) return true;
  raise_argument_cast_error(object, "bool", parameter);
}

std::uint8_t to_result(PyObject* object, const char* parameter) {
  const PyRef integer = PyObject_TypeCheck(object, measurement_result_type())
                            ? PyRef(check(PyNumber_Long(object)))
                            : to_python_int(object, parameter);
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (value == -1 && overflow == 0 && PyErr_Occurred()) throw PythonError{};
  if (overflow == 0 && (value == 0 || value == 1)) return static_cast<std::uint8_t>(value);
  PyRef shown(check(PyObject_Repr(integer.get())));
  raise_argument_error(PyExc_ValueError, parameter,
                       std::string("the outcome must be 0 (+1), 1 (-1) or a MeasurementResult, not ") +
                           check(PyUnicode_AsUTF8(shown.get())));
}

std::vector<std::uint8_t> to_seed_bytes(PyObject* value, const char* parameter) {
  if (PyBool_Check(value)) {
    raise(PyExc_TypeError,
          std::string("argument '") + parameter + "': 'bool' object cannot be interpreted as a seed");
  }
  const PyRef integer = to_python_int(value, parameter);
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (small == -1 && overflow == 0 && PyErr_Occurred()) throw PythonError{};
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    raise(PyExc_ValueError,
          std::string("argument '") + parameter + "': can't convert negative int to a seed");
  }
  if (overflow == 0) return little_endian_bytes(static_cast<unsigned long long>(small));
  return long_bytes(integer.get());
}

Utf8Text::Utf8Text(PyObject* text) {
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
  if (utf8 == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
    PyErr_Clear();
    passed_ = PyRef(check(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass")));
    char* data = nullptr;
    check_status(PyBytes_AsStringAndSize(passed_.get(), &data, &length));
    utf8 = data;
  }
  view_ = std::string_view(utf8, static_cast<std::size_t>(length));
}

std::string_view to_text(PyObject* object, const char* parameter) {
  if (!PyUnicode_Check(object)) raise_argument_cast_error(object, "str", parameter);
  const Utf8Text text(object);
  const std::string_view bytes = text.view();
  if (!text.has_surrogates()) return bytes;  // the str's own UTF-8, alive as long as it is
  const std::size_t at = first_surrogate(bytes);
  const std::size_t line_start =
      bytes.rfind('\n', at) == std::string_view::npos ? 0 : bytes.rfind('\n', at) + 1;
  std::size_t line = 1;
  for (std::size_t i = 0; i < line_start; ++i) line += bytes[i] == '\n';
  const unsigned point = 0xD000u | (static_cast<unsigned char>(bytes[at + 1]) & 0x3Fu) << 6 |
                         (static_cast<unsigned char>(bytes[at + 2]) & 0x3Fu);
  char shown[16];
  std::snprintf(shown, sizeof shown, "U+%04X", point);
  throw InvalidInput("line " + std::to_string(line) + ", column " + std::to_string(at - line_start + 1) +
                     ": unexpected lone surrogate " + shown + " (UTF-8 cannot encode it)");
}

}  // namespace ordavine::binding
