#include "binding/buffer_argument.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "binding/arguments.hpp"

namespace ordavine::binding {
namespace {

// CPython's limit on a buffer's dimensions (PyPy's headers do not name it).
constexpr int kMaxDimensions = 64;

}  // namespace

BufferArgument::BufferArgument(PyObject* object, const char* target, const char* parameter) {
  if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) < 0) {
    // Only an object without a buffer is the cast error; an exporter's own
    // error passes on.
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};
    PyErr_Clear();
    raise_argument_cast_error(object, target, parameter);
  }
  const bool described = view_.itemsize > 0 && view_.ndim >= 0 && view_.ndim <= kMaxDimensions &&
                         (view_.ndim == 0 || view_.shape != nullptr);
  if (!described || view_.suboffsets != nullptr) {
    PyBuffer_Release(&view_);
    if (!described) raise_argument_cast_error(object, target, parameter);
    raise_argument_error(PyExc_TypeError, parameter,
                         "a buffer with an indirect layout (suboffsets) is not supported");
  }
}

Py_ssize_t BufferArgument::stride(int axis) const noexcept {
  if (view_.strides != nullptr) return view_.strides[axis];
  Py_ssize_t stride = view_.itemsize;
  for (int d = view_.ndim; --d > axis;) stride *= view_.shape[d];
  return stride;
}

bool BufferArgument::contiguous() const noexcept {
  if (view_.strides == nullptr) return true;
  Py_ssize_t expected = view_.itemsize;
  for (int d = view_.ndim; d-- > 0;) {
    if (view_.shape[d] == 0) return true;  // no items at all
    if (view_.shape[d] > 1 && view_.strides[d] != expected) return false;
    expected *= view_.shape[d];
  }
  return true;
}

std::span<const std::uint8_t> BufferArgument::bytes() {
  const auto length = static_cast<std::size_t>(view_.len);
  if (contiguous()) return {static_cast<const std::uint8_t*>(view_.buf), length};
  copy_.resize(length);
  gather(copy_);
  return copy_;
}

std::vector<std::uint8_t> BufferArgument::first_bytes(std::size_t count) const {
  std::vector<std::uint8_t> head(std::min(count, static_cast<std::size_t>(view_.len)));
  gather(head);
  return head;
}

void BufferArgument::gather(std::span<std::uint8_t> out) const {
  // An odometer over the indices in C order, the last axis fastest, with
  // the byte offset of the current item kept alongside.
  std::array<Py_ssize_t, kMaxDimensions> index{};
  const auto* base = static_cast<const std::uint8_t*>(view_.buf);
  const std::size_t size = item_size();
  Py_ssize_t offset = 0;
  for (std::size_t written = 0; written < out.size();) {
    const std::size_t take = std::min(size, out.size() - written);
    std::memcpy(out.data() + written, base + offset, take);
    written += take;
    for (int d = view_.ndim; d-- > 0;) {
      offset += stride(d);
      if (++index[static_cast<std::size_t>(d)] < view_.shape[d]) break;
      offset -= stride(d) * view_.shape[d];
      index[static_cast<std::size_t>(d)] = 0;
    }
  }
}

}  // namespace ordavine::binding
