#include "binding/instrument_methods.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "binding/iterable_argument.hpp"
#include "binding/ordavine_object.hpp"
#include "binding/pauli_argument.hpp"
#include "binding/py_ref.hpp"
#include "binding/results.hpp"
#include "measure/fidelity.hpp"
#include "measure/measure.hpp"
#include "measure/pauli_noise.hpp"
#include "measure/product_measurement.hpp"
#include "random/thread_rng.hpp"
#include "register/local_complement.hpp"
#include "register/pauli_text.hpp"

namespace ordavine::binding {
namespace {

// An outcome to postselect: 0 (+1) or 1 (-1), as an int (bool included) or
// an object with __index__, or a MeasurementResult.
std::uint8_t to_result(PyObject* object, const char* parameter) {
  const PyRef integer = PyObject_TypeCheck(object, measurement_result_type())
                            ? PyRef(check(PyNumber_Long(object)))
                            : to_python_int(object, parameter);
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (value == -1 && overflow == 0 && PyErr_Occurred()) throw PythonError{};
  if (overflow == 0 && (value == 0 || value == 1)) return static_cast<std::uint8_t>(value);
  PyRef shown(check(PyObject_Repr(integer.get())));
  raise_argument_error(PyExc_ValueError, parameter,
                       std::string("the outcome must be 0 (+1), 1 (-1) or a MeasurementResult, not ") +
                           check(PyUnicode_AsUTF8(shown.get())));
}

// A probability in [0, 1]: a float, or anything float() accepts without
// parsing text (an int, __float__, __index__), the same on every
// interpreter (PyPy's PyFloat_AsDouble does not look at __index__).
double to_probability(PyObject* object, const char* parameter) {
  double p;
  if (PyFloat_Check(object)) {
    p = PyFloat_AS_DOUBLE(object);
  } else {
    const NestingGuard nesting;  // __float__ may call into the module again
    p = to_real(object, parameter);
  }
  if (!(p >= 0.0 && p <= 1.0)) {
    char shown[64];
    std::snprintf(shown, sizeof shown, "%.17g", p);
    raise_argument_error(PyExc_ValueError, parameter,
                         std::string("a probability must be in [0, 1], not ") + shown);
  }
  return p;
}

[[noreturn]] void refuse_qubit_count(const std::string& named, std::size_t count) {
  throw InvalidInput("qubits names " + named + " qubits, but the other register has " +
                     std::to_string(count));
}

// Qubit indices in the order given, a few of them without an allocation.
class QubitSequence {
 public:
  void push_back(Qubit q) {
    if (count_ < small_.size()) {
      small_[count_] = q;
    } else {
      if (count_ == small_.size()) large_.assign(small_.begin(), small_.end());
      large_.push_back(q);
    }
    ++count_;
  }
  std::span<const Qubit> view() const {
    return count_ <= small_.size() ? std::span<const Qubit>(small_.data(), count_)
                                   : std::span<const Qubit>(large_);
  }

 private:
  std::array<Qubit, 8> small_{};
  std::vector<Qubit> large_;
  std::size_t count_ = 0;
};

// A sequence of qubit indices, in order, that is to name `count` qubits.
// Sets (and dicts, str, bytes) are refused: their order is not one the
// caller chose.  Items past the first `count` are not converted: one more
// is enough to refuse the sequence for its length, however long it says it
// is (range(10**18) is not read to its end).
QubitSequence to_index_sequence(PyObject* object, const char* parameter, std::size_t count) {
  QubitSequence indices;
  // A list or tuple of ints runs no Python code while it is read.
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    PyObject* const* items = PySequence_Fast_ITEMS(object);
    const auto length = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object));
    const std::size_t read = std::min(length, count);
    bool plain = true;
    for (std::size_t i = 0; i < read && plain; ++i) plain = PyLong_Check(items[i]);
    if (plain) {
      for (std::size_t i = 0; i < read; ++i) indices.push_back(to_index(items[i], parameter));
      if (length > count) refuse_qubit_count(std::to_string(length), count);
      return indices;
    }
  }
  const NestingGuard nesting;  // iteration and __index__ may call into the module
  if (PyAnySet_Check(object) || PyDict_Check(object) || PyUnicode_Check(object) || PyBytes_Check(object)) {
    raise_argument_cast_error(object, "Sequence[int]", parameter);
  }
  const PyRef iterator = iterate_argument(object, "Sequence[int]", parameter);
  for (std::size_t i = 0;; ++i) {
    const PyRef item = next_item(iterator.get());
    if (!item) return indices;
    if (i == count) refuse_qubit_count(count_beyond(object, count), count);
    indices.push_back(to_index(item.get(), parameter));
  }
}

