// What the interpreter's collector is told of the memory a register holds.
//
// PyPy frees an object when its garbage collector gets to it, and it
// schedules major collections by the memory it knows of.  A register's
// nodes and lists sit behind a small object, so without being told PyPy
// lets discarded registers pile up without bound: 150 registers of 10^6
// qubits made in a loop took 4.6 GB, and 120 stars of 4000 qubits measured
// in Y (which makes their lists long) 3.3 GB and then MemoryError, where
// CPython stays at 147 MB.  Reported as memory pressure, what registers
// come to hold brings on collections, and such loops level off.
//
// PyPy's C API takes pressure for new memory only: PyTraceMalloc_Untrack is
// an empty stub there, and the pressure is tied to no object.  So a
// register reports what it holds beyond the most it has reported before,
// counted after its construction and after every call that may change it
// (the node array from its capacity, the lists from the count of list
// blocks, so that the cost is O(1) a call); one that shrinks and grows back
// within memory it has reported adds nothing.
//
// CPython frees by reference count: there is nothing to report, and
// nothing is counted.
#pragma once

#include <cstddef>
#include <type_traits>

#include "binding/python.hpp"
#include "register/list_bytes.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

#ifdef PYPY_TRACEMALLOC
inline constexpr bool kReportMemory = true;
#else
inline constexpr bool kReportMemory = false;
#endif

// The window that counts list blocks where memory is reported, and one
// that counts nothing where it is not.
struct NoListBytesWindow {
  std::ptrdiff_t change() const noexcept { return 0; }
};
using ReportedListBytes = std::conditional_t<kReportMemory, ListBytesWindow, NoListBytesWindow>;

// What a register holds and has told the collector of.
struct HeldMemory {
  std::size_t list_bytes = 0;  // the blocks of its lists
  std::size_t reported = 0;    // the most it has reported holding

  // Takes in a change of the list blocks and reports what the register
  // at `where` holds beyond the most reported so far.
  void update(const void* where, const Register& reg, std::ptrdiff_t list_change) noexcept {
    const auto lists = static_cast<std::ptrdiff_t>(list_bytes) + list_change;
    list_bytes = lists > 0 ? static_cast<std::size_t>(lists) : 0;
    const std::size_t held = list_bytes + reg.nodes().capacity() * sizeof(Node);
    if (held <= reported) return;
#ifdef PYPY_TRACEMALLOC
    PyTraceMalloc_Track(0, reinterpret_cast<std::uintptr_t>(where), held - reported);
#else
    static_cast<void>(where);
#endif
    reported = held;
  }
};

// Counts what a register's lists change while it lives, around a call
// that may change them, and then updates what the register holds.
class HeldMemoryUpdate {
 public:
  HeldMemoryUpdate(HeldMemory& held, const Register& reg, const void* where) noexcept
      : held_(held), reg_(reg), where_(where) {}
  ~HeldMemoryUpdate() {
    if constexpr (kReportMemory) held_.update(where_, reg_, lists_.change());
  }
  HeldMemoryUpdate(const HeldMemoryUpdate&) = delete;
  HeldMemoryUpdate& operator=(const HeldMemoryUpdate&) = delete;

 private:
  HeldMemory& held_;
  const Register& reg_;
  const void* where_;
  // Closes after the update above has read it.
  [[no_unique_address]] ReportedListBytes lists_;
};

}  // namespace ordavine::binding
