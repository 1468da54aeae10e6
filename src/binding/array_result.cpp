#include "binding/array_result.hpp"

#include <string>

#include "binding/errors.hpp"
#include "register/out_of_memory.hpp"
#include "shot_data/large_pages.hpp"

namespace ordavine::binding {
namespace {

// numpy, imported once per process; null where it cannot be imported.
PyObject* numpy_module() {
  static PyObject* numpy = nullptr;
  static bool tried = false;
  if (!tried) {
    numpy = PyImport_ImportModule("numpy");
    if (numpy == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw PythonError{};
      PyErr_Clear();
    }
    tried = true;
  }
  return numpy;
}

// The writable bytes of a C-contiguous object.
std::span<std::uint8_t> writable_bytes(PyObject* object) {
  Py_buffer view;
  check_status(PyObject_GetBuffer(object, &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS));
  const std::span<std::uint8_t> bytes(static_cast<std::uint8_t*>(view.buf),
                                      static_cast<std::size_t>(view.len));
  PyBuffer_Release(&view);  // the array owns the memory and outlives the span
  return bytes;
}

}  // namespace

ArrayResult::ArrayResult(std::uint64_t rows, std::uint64_t columns, bool packed, const char* what) {
  const std::uint64_t limit = static_cast<std::uint64_t>(PY_SSIZE_T_MAX);
  if (columns != 0 && rows > limit / columns) throw could_not_allocate(rows * columns, what);
  const auto r = static_cast<Py_ssize_t>(rows), c = static_cast<Py_ssize_t>(columns);
  PyObject* numpy = numpy_module();
  PyObject* made = nullptr;
  if (numpy != nullptr) {
    PyRef empty(check(PyObject_GetAttrString(numpy, "empty")));
    PyRef dtype(check(PyObject_GetAttrString(numpy, packed ? "uint8" : "bool_")));
    PyRef shape(check(Py_BuildValue("(nn)", r, c)));
    made = PyObject_CallFunctionObjArgs(empty.get(), shape.get(), dtype.get(), nullptr);
  } else if (r == 0 || c == 0) {
    // memoryview.cast refuses a shape with a zero in it, so an empty result
    // is described directly: it needs no memory behind it.  The memoryview
    // copies the shape and strides; the format is a literal.
    static char nothing = 0;
    Py_ssize_t shape[2] = {r, c}, strides[2] = {c, 1};
    Py_buffer empty{};
    empty.buf = &nothing;
    empty.itemsize = 1;
    empty.format = const_cast<char*>(packed ? "B" : "?");
    empty.ndim = 2;
    empty.shape = shape;
    empty.strides = strides;
    made = PyMemoryView_FromBuffer(&empty);
  } else {
    PyRef buffer(PyByteArray_FromStringAndSize(nullptr, r * c));
    if (buffer) {
      PyRef view(check(PyMemoryView_FromObject(buffer.get())));
      made = PyObject_CallMethod(view.get(), "cast", "s(nn)", packed ? "B" : "?", r, c);
    }
  }
  if (made == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonError{};
    PyErr_Clear();
    throw could_not_allocate(rows * columns, what);
  }
  object_ = PyRef(made);
  bytes_ = writable_bytes(made);
  shot_data::advise_large_pages(bytes_);
}

}  // namespace ordavine::binding
