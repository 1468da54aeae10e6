#include "binding/instrument_methods.hpp"

#include <span>
#include <string>

#include "binding/arguments.hpp"
#include "binding/ordavine_object.hpp"
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

[[noreturn]] void refuse_qubit_count(const std::string& named, std::size_t count) {
  throw InvalidInput("qubits names " + named + " qubits, but the other register has " +
                     std::to_string(count));
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
    const IndexSequence sequence = to_index_sequence(slots[1], kFidelity.parameters[1], other.reg.size());
    if (!sequence.longer.empty()) refuse_qubit_count(sequence.longer, other.reg.size());
    const std::span<const Qubit> qubits = sequence.indices.view();
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
