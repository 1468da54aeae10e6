// How failures cross into the interpreter.
//
// Inside the binding a failed interpreter call leaves its exception set and
// throws `PythonError`; the core throws `Failure`, or `InvalidInput` for
// input from outside that it refuses (raised as ValueError), `Cancelled`
// when a signal handler raised during a poll (that exception is passed on)
// and `OutOfMemory` (MemoryError with its text) or a bare std::bad_alloc.  Every function
// that the interpreter calls runs its body through `entry_point`, which turns
// them into a null return with the right exception set, so that a bad index or a
// lack of memory never takes the process down.
#pragma once

#include <cxxabi.h>

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "binding/python.hpp"
#include "failure/failure.hpp"
#include "register/out_of_memory.hpp"
#include "register/work_meter.hpp"

namespace ordavine::binding {

// Thrown after an interpreter call failed; its exception is already set.
struct PythonError {};

// Throws PythonError when `result` signals failure (null).
template <class T>
T* check(T* result) {
  if (result == nullptr) throw PythonError{};
  return result;
}
inline void check_status(int status) {
  if (status < 0) throw PythonError{};
}

[[noreturn]] void raise(PyObject* type, const char* message);
[[noreturn]] void raise(PyObject* type, const std::string& message);

// "'{type}' object cannot be cast as '{target}'".
[[noreturn]] void raise_cast_error(PyObject* object, const char* target);

// The `__qualname__` of a type, as text (its tp_name when it has none that
// UTF-8 encodes).
std::string qualified_name(PyTypeObject* type);

// The PanicException type, created on first use; null if none exists yet.
PyObject* existing_panic_type() noexcept;

// Sets PanicException(message) as the current exception.
void set_panic(const std::string& message) noexcept;

// Ends the process after a failure inside failure handling itself.
[[noreturn]] void fail_at_boundary() noexcept;

// How deeply calls into the module may nest on one thread.  Nesting only
// happens through Python code run during a call (an argument's __index__ or
// a set's __iter__ calling the module again); PyPy's native stack runs out
// long before its recursion limit in such chains, so the module stops them
// itself.  The count is kept where the module calls such code, which leaves
// the common call (plain int arguments) without the per-thread counter.
inline constexpr int kMaxNesting = 100;

// Counts the calls into the module on this thread while they run.
class NestingGuard {
 public:
  NestingGuard() {
    if (++depth_ > kMaxNesting) {
      --depth_;
      raise(PyExc_RecursionError, "maximum recursion depth exceeded in a call into ordavine");
    }
  }
  ~NestingGuard() { --depth_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  static inline thread_local int depth_ = 0;
};

// Runs `body` (returning a new reference) and translates every failure into
// an interpreter exception and a null return.
//
// Not noexcept, for one reason: a thread the interpreter ends with
// pthread_exit (a daemon thread waking up during shutdown) unwinds through
// the call with a forced unwind, which must pass on, releasing what the call
// holds, and never be swallowed.  Nothing else leaves this function.
template <class Body>
PyObject* entry_point(Body&& body) {
  try {
    try {
      return body();
    } catch (const PythonError&) {
      return nullptr;
    } catch (const Failure& failure) {
      set_panic(failure.message());
      return nullptr;
    } catch (const InvalidInput& invalid) {
      PyErr_SetString(PyExc_ValueError, invalid.what());
      return nullptr;
    } catch (const Cancelled&) {
      // The signal handler's exception is set (signal_check.hpp).
      if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
      return nullptr;
    } catch (const OutOfMemory& lack) {
      PyErr_SetString(PyExc_MemoryError, lack.what());
      return nullptr;
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
      return nullptr;
    } catch (const std::length_error&) {
      // A container asked to grow beyond what it can address.
      report_failure("capacity overflow", std::source_location::current());
      set_panic("capacity overflow");
      return nullptr;
    }
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    fail_at_boundary();
  }
}

// The same for the entry points that return an int status (-1 on failure).
template <class Body>
int status_entry_point(Body&& body) {
  PyObject* result = entry_point([&]() -> PyObject* {
    body();
    return Py_None;  // borrowed marker, never returned to the interpreter
  });
  return result == nullptr ? -1 : 0;
}

}  // namespace ordavine::binding
