// Allocation failures that say what could not be had and how much.  A bare
// std::bad_alloc reaches the caller as a MemoryError without a word; where
// the core allocates something large on a caller's behalf (a record, a
// register, rows of shots), it throws OutOfMemory instead, whose text the
// binding passes on.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <utility>

namespace ordavine {

class OutOfMemory : public std::bad_alloc {
 public:
  explicit OutOfMemory(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// "could not allocate {bytes} bytes for {what}".
inline OutOfMemory could_not_allocate(std::uint64_t bytes, const std::string& what) {
  return OutOfMemory("could not allocate " + std::to_string(bytes) + " bytes for " + what);
}

// Runs `make`, which allocates about `bytes` bytes for what `what()`
// names (asked only on failure), turning a bare std::bad_alloc into
// could_not_allocate(bytes, what()).  An OutOfMemory from inside passes
// unchanged: it already says more.
template <class What, class Make>
decltype(auto) allocate_for(std::uint64_t bytes, What&& what, Make&& make) {
  try {
    return make();
  } catch (const OutOfMemory&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw could_not_allocate(bytes, what());
  }
}

}  // namespace ordavine
