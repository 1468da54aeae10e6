#include "binding/arguments.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "binding/py_ref.hpp"

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

}  // namespace ordavine::binding
