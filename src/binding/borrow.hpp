// The borrow flag of an instance: 0 when free, all bits set while a mutating
// call holds it, otherwise the number of read-only calls holding it.  Python
// code run during a call (an argument's `__index__`) may re-enter the same
// object; the flag turns that into a RuntimeError instead of a change to a
// register that is in the middle of an operation.
#pragma once

#include <atomic>
#include <cstddef>

#include "binding/errors.hpp"

namespace ordavine::binding {

using BorrowFlag = std::atomic<std::size_t>;

inline constexpr std::size_t kExclusivelyBorrowed = ~std::size_t{0};

enum class Access { exclusive, shared };

template <Access access>
class Borrow;

template <>
class Borrow<Access::exclusive> {
 public:
  explicit Borrow(BorrowFlag& flag) : flag_(flag) {
    std::size_t expected = 0;
    if (!flag_.compare_exchange_strong(expected, kExclusivelyBorrowed, std::memory_order_acquire)) {
      raise(PyExc_RuntimeError, "Already borrowed");
    }
  }
  ~Borrow() { flag_.store(0, std::memory_order_release); }
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;

 private:
  BorrowFlag& flag_;
};

template <>
class Borrow<Access::shared> {
 public:
  explicit Borrow(BorrowFlag& flag) : flag_(flag) {
    std::size_t current = flag_.load(std::memory_order_relaxed);
    do {
      if (current == kExclusivelyBorrowed) raise(PyExc_RuntimeError, "Already mutably borrowed");
    } while (!flag_.compare_exchange_weak(current, current + 1, std::memory_order_acquire));
  }
  ~Borrow() { flag_.fetch_sub(1, std::memory_order_release); }
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;

 private:
  BorrowFlag& flag_;
};

}  // namespace ordavine::binding