std::string outcome_text(std::uint8_t bit) { return bit == 0 ? "+1" : "-1"; }

std::string product_name(const ProductArgument& product) {
  const std::string text = product_text(product.factors, product.negative);
  if (text.empty()) return "the identity";
  if (text == "-") return "minus the identity";
  return "the product " + text;
}

constexpr char kAxisLetters[] = {'X', 'Y', 'Z'};

// The product of a one-argument method, kept per thread so that a call
// allocates nothing once the thread has converted a product as long.
[[gnu::noinline]] ProductArgument& product_storage() {
  thread_local ProductArgument product;
  return product;
}

// ---- expectation, measure_pauli ----------------------------------------------

constexpr Signature<1> kExpectation{"expectation", {"pauli"}};
constexpr Signature<1> kMeasurePauli{"measure_pauli", {"pauli"}};

// ---- postselection ----------------------------------------------------------

constexpr Signature<2> kPostselectX{"postselect_x", {"qubit", "result"}};
constexpr Signature<2> kPostselectY{"postselect_y", {"qubit", "result"}};
constexpr Signature<2> kPostselectZ{"postselect_z", {"qubit", "result"}};
constexpr Signature<2> kPostselectPauli{"postselect_pauli", {"pauli", "result"}};

// The probability the chosen outcome had: 1 when the state fixed it, 1/2
// when it was random.
PyObject* postselected(const Measurement& m) { return check(PyFloat_FromDouble(m.determined ? 1.0 : 0.5)); }

template <const Signature<2>& signature, Axis axis>
PyObject* postselect_axis(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      signature, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Qubit qubit = to_index(slots[0], signature.parameters[0]);
        const std::uint8_t wanted = to_result(slots[1], signature.parameters[1]);
        const Measurement m = measure_with_outcome(reg, qubit, axis, wanted);
        if (m.result != wanted) {
          throw InvalidInput(std::string(1, kAxisLetters[static_cast<unsigned>(axis)]) + " on qubit " +
                             std::to_string(qubit) + " is " + outcome_text(m.result) +
                             " with certainty: " + outcome_text(wanted) + " cannot be postselected");
        }
        return postselected(m);
      });
}

// ---- fidelity ---------------------------------------------------------------

constexpr Signature<2> kFidelity{"fidelity", {"other", "qubits"}, 1};

// ---- local_complement, add_qubits -------------------------------------------

constexpr Signature<1> kLocalComplement{"local_complement", {"qubit"}};
constexpr Signature<1> kAddQubits{"add_qubits", {"count"}};

// ---- noise --------------------------------------------------------------------

constexpr Signature<2> kXError{"x_error", {"qubit", "p"}};
constexpr Signature<2> kYError{"y_error", {"qubit", "p"}};
constexpr Signature<2> kZError{"z_error", {"qubit", "p"}};
constexpr Signature<2> kDepolarize1{"depolarize1", {"qubit", "p"}};
constexpr Signature<3> kDepolarize2{"depolarize2", {"a", "b", "p"}};

template <const Signature<2>& signature, Axis axis>
PyObject* pauli_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      signature, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Qubit qubit = to_index(slots[0], signature.parameters[0]);
        const double p = to_probability(slots[1], signature.parameters[1]);
        checked_pauli_error(reg, qubit, axis, threshold_of(p), thread_rng());
        Py_RETURN_NONE;
      });
}

PyObject* num_qubits_get(PyObject* self, void*) {
  return entry_point([&] {
    OrdavineObject& object = as_ordavine(self);
    Borrow<Access::shared> borrow(object.borrow);
    return check(PyLong_FromSize_t(object.reg.size()));
  });
}

PyGetSetDef attributes[] = {
    {"num_qubits", num_qubits_get, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyObject* expectation_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(
      kExpectation, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        // No Python code runs between the conversion and the use.
        ProductArgument& product = product_storage();
        to_product(slots[0], kExpectation.parameters[0], reg, product);
        return check(PyLong_FromLong(expectation(reg, product.factors, product.negative)));
      });
}

