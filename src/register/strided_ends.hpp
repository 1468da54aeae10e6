// Edge ends read in place from memory laid out with strides, in either
// byte order: the layout of an (m, 2) array of any strides, or of a flat
// (2m,) one, as a buffer describes it.  Reading them in place costs nothing
// in proportion to how many edges the layout claims, which a copy would
// (a zero stride claims any number of edges from a few real bytes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace ordavine {

template <class Index>
class StridedEnds {
 public:
  // `ends` entries; end 2i + j of pair i at base + i * pair_stride + j * end_stride.
  StridedEnds(const unsigned char* base, std::size_t ends, std::ptrdiff_t pair_stride,
              std::ptrdiff_t end_stride, bool swapped) noexcept
      : base_(base), size_(ends), pair_stride_(pair_stride), end_stride_(end_stride), swapped_(swapped) {}

  std::size_t size() const noexcept { return size_; }

  Index operator[](std::size_t i) const noexcept {
    const auto pair = static_cast<std::ptrdiff_t>(i / 2);
    const auto end = static_cast<std::ptrdiff_t>(i % 2);
    unsigned char bytes[sizeof(Index)];
    std::memcpy(bytes, base_ + pair * pair_stride_ + end * end_stride_, sizeof(Index));
    if (swapped_) std::reverse(bytes, bytes + sizeof(Index));
    Index value;
    std::memcpy(&value, bytes, sizeof(Index));
    return value;
  }

  // The first `count` ends.
  StridedEnds first(std::size_t count) const noexcept {
    return StridedEnds(base_, count, pair_stride_, end_stride_, swapped_);
  }

  // Whether every pair is read from the same place, so that each repeats
  // the first one.
  bool every_pair_alike() const noexcept { return pair_stride_ == 0; }

 private:
  const unsigned char* base_;
  std::size_t size_;
  std::ptrdiff_t pair_stride_;
  std::ptrdiff_t end_stride_;
  bool swapped_;
};

}  // namespace ordavine
