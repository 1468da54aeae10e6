// Test support: an allocator that fails on request.  Replaces the global
// operator new and delete of the program that includes it (include it in
// exactly one file of a program): setting allocations_until_failure to k
// makes the k-th allocation from then on (0-based) fail, once; -1 disarms.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
long allocations_until_failure = -1;  // -1: disarmed

void* allocate(std::size_t size) noexcept {
  if (allocations_until_failure >= 0 && allocations_until_failure-- == 0) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}
void* allocate_or_throw(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
}  // namespace

// Every replaceable form without alignment, so that new and delete always
// pair up (the sanitizer checks that they do).
void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
