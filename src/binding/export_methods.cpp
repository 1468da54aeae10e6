#include "binding/export_methods.hpp"

#include <cstdint>
#include <span>
#include <string>

#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "binding/signal_check.hpp"
#include "register/entanglement_entropy.hpp"
#include "register/export.hpp"

namespace ordavine::binding {
namespace {

// A new bytes object of `size` bytes whose contents the caller writes.
PyRef new_uninitialised_bytes(std::size_t size) {
  if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) fail_capacity();
  return PyRef(check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))));
}

// The edges as a flat memoryview of `format` entries over one bytes object:
// numpy reads it in place, and the view keeps the bytes alive.
template <class Index>
PyObject* new_edge_view(const Register& reg, const char* format) {
  const std::size_t entries = 2 * edge_count(reg);
  if (entries > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(Index)) fail_capacity();
  PyRef bytes = new_uninitialised_bytes(entries * sizeof(Index));
  char* data = PyBytes_AS_STRING(bytes.get());
  if (reinterpret_cast<std::uintptr_t>(data) % alignof(Index) != 0) {
    fail("bytes storage is not aligned for edge entries");
  }
  write_edges<Index>(reg, std::span<Index>(reinterpret_cast<Index*>(data), entries));
  PyRef view(check(PyMemoryView_FromObject(bytes.get())));
  return check(PyObject_CallMethod(view.get(), "cast", "s", format));
}

PyObject* new_pauli_letter(Axis axis) {
  static constexpr char kLetters[] = {'X', 'Y', 'Z'};
  return check(PyUnicode_FromStringAndSize(&kLetters[static_cast<unsigned>(axis)], 1));
}

constexpr Signature<0> kVops{"vops", {}};
constexpr Signature<0> kEdges{"edges", {}};
constexpr Signature<0> kStabilizers{"stabilizers", {}};
constexpr Signature<1> kStabilizer{"stabilizer", {"qubit"}};
constexpr Signature<1> kEntanglementEntropy{"entanglement_entropy", {"qubits"}};

}  // namespace

PyObject* vops_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kVops, self, args, nargs, kwnames, [](Register& reg, const auto&) {
    PyRef bytes = new_uninitialised_bytes(reg.size());
    auto* data = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get()));
    write_vops(reg, std::span<std::uint8_t>(data, reg.size()));
    return bytes.release();
  });
}

PyObject* edges_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kEdges, self, args, nargs, kwnames, [](Register& reg, const auto&) {
    static_assert(sizeof(unsigned int) == 4 && sizeof(unsigned long long) == 8);
    if (edges_need_64_bits(reg.size())) return new_edge_view<std::uint64_t>(reg, "Q");
    return new_edge_view<std::uint32_t>(reg, "I");
  });
}

PyObject* stabilizers_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(
      kStabilizers, self, args, nargs, kwnames, [](Register& reg, const auto&) {
        check_stabilizer_table_size(reg);
        const std::size_t n = reg.size();
        PyRef list(check(PyList_New(static_cast<Py_ssize_t>(n))));
        std::string text(n + 1, '_');
        for (Qubit a = 0; a < n; ++a) {
          write_stabilizer_text(reg, a, text);
          PyObject* item =
              check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
          PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(a), item);  // steals `item`
        }
        return list.release();
      });
}

PyObject* stabilizer_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kStabilizer, self, args, nargs, kwnames,
                                     [](Register& reg, const auto& slots) {
                                       const Qubit qubit = to_index(slots[0], kStabilizer.parameters[0]);
                                       const SparseStabilizer generator = stabilizer_of(reg, qubit);
                                       PyRef paulis(check(PyDict_New()));
                                       for (const PauliFactor& factor : generator.factors) {
                                         PyRef key(check(PyLong_FromSize_t(factor.qubit)));
                                         PyRef letter(new_pauli_letter(factor.axis));
                                         check_status(PyDict_SetItem(paulis.get(), key.get(), letter.get()));
                                       }
                                       PyRef sign(check(PyLong_FromLong(generator.negative ? -1 : 1)));
                                       return check(PyTuple_Pack(2, sign.get(), paulis.get()));
                                     });
}

PyObject* entanglement_entropy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return call_method<Access::shared>(
      kEntanglementEntropy, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const std::vector<Qubit> qubits = to_index_set(slots[0], kEntanglementEntropy.parameters[0]);
        SignalCheck signals;
        return check(PyLong_FromSize_t(entanglement_entropy(reg, qubits, &signals)));
      });
}

}  // namespace ordavine::binding
