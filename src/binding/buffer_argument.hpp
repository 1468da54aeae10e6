// A buffer argument, the one way the module reads any buffer: the saved
// state of `from_bytes`, the edge array and the VOP bytes of `from_graph`.
//
// The view is always asked for with its format, shape and strides, never
// with the simple request: PyPy's C-API layer answers that one with the
// exporter's memory whatever the view shows (`memoryview(b)[::2]` came
// back as the bytes of `b`), where CPython refuses a view that is not
// contiguous.  With the strides in hand, every view reads as the items it
// shows, in C order, on both interpreters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "binding/python.hpp"

namespace ordavine::binding {

class BufferArgument {
 public:
  // The view `object` exports, released on exit.  An object without one
  // is the TypeError "argument '{parameter}': '{type}' object cannot be
  // cast as '{target}'"; an exporter's own error passes on, and an
  // indirect layout (suboffsets) is refused by name.
  BufferArgument(PyObject* object, const char* target, const char* parameter);
  ~BufferArgument() { PyBuffer_Release(&view_); }
  BufferArgument(const BufferArgument&) = delete;
  BufferArgument& operator=(const BufferArgument&) = delete;

  const Py_buffer& view() const noexcept { return view_; }
  // The number of items the view shows, and their size.
  std::size_t items() const noexcept { return static_cast<std::size_t>(view_.len / view_.itemsize); }
  std::size_t item_size() const noexcept { return static_cast<std::size_t>(view_.itemsize); }
  // Whether the items lie one after another in C order.
  bool contiguous() const noexcept;
  // The stride of axis `axis` in bytes (the item size along a flat view).
  Py_ssize_t stride(int axis) const noexcept;

  // The bytes of the items in C order: the exporter's own memory when the
  // view is contiguous, else a copy held by this object.
  std::span<const std::uint8_t> bytes();
  // The first `count` bytes of that order (fewer when the view is
  // shorter), copied, without copying the rest.
  std::vector<std::uint8_t> first_bytes(std::size_t count) const;

 private:
  // Copies the bytes of the items in C order until `out` is full.
  void gather(std::span<std::uint8_t> out) const;

  Py_buffer view_{};
  std::vector<std::uint8_t> copy_;
};

}  // namespace ordavine::binding
