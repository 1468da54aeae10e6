// Ctrl-C during long calls.  The core polls a CancelCheck as it works
// (register/work_meter.hpp); the binding answers by running the
// interpreter's pending signal handlers.  A handler that raises (Ctrl-C's
// KeyboardInterrupt, or whatever a handler of the caller's own raises)
// leaves its exception set and cancels the call: the core throws
// Cancelled, and entry_point returns with that exception.
//
// Handlers are Python code run in the middle of a call.  A handler that
// uses the register of the call meets its borrow ("Already borrowed"), as
// any re-entrant use does; the core polls only where it holds no scratch
// state that a nested call could disturb.
#pragma once

#include <chrono>

#include "binding/python.hpp"
#include "register/work_meter.hpp"

namespace ordavine::binding {

// Lets other threads run while the core works; SignalCheck takes the lock
// back for a moment when it polls.
class InterpreterReleased {
 public:
  InterpreterReleased() : state_(PyEval_SaveThread()) {}
  ~InterpreterReleased() { PyEval_RestoreThread(state_); }
  InterpreterReleased(const InterpreterReleased&) = delete;
  InterpreterReleased& operator=(const InterpreterReleased&) = delete;

  // Runs the pending signal handlers with the lock held; true when one raised.
  bool run_signal_handlers();

 private:
  PyThreadState* state_;
};

// Runs the pending signal handlers (PyErr_CheckSignals, or its equivalent
// where that does nothing); -1 with the exception set when one raised.
int run_pending_signal_handlers();

class SignalCheck final : public CancelCheck {
 public:
  // For a call that holds the interpreter lock throughout.
  SignalCheck() = default;
  // For work done with the lock released by `released`.  Taking the lock
  // back means waiting for the thread that has it, so this check does it at
  // most every kReleasedInterval, however often the core polls.
  explicit SignalCheck(InterpreterReleased& released) : released_(&released) {}

  bool cancelled() override;

  static constexpr std::chrono::milliseconds kReleasedInterval{20};

 private:
  InterpreterReleased* released_ = nullptr;
  std::chrono::steady_clock::time_point last_{};  // the first poll always looks
};

}  // namespace ordavine::binding
