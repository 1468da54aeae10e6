// An owned reference to an interpreter object, released when it goes out of
// scope, so that every failure path drops what it built.
#pragma once

#include <utility>

#include "binding/python.hpp"

namespace ordavine::binding {

class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (which may be null).
  explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
  static PyRef borrow(PyObject* borrowed) noexcept {
    Py_XINCREF(borrowed);
    return PyRef(borrowed);
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace ordavine::binding
