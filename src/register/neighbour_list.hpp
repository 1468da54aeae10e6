// The ordered neighbour list of one qubit.
//
// Most qubits of a sparse state have a handful of neighbours, so the list
// holds up to four entries inside itself and allocates only beyond that;
// entries are 32 bits wide (registers stay below 2^32 qubits), which keeps a
// node at 32 bytes.  A list on the heap may also keep free room in front of
// its entries: removing an entry near the front moves the entries before it
// one place on instead of every entry after it one place back, so a list
// that loses its oldest entries and gains new ones at the end (the front of
// a measurement sweep) costs what changes, not its whole length.
//
// The interface is that of a vector of entries; entries convert to Qubit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "failure/failure.hpp"
#include "register/list_bytes.hpp"

namespace ordavine {

using Qubit = std::size_t;

class NeighbourList {
 public:
  using value_type = std::uint32_t;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = value_type&;
  using const_reference = const value_type&;
  using pointer = value_type*;
  using const_pointer = const value_type*;
  using iterator = value_type*;
  using const_iterator = const value_type*;

  static constexpr std::size_t kInline = 4;
  // The longest list and the largest entry a 32-bit field holds.
  static constexpr std::size_t kMaxLength = UINT32_MAX;

  NeighbourList() noexcept = default;
  NeighbourList(std::initializer_list<value_type> entries) { assign(entries.begin(), entries.end()); }
  // From a vector of qubit indices (each below kMaxLength).
  NeighbourList(const std::vector<Qubit>& entries) { assign(entries.begin(), entries.end()); }

  NeighbourList(const NeighbourList& other) { assign(other.begin(), other.end()); }
  NeighbourList(NeighbourList&& other) noexcept { steal(other); }
  NeighbourList& operator=(const NeighbourList& other) {
    if (this != &other) NeighbourList(other).swap(*this);
    return *this;
  }
  NeighbourList& operator=(NeighbourList&& other) noexcept {
    if (this != &other) {
      release();
      steal(other);
    }
    return *this;
  }
  ~NeighbourList() { release(); }

