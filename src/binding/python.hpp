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

}  // namespace ordavine::binding
