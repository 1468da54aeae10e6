#include "binding/methods.hpp"

#include "binding/circuit_methods.hpp"
#include "binding/export_methods.hpp"
#include "binding/gate_methods.hpp"
#include "binding/graph_import_methods.hpp"
#include "binding/instrument_methods.hpp"
#include "binding/ordavine_object.hpp"
#include "binding/results.hpp"
#include "binding/state_methods.hpp"
#include "binding/state_vector_method.hpp"
#include "measure/measure.hpp"
#include "measure/peek.hpp"
#include "random/thread_rng.hpp"
#include "register/entangled_group.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine::binding {
namespace {

using GateOnOne = void (*)(Register&, Qubit);

template <const Signature<1>& signature, GateOnOne gate>
PyObject* single_qubit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive, Lists::unchanged>(
      signature, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        gate(reg, to_index(slots[0], signature.parameters[0]));
        Py_RETURN_NONE;
      });
}

using GateOnTwo = void (*)(Register&, Qubit, Qubit);

template <const Signature<2>& signature, GateOnTwo gate>
PyObject* two_qubit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(signature, self, args, nargs, kwnames,
                                        [](Register& reg, const auto& slots) {
                                          const Qubit control = to_index(slots[0], signature.parameters[0]);
                                          const Qubit target = to_index(slots[1], signature.parameters[1]);
                                          gate(reg, control, target);
                                          Py_RETURN_NONE;
                                        });
}

template <const Signature<1>& signature, Axis axis>
PyObject* measure_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      signature, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Qubit qubit = to_index(slots[0], signature.parameters[0]);
        return new_measurement_result(measure(reg, qubit, axis, thread_rng()).result);
      });
}

constexpr Signature<1> kEntangledGroup{"get_entangled_group", {"qubit"}};

PyObject* get_entangled_group_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  return call_method<Access::shared>(kEntangledGroup, self, args, nargs, kwnames,
                                     [](Register& reg, const auto& slots) {
                                       const Qubit qubit = to_index(slots[0], kEntangledGroup.parameters[0]);
                                       return new_index_set(entangled_group(reg, qubit));
                                     });
}

constexpr Signature<1> kPeek{"peek_measure_set", {"qubits"}};

PyObject* peek_measure_set_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return call_method<Access::shared>(kPeek, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
    std::vector<Qubit> qubits = to_index_set(slots[0], kPeek.parameters[0]);
    const std::vector<PeekOutcome> outcomes = peek_measure_set(reg, std::move(qubits), thread_rng());
    return new_outcome_dict(outcomes);
  });
}

// Read-only views of the graph, for inspection and drawing.
constexpr Signature<1> kGetVop{"get_vop", {"qubit"}};

PyObject* get_vop_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kGetVop, self, args, nargs, kwnames,
                                     [](Register& reg, const auto& slots) {
                                       const Qubit qubit = to_index(slots[0], kGetVop.parameters[0]);
                                       return check(PyLong_FromLong(reg.at(qubit).vop));
                                     });
}

constexpr Signature<1> kGetNeighbors{"get_neighbors", {"qubit"}};

PyObject* get_neighbors_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kGetNeighbors, self, args, nargs, kwnames,
                                     [](Register& reg, const auto& slots) {
                                       const Qubit qubit = to_index(slots[0], kGetNeighbors.parameters[0]);
                                       return new_index_list(reg.at(qubit).neighbors);
                                     });
}

constexpr Signature<1> kX{"x", {"node"}};
constexpr Signature<1> kY{"y", {"node"}};
constexpr Signature<1> kZ{"z", {"node"}};
constexpr Signature<1> kH{"h", {"node"}};
constexpr Signature<1> kS{"s", {"node"}};
constexpr Signature<1> kSdag{"sdag", {"node"}};
constexpr Signature<2> kCz{"cz", {"control", "target"}};
constexpr Signature<2> kCx{"cx", {"control", "target"}};
constexpr Signature<2> kXcx{"xcx", {"control", "target"}};
constexpr Signature<2> kYcx{"ycx", {"control", "target"}};
constexpr Signature<2> kXcz{"xcz", {"control", "target"}};
constexpr Signature<2> kYcz{"ycz", {"control", "target"}};
constexpr Signature<2> kCy{"cy", {"control", "target"}};
constexpr Signature<2> kXcy{"xcy", {"control", "target"}};
constexpr Signature<2> kYcy{"ycy", {"control", "target"}};
constexpr Signature<1> kMeasureX{"measure_x", {"qubit"}};
constexpr Signature<1> kMeasureY{"measure_y", {"qubit"}};
constexpr Signature<1> kMeasureZ{"measure_z", {"qubit"}};

