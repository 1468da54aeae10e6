#include "binding/errors.hpp"

#include <cstdio>
#include <cstdlib>

#include "binding/py_ref.hpp"

namespace ordavine::binding {
namespace {

constexpr const char* kPanicName = "pyo3_runtime.PanicException";
constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when native code of an extension, called from Python,\n"
    "fails with an internal abort.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

PyObject* panic_type = nullptr;  // created once, kept for the process

PyObject* panic_type_or_create() {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
    if (panic_type == nullptr) {
      PyErr_Clear();
      report_failure("Failed to initialize new exception type.", std::source_location::current());
      std::abort();
    }
  }
  return panic_type;
}

}  // namespace

void raise(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw PythonError{};
}

void raise(PyObject* type, const std::string& message) { raise(type, message.c_str()); }

std::string qualified_name(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030B0000 && !defined(PYPY_VERSION)
  PyRef name(PyType_GetQualName(type));
#else
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
#endif
  const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
  if (text == nullptr) {
    // A type without a usable __qualname__ is named by its tp_name; an
    // error that is not about the name (MemoryError, KeyboardInterrupt
    // from a metaclass) stands.
    if (!PyErr_ExceptionMatches(PyExc_AttributeError) && !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
      throw PythonError{};
    }
    PyErr_Clear();
    return type->tp_name;
  }
  return text;
}

namespace {

// The name of the type of `object` in a cast error: its qualified name,
// put after its module when that alone would read as the target itself
// (numpy's bool is "bool" too; "'bool' object cannot be cast as 'bool'"
// would name no difference).
std::string cast_type_name(PyObject* object, const char* target) {
  std::string name = qualified_name(Py_TYPE(object));
  if (name != target) return name;
  PyRef module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__module__"));
  const char* text = module && PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8(module.get()) : nullptr;
  if (text == nullptr) {
    // No module to name: the plain name stands; another error stands too.
    if (PyErr_Occurred()) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError) &&
          !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
        throw PythonError{};
      }
      PyErr_Clear();
    }
    return name;
  }
  return std::string(text) + "." + name;
}

}  // namespace

void raise_cast_error(PyObject* object, const char* target) {
  std::string message = "'";
  message += cast_type_name(object, target);
  message += "' object cannot be cast as '";
  message += target;
  message += "'";
  raise(PyExc_TypeError, message);
}

PyObject* existing_panic_type() noexcept { return panic_type; }

void set_panic(const std::string& message) noexcept {
  PyObject* type = panic_type_or_create();
  PyRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return;  // the interpreter's MemoryError stands instead
  PyErr_SetObject(type, text.get());
}

void fail_at_boundary() noexcept {
  report_failure("uncaught panic at ffi boundary", std::source_location::current());
  std::abort();
}

}  // namespace ordavine::binding
