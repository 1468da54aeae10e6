// One bit per qubit, all clear between uses.
//
// A long list is filtered against a short set of qubits by testing one bit
// per entry: the bit array (n/8 bytes) stays in cache where a per-qubit
// record would not, so the scan costs little more than reading the list.
// Whoever sets bits clears exactly those bits again before handing the
// array on, which costs what setting them cost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "register/register.hpp"

namespace ordavine {

class QubitBits {
 public:
  // Room for qubits below `count`; may throw std::bad_alloc, and then the
  // bits are as they were.
  void reserve(std::size_t count) {
    const std::size_t words = (count + 63) / 64;
    if (words_.size() < words) words_.resize(words);
  }

  bool test(Qubit q) const noexcept { return (words_[q >> 6] >> (q & 63)) & 1; }
  void set(Qubit q) noexcept { words_[q >> 6] |= std::uint64_t{1} << (q & 63); }
  void reset(Qubit q) noexcept { words_[q >> 6] &= ~(std::uint64_t{1} << (q & 63)); }

 private:
  std::vector<std::uint64_t> words_;
};

}  // namespace ordavine
