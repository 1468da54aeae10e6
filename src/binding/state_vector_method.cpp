// `state_vector()`: a small register's amplitudes as a numpy complex64
// array, written by the core straight into the array's memory.
#include "binding/state_vector_method.hpp"

#include <complex>
#include <string>

#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "register/state_vector.hpp"

namespace ordavine::binding {
namespace {

// numpy, or ImportError saying that state_vector needs it.
PyRef import_numpy() {
  PyRef numpy(PyImport_ImportModule("numpy"));
  if (numpy) return numpy;
  if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw PythonError{};
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef cause(value);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyErr_SetString(PyExc_ImportError, "state_vector() returns a numpy array, and numpy cannot be imported");
  PyObject *new_type, *new_value, *new_traceback;
  PyErr_Fetch(&new_type, &new_value, &new_traceback);
  PyErr_NormalizeException(&new_type, &new_value, &new_traceback);
  if (cause) PyException_SetCause(new_value, cause.release());
  PyErr_Restore(new_type, new_value, new_traceback);
  throw PythonError{};
}

// A writable view of an array's memory, released with the view.
class WritableView {
 public:
  explicit WritableView(PyObject* object) {
    check_status(PyObject_GetBuffer(object, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT));
  }
  ~WritableView() { PyBuffer_Release(&view_); }
  WritableView(const WritableView&) = delete;
  WritableView& operator=(const WritableView&) = delete;
  void* data() const { return view_.buf; }
  std::size_t bytes() const { return static_cast<std::size_t>(view_.len); }

 private:
  Py_buffer view_{};
};

constexpr Signature<0> kStateVector{"state_vector", {}};

}  // namespace

PyObject* state_vector_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(
      kStateVector, self, args, nargs, kwnames, [](Register& reg, const auto&) -> PyObject* {
        const std::size_t n = reg.size();
        if (n > kMaxStateVectorQubits) {
          raise(PyExc_ValueError, "state_vector() holds registers of at most " +
                                      std::to_string(kMaxStateVectorQubits) + " qubits; this one has " +
                                      std::to_string(n));
        }
        const PyRef numpy = import_numpy();
        const std::size_t count = std::size_t{1} << n;
        PyRef array(check(
            PyObject_CallMethod(numpy.get(), "empty", "ns", static_cast<Py_ssize_t>(count), "complex64")));
        {
          const WritableView view(array.get());
          if (view.bytes() != count * sizeof(std::complex<float>)) {
            fail("numpy.empty gave an array of another size than asked");
          }
          write_state_vector(reg, {static_cast<std::complex<float>*>(view.data()), count});
        }
        return array.release();
      });
}

}  // namespace ordavine::binding
