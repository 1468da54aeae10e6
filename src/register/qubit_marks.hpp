// Per-qubit scratch values that can be cleared in constant time.
//
// The fast graph updates need "is this qubit in that list, and where" in
// O(1).  A value per qubit, valid only while its stamp equals the current
// epoch, gives that without clearing an n-sized array for every operation.
// Each thread keeps its own (see `thread_marks`), grown to the largest
// register it has worked on, and only the updates on high-degree vertices
// use it.
#pragma once

#include <algorithm>
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
    if (slots_.size() < count) slots_.resize(count);
    if (++epoch_ == 0) {  // the stamps wrapped: forget them all once
      for (Slot& slot : slots_) slot.stamp = 0;
      epoch_ = 1;
    }
  }

  // Room for qubits below `count`, keeping the present marking.
  void grow(std::size_t count) {
    if (slots_.size() < count) [[unlikely]]
      slots_.resize(std::max(count, 2 * slots_.size()));
  }

  Value get(Qubit q) const {
    const Slot& slot = slots_[q];
    return slot.stamp == epoch_ ? slot.value : Value{};
  }

  Value& operator[](Qubit q) {
    Slot& slot = slots_[q];
    if (slot.stamp != epoch_) {
      slot.stamp = epoch_;
      slot.value = Value{};
    }
    return slot.value;
  }

 private:
  // Stamp and value side by side: one cache line per look-up.
  struct Slot {
    std::uint32_t stamp = 0;
    Value value{};
  };
  std::vector<Slot> slots_;
  std::uint32_t epoch_ = 0;
};

}  // namespace ordavine
