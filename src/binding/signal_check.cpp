#include "binding/signal_check.hpp"

#include "binding/py_ref.hpp"

namespace ordavine::binding {
namespace {

#ifdef PYPY_VERSION
// PyPy's PyErr_CheckSignals does nothing: its interpreter runs signal
// handlers as periodic actions, at the backward jumps of Python loops.  A
// function with a loop of one round is such a place; calling it runs the
// pending handlers and passes on what they raise.
PyObject* signal_point() {
  static PyObject* point = nullptr;
  if (point != nullptr) return point;
  PyRef globals(PyDict_New());
  if (!globals || PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) < 0)
    return nullptr;
  PyRef ran(PyRun_String("def point():\n    for _ in (0,):\n        pass\n", Py_file_input, globals.get(),
                         globals.get()));
  if (!ran) return nullptr;
  PyObject* made = PyDict_GetItemString(globals.get(), "point");  // borrowed
  if (made == nullptr) {
    PyErr_SetString(PyExc_SystemError, "the signal point was not defined");
    return nullptr;
  }
  // Running the definition may have let another thread make it first.
  if (point == nullptr) point = PyRef::borrow(made).release();
  return point;
}
#endif

}  // namespace

int run_pending_signal_handlers() {
#ifdef PYPY_VERSION
  PyObject* point = signal_point();
  if (point == nullptr) return -1;
  PyRef result(PyObject_CallNoArgs(point));
  return result ? 0 : -1;
#else
  return PyErr_CheckSignals();
#endif
}

bool InterpreterReleased::run_signal_handlers() {
  PyEval_RestoreThread(state_);
  const bool raised = run_pending_signal_handlers() < 0;
  state_ = PyEval_SaveThread();
  return raised;
}

bool SignalCheck::cancelled() {
  if (released_ == nullptr) return run_pending_signal_handlers() < 0;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < kReleasedInterval) return false;
  last_ = now;
  return released_->run_signal_handlers();
}

}  // namespace ordavine::binding