PyObject* measure_pauli_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kMeasurePauli, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        ProductArgument& product = product_storage();
        to_product(slots[0], kMeasurePauli.parameters[0], reg, product);
        const Measurement m = measure_product(reg, product.factors, product.negative, thread_rng());
        return new_measurement_result(m.result);
      });
}

PyObject* postselect_x_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return postselect_axis<kPostselectX, Axis::x>(self, args, nargs, kwnames);
}

PyObject* postselect_y_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return postselect_axis<kPostselectY, Axis::y>(self, args, nargs, kwnames);
}

PyObject* postselect_z_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return postselect_axis<kPostselectZ, Axis::z>(self, args, nargs, kwnames);
}

PyObject* postselect_pauli_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kPostselectPauli, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        // Converting `result` may run Python code that converts a product
        // on this thread: this one keeps storage of its own.
        ProductArgument product;
        to_product(slots[0], kPostselectPauli.parameters[0], reg, product);
        const std::uint8_t wanted = to_result(slots[1], kPostselectPauli.parameters[1]);
        const Measurement m = measure_product_with_outcome(reg, product.factors, product.negative, wanted);
        if (m.result != wanted) {
          throw InvalidInput(product_name(product) + " is " + outcome_text(m.result) +
                             " with certainty: " + outcome_text(wanted) + " cannot be postselected");
        }
        return postselected(m);
      });
}

PyObject* fidelity_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kFidelity, args, nargs, kwnames);
    OrdavineObject& object = as_ordavine(self);
    Borrow<Access::shared> borrow(object.borrow);
    if (!PyObject_TypeCheck(slots[0], ordavine_type()))
      raise_argument_cast_error(slots[0], "Ordavine", kFidelity.parameters[0]);
    OrdavineObject& other = as_ordavine(slots[0]);
    Borrow<Access::shared> other_borrow(other.borrow);
    const Register& reg = object.reg;
    if (slots[1] == nullptr || slots[1] == Py_None) {
      if (reg.size() != other.reg.size()) {
        throw InvalidInput("fidelity of registers of different sizes: this one has " +
                           std::to_string(reg.size()) + " qubits, the other " +
                           std::to_string(other.reg.size()) +
                           "; name the qubits of this one that the other describes");
      }
      return check(PyFloat_FromDouble(fidelity(reg, other.reg)));
    }
    const QubitSequence sequence = to_index_sequence(slots[1], kFidelity.parameters[1], other.reg.size());
    const std::span<const Qubit> qubits = sequence.view();
    if (qubits.size() != other.reg.size())
      refuse_qubit_count(std::to_string(qubits.size()), other.reg.size());
    return check(PyFloat_FromDouble(reduced_fidelity(reg, qubits, other.reg)));
  });
}

PyObject* local_complement_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kLocalComplement, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        local_complement(reg, to_index(slots[0], kLocalComplement.parameters[0]));
        Py_RETURN_NONE;
      });
}

PyObject* add_qubits_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kAddQubits, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const std::size_t count = to_index(slots[0], kAddQubits.parameters[0]);
        const std::size_t first = reg.size();
        PyRef index(check(PyLong_FromSize_t(first)));  // before the change: it cannot fail after
        reg.add_qubits(count);                         // the larger node array is reported with the call
        return index.release();
      });
}

PyObject* x_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return pauli_error_method<kXError, Axis::x>(self, args, nargs, kwnames);
}

PyObject* y_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return pauli_error_method<kYError, Axis::y>(self, args, nargs, kwnames);
}

PyObject* z_error_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return pauli_error_method<kZError, Axis::z>(self, args, nargs, kwnames);
}

PyObject* depolarize1_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kDepolarize1, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Qubit qubit = to_index(slots[0], kDepolarize1.parameters[0]);
        const double p = to_probability(slots[1], kDepolarize1.parameters[1]);
        checked_depolarize1(reg, qubit, threshold_of(p), thread_rng());
        Py_RETURN_NONE;
      });
}

PyObject* depolarize2_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kDepolarize2, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Qubit a = to_index(slots[0], kDepolarize2.parameters[0]);
        const Qubit b = to_index(slots[1], kDepolarize2.parameters[1]);
        const double p = to_probability(slots[2], kDepolarize2.parameters[2]);
        checked_depolarize2(reg, a, b, threshold_of(p), thread_rng());
        Py_RETURN_NONE;
      });
}

PyGetSetDef* ordavine_attributes() { return attributes; }

}  // namespace ordavine::binding
