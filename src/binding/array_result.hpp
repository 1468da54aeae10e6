// Two-dimensional results of the compiled samplers: numpy arrays where
// numpy can be imported (bool, or uint8 when bit-packed), else memoryviews
// of the same shape and format ('?' or 'B') over a bytearray, which numpy
// takes without a copy.  The core fills the rows in place.
#pragma once

#include <cstdint>
#include <span>

#include "binding/py_ref.hpp"

namespace ordavine::binding {

class ArrayResult {
 public:
  // A C-contiguous rows x columns array; `what` names it when memory runs out.
  ArrayResult(std::uint64_t rows, std::uint64_t columns, bool packed, const char* what);

  std::span<std::uint8_t> bytes() const { return bytes_; }
  PyObject* release() { return object_.release(); }

 private:
  PyRef object_;
  std::span<std::uint8_t> bytes_;
};

}  // namespace ordavine::binding
