// The bytes of neighbour-list blocks held on this thread, counted as blocks
// are had and given back, so that what an operation changes in a
// register's lists is known in O(1): the count after it less the count
// before.  Only the lists' own blocks count; the node array's size is read
// from the register.
//
// A window takes the change of what runs inside it and then sets the count
// back, so that windows nest: an operation inside another one (Python code
// run while a call converts its arguments may call the module again, or
// drop another register) is not counted twice.
#pragma once

#include <cstddef>

namespace ordavine {

inline thread_local std::ptrdiff_t list_block_bytes = 0;

// The count is found once a window (finding thread storage is a call in
// a shared library, and windows open around calls at the interpreter's
// call floor).
class ListBytesWindow {
 public:
  ListBytesWindow() noexcept : count_(list_block_bytes), start_(count_) {}
  ~ListBytesWindow() { count_ = start_; }
  ListBytesWindow(const ListBytesWindow&) = delete;
  ListBytesWindow& operator=(const ListBytesWindow&) = delete;

  // Bytes of list blocks had, less those given back, since the window opened.
  std::ptrdiff_t change() const noexcept { return count_ - start_; }

 private:
  std::ptrdiff_t& count_;
  std::ptrdiff_t start_;
};

}  // namespace ordavine
