// The one place that includes the interpreter's headers, with the small
// fallbacks for calls that an interpreter's C API lacks.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace ordavine::binding {

// Whether instances of heap types hold a reference to their type that the
// deallocator must release.  PyPy's object layer keeps that reference itself.
#ifdef PYPY_VERSION
inline constexpr bool kInstancesOwnTheirType = false;
#else
inline constexpr bool kInstancesOwnTheirType = true;
#endif

// The flag that makes calling a class raise TypeError exists from Python
// 3.10 on; before that the class gets a constructor slot that refuses.
#ifdef Py_TPFLAGS_DISALLOW_INSTANTIATION
inline constexpr unsigned long kDisallowInstantiation = Py_TPFLAGS_DISALLOW_INSTANTIATION;
#else
inline constexpr unsigned long kDisallowInstantiation = 0;
#endif

// PyPy frees an object when its garbage collector gets to it, and it
// schedules major collections by the memory it knows of.  A register's
// nodes sit behind a small object, so without being told PyPy lets
// discarded registers pile up without bound (150 registers of 10^6 qubits
// made in a loop: 4.6 GB and still growing).  Reported as memory pressure,
// the bytes bring on collections, and the same loop levels off (2.1 GB).
// CPython frees by reference count, so there is nothing to report.
inline void report_memory_held(const void* where, std::size_t bytes) noexcept {
#ifdef PYPY_TRACEMALLOC
  PyTraceMalloc_Track(0, reinterpret_cast<std::uintptr_t>(where), bytes);
#else
  static_cast<void>(where);
  static_cast<void>(bytes);
#endif
}

}  // namespace ordavine::binding