  void swap(NeighbourList& other) noexcept {
    NeighbourList held(std::move(other));
    other = std::move(*this);
    *this = std::move(held);
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  // Entries the list can hold without allocating, counted from data().
  std::size_t capacity() const noexcept { return on_heap() ? capacity_ - heap_.front : kInline; }
  static constexpr std::size_t max_size() noexcept { return kMaxLength; }
  // The bytes of the list's block on the heap (none while it is inside).
  std::size_t heap_bytes() const noexcept { return on_heap() ? capacity_ * sizeof(value_type) : 0; }

  value_type* data() noexcept { return on_heap() ? heap_.block + heap_.front : inline_; }
  const value_type* data() const noexcept { return on_heap() ? heap_.block + heap_.front : inline_; }
  iterator begin() noexcept { return data(); }
  iterator end() noexcept { return data() + size_; }
  const_iterator begin() const noexcept { return data(); }
  const_iterator end() const noexcept { return data() + size_; }
  value_type& operator[](std::size_t i) noexcept { return data()[i]; }
  const value_type& operator[](std::size_t i) const noexcept { return data()[i]; }
  value_type& front() noexcept { return data()[0]; }
  const value_type& front() const noexcept { return data()[0]; }
  value_type& back() noexcept { return data()[size_ - 1]; }
  const value_type& back() const noexcept { return data()[size_ - 1]; }

  // Room for `count` entries from data() on.  Free room in front is reused
  // by moving the entries down when it is at least as large as the list, so
  // that a list used as a queue moves each entry a bounded number of times;
  // otherwise a new block of exactly `count` entries is had.  May throw
  // std::bad_alloc, and then the list is as it was.
  void reserve(std::size_t count) {
    if (count <= capacity()) return;
    if (count > kMaxLength) fail_capacity();
    if (on_heap() && count <= capacity_ && heap_.front >= size_) {
      std::memmove(heap_.block, heap_.block + heap_.front, size_ * sizeof(value_type));
      heap_.front = 0;
      return;
    }
    move_to_block(std::max(count, kInline + 1));  // a block is always larger than inside
  }

  void push_back(value_type entry) {
    if (size_ == capacity()) [[unlikely]] {
      reserve(std::max<std::size_t>(size_ + 1, 2 * capacity()));
    }
    data()[size_++] = entry;
  }
  void pop_back() noexcept { --size_; }
  // Keeps the first `count` entries (count at most size()).
  void truncate(std::size_t count) noexcept { size_ = static_cast<std::uint32_t>(count); }
  // Takes entries written past the end, through data(), into the list, up
  // to `count` entries in all (count at least size(), at most capacity()):
  // a rewrite that had its room first appends without a check per entry.
  void adopt_written(std::size_t count) noexcept { size_ = static_cast<std::uint32_t>(count); }

  // Empties the list, keeping its storage.
  void clear() noexcept {
    size_ = 0;
    if (on_heap()) heap_.front = 0;
  }

  // New entries read 0.
  void resize(std::size_t count) {
    if (count > capacity()) [[unlikely]]
      reserve(count);
    if (count > size_) std::fill(data() + size_, data() + count, value_type{0});
    size_ = static_cast<std::uint32_t>(count);
  }

  template <class It>
  void assign(It first, It last) {
    const auto count = static_cast<std::size_t>(std::distance(first, last));
    NeighbourList fresh;
    fresh.reserve(count);
    value_type* out = fresh.data();
    for (; first != last; ++first) *out++ = static_cast<value_type>(*first);
    fresh.size_ = static_cast<std::uint32_t>(count);
    swap(fresh);
  }

  // Removes the entry at `at`, keeping the order of the rest: the entries on
  // the shorter side of it move.  Returns the position of the next entry.
  iterator erase(const_iterator at) noexcept {
    const auto i = static_cast<std::size_t>(at - data());
    if (on_heap() && i < size_ / 2) {
      value_type* entries = data();
      std::memmove(entries + 1, entries, i * sizeof(value_type));
      ++heap_.front;
    } else if (on_heap()) {
      value_type* entries = data();
      std::memmove(entries + i, entries + i + 1, (size_ - i - 1) * sizeof(value_type));
    } else {
      // At most three entries move: a loop beats a call.
      for (std::size_t j = i + 1; j < size_; ++j) inline_[j - 1] = inline_[j];
    }
    --size_;
    return data() + i;
  }

  // A list on the heap that fits inside again moves back and frees its
  // block.  Updates reserve for the longest a list may grow on the way, so
  // a list of four can be on the heap when they end; settling it then keeps
  // sparse states at one node per qubit.
  void settle() noexcept {
    if (!on_heap() || size_ > kInline) return;
    value_type held[kInline];
    std::memcpy(held, data(), size_ * sizeof(value_type));
    release();
    std::memcpy(inline_, held, size_ * sizeof(value_type));
  }

  // Gives back the room the list does not use: a list that fits inside
  // its node moves back there; a longer one moves onto a block of its
  // length when that can be had, and otherwise keeps its block.  For an
  // update that reserved room and then failed.
  void shrink_to_fit() noexcept {
    if (!on_heap()) return;
    if (size_ <= kInline) {
      settle();
      return;
    }
    if (capacity_ == size_) return;
    try {
      move_to_block(size_);
    } catch (const std::bad_alloc&) {
      // Too little memory even for less: the list keeps the block it has.
    }
  }

  // Removes the first `count` entries; the room they leave stays in front.
  void drop_front(std::size_t count) noexcept {
    if (on_heap()) {
      heap_.front += static_cast<std::uint32_t>(count);
    } else {
      std::memmove(inline_, inline_ + count, (size_ - count) * sizeof(value_type));
    }
    size_ -= static_cast<std::uint32_t>(count);
  }

  operator std::vector<Qubit>() const { return std::vector<Qubit>(begin(), end()); }

  friend bool operator==(const NeighbourList& a, const NeighbourList& b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator==(const NeighbourList& a, const std::vector<Qubit>& b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](value_type x, Qubit y) { return Qubit{x} == y; });
  }

 private:
  bool on_heap() const noexcept { return capacity_ > kInline; }

  void move_to_block(std::size_t count) {
    std::allocator<value_type> allocator;
    value_type* block = allocator.allocate(count);
    list_block_bytes += static_cast<std::ptrdiff_t>(count * sizeof(value_type));
    std::memcpy(block, data(), size_ * sizeof(value_type));
    release();
    heap_.block = block;
    heap_.front = 0;
    capacity_ = static_cast<std::uint32_t>(count);
  }

  void release() noexcept {
    if (on_heap()) {
      std::allocator<value_type>().deallocate(heap_.block, capacity_);
      list_block_bytes -= static_cast<std::ptrdiff_t>(capacity_ * sizeof(value_type));
    }
    capacity_ = kInline;
  }

  void steal(NeighbourList& other) noexcept {
    size_ = other.size_;
    capacity_ = other.capacity_;
    if (other.on_heap()) {
      heap_ = other.heap_;
    } else {
      std::memcpy(inline_, other.inline_, sizeof inline_);
    }
    other.size_ = 0;
    other.capacity_ = kInline;
  }

  struct Block {
    value_type* block;
    std::uint32_t front;  // free entries before data()
  };

  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = kInline;  // of the block when on the heap
  union {
    value_type inline_[kInline] = {};
    Block heap_;
  };
};

static_assert(sizeof(NeighbourList) == 24);

}  // namespace ordavine