template <class Function>
constexpr PyMethodDef fast_method(const char* name, Function function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

PyMethodDef listed_methods[] = {
    fast_method("x", single_qubit_method<kX, x>, "x($self, node)\n--\n\n"),
    fast_method("y", single_qubit_method<kY, y>, "y($self, node)\n--\n\n"),
    fast_method("z", single_qubit_method<kZ, z>, "z($self, node)\n--\n\n"),
    fast_method("h", single_qubit_method<kH, h>, "h($self, node)\n--\n\n"),
    fast_method("s", single_qubit_method<kS, s>, "s($self, node)\n--\n\n"),
    fast_method("sdag", single_qubit_method<kSdag, sdag>, "sdag($self, node)\n--\n\n"),
    fast_method("cz", two_qubit_method<kCz, cz>, "cz($self, control, target)\n--\n\n"),
    fast_method("cx", two_qubit_method<kCx, cx>, "cx($self, control, target)\n--\n\n"),
    fast_method("xcx", two_qubit_method<kXcx, xcx>, "xcx($self, control, target)\n--\n\n"),
    fast_method("ycx", two_qubit_method<kYcx, ycx>, "ycx($self, control, target)\n--\n\n"),
    fast_method("xcz", two_qubit_method<kXcz, xcz>, "xcz($self, control, target)\n--\n\n"),
    fast_method("ycz", two_qubit_method<kYcz, ycz>, "ycz($self, control, target)\n--\n\n"),
    fast_method("cy", two_qubit_method<kCy, cy>, "cy($self, control, target)\n--\n\n"),
    fast_method("xcy", two_qubit_method<kXcy, xcy>, "xcy($self, control, target)\n--\n\n"),
    fast_method("ycy", two_qubit_method<kYcy, ycy>, "ycy($self, control, target)\n--\n\n"),
    fast_method("measure_x", measure_method<kMeasureX, Axis::x>, "measure_x($self, qubit)\n--\n\n"),
    fast_method("measure_y", measure_method<kMeasureY, Axis::y>, "measure_y($self, qubit)\n--\n\n"),
    fast_method("measure_z", measure_method<kMeasureZ, Axis::z>, "measure_z($self, qubit)\n--\n\n"),
    fast_method("get_entangled_group", get_entangled_group_method,
                "get_entangled_group($self, qubit)\n--\n\n"),
    fast_method("peek_measure_set", peek_measure_set_method, "peek_measure_set($self, qubits)\n--\n\n"),
    fast_method("get_vop", get_vop_method, "get_vop($self, qubit)\n--\n\n"),
    fast_method("get_neighbors", get_neighbors_method, "get_neighbors($self, qubit)\n--\n\n"),
    // Bulk export and entanglement (export_methods.cpp).
    fast_method("vops", vops_method, "vops($self)\n--\n\n"),
    fast_method("edges", edges_method, "edges($self)\n--\n\n"),
    fast_method("stabilizers", stabilizers_method, "stabilizers($self)\n--\n\n"),
    fast_method("stabilizer", stabilizer_method, "stabilizer($self, qubit)\n--\n\n"),
    fast_method("entanglement_entropy", entanglement_entropy_method,
                "entanglement_entropy($self, qubits)\n--\n\n"),
    // Copies and saved states.
    fast_method("copy", copy_method, "copy($self)\n--\n\n"),
    fast_method("__copy__", dunder_copy_method, "__copy__($self)\n--\n\n"),
    fast_method("__deepcopy__", deepcopy_method, "__deepcopy__($self, memo)\n--\n\n"),
    fast_method("to_bytes", to_bytes_method, "to_bytes($self)\n--\n\n"),
    {"from_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_bytes_method)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "from_bytes($type, data)\n--\n\n"},
    fast_method("__reduce__", reduce_method, "__reduce__($self)\n--\n\n"),
    // The register as an instrument (instrument_methods.cpp, graph_import_methods.cpp).
    fast_method("expectation", expectation_method, "expectation($self, pauli)\n--\n\n"),
    fast_method("measure_pauli", measure_pauli_method, "measure_pauli($self, pauli)\n--\n\n"),
    fast_method("postselect_x", postselect_x_method, "postselect_x($self, qubit, result)\n--\n\n"),
    fast_method("postselect_y", postselect_y_method, "postselect_y($self, qubit, result)\n--\n\n"),
    fast_method("postselect_z", postselect_z_method, "postselect_z($self, qubit, result)\n--\n\n"),
    fast_method("postselect_pauli", postselect_pauli_method,
                "postselect_pauli($self, pauli, result)\n--\n\n"),
    fast_method("fidelity", fidelity_method, "fidelity($self, other, qubits=None)\n--\n\n"),
    {"from_graph", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_graph_method)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "from_graph($type, nodes, edges, vops=None)\n--\n\n"},
    {"from_stabilizers", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_stabilizers_method)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "from_stabilizers($type, stabilizers)\n--\n\n"},
    fast_method("local_complement", local_complement_method, "local_complement($self, qubit)\n--\n\n"),
    fast_method("add_qubits", add_qubits_method, "add_qubits($self, count)\n--\n\n"),
    fast_method("x_error", x_error_method, "x_error($self, qubit, p)\n--\n\n"),
    fast_method("y_error", y_error_method, "y_error($self, qubit, p)\n--\n\n"),
    fast_method("z_error", z_error_method, "z_error($self, qubit, p)\n--\n\n"),
    fast_method("depolarize1", depolarize1_method, "depolarize1($self, qubit, p)\n--\n\n"),
    fast_method("depolarize2", depolarize2_method, "depolarize2($self, a, b, p)\n--\n\n"),
    // Whole circuits (circuit_methods.cpp).
    fast_method("run", run_circuit_method, "run($self, circuit)\n--\n\n"),
    fast_method("state_vector", state_vector_method, "state_vector($self)\n--\n\n"),
#ifdef PYPY_VERSION
    subclass_refusal<kOrdavineName>(),  // CPython refuses subclasses by the type's flags
#endif
};

}  // namespace

PyMethodDef* ordavine_methods() {
  // The listed methods, then one per gate of the circuit format without a
  // method of its own (gate_methods.cpp), then the end mark; made once.
  static std::vector<PyMethodDef> methods = [] {
    std::vector<PyMethodDef> all(std::begin(listed_methods), std::end(listed_methods));
    const std::vector<PyMethodDef> gates = gate_methods();
    all.insert(all.end(), gates.begin(), gates.end());
    all.push_back({nullptr, nullptr, 0, nullptr});
    return all;
  }();
  return methods.data();
}

}  // namespace ordavine::binding
