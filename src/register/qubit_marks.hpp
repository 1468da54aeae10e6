// Per-qubit scratch values that can be cleared in constant time.
//
// The fast graph updates need "is this qubit in that list, and where" in
// O(1).  A value per qubit, valid only while its stamp equals the current
// epoch, gives that without clearing an n-sized array for every operation.
// Each thread keeps its own (see `thread_marks`), grown to the largest
// register it has worked on, and only the updates on high-degree vertices
// use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "register/register.hpp"

namespace ordavine {

template <class Value>
class QubitMarks {
 public:
  // Starts a fresh marking for qubits below `count`: every value reads as
  // Value{} until it is set.
  void begin(std::size_t count) {
    if (stamps_.size() < count) {
      // Values first: if either allocation fails, the stamps still cover
      // no more qubits than the values, and the next call grows them again.
      values_.resize(count);
      stamps_.resize(count, 0);
    }
    if (++epoch_ == 0) {  // the stamps wrapped: forget them all once
      std::fill(stamps_.begin(), stamps_.end(), 0);
      epoch_ = 1;
    }
  }

  Value get(Qubit q) const { return stamps_[q] == epoch_ ? values_[q] : Value{}; }

  Value& operator[](Qubit q) {
    if (stamps_[q] != epoch_) {
      stamps_[q] = epoch_;
      values_[q] = Value{};
    }
    return values_[q];
  }

 private:
  std::vector<std::uint32_t> stamps_;
  std::vector<Value> values_;
  std::uint32_t epoch_ = 0;
};

}  // namespace ordavine
