// The register methods of the circuit format's unitary gates that the class
// does not spell out by hand: one method per instruction record, named as
// the format names the gate, in lower case (`sqrt_x`, `h_yz`, `iswap`,
// `sqrt_zz_dag`, ...).  Each applies the record's VOP or runs its register
// steps, so a method and a circuit line naming the same gate leave the same
// register.  Resets are the format's R, RX, RY: a measurement drawn from
// the thread's generator, then the correction.
#include "binding/gate_methods.hpp"

#include <array>
#include <string_view>
#include <utility>

#include "binding/ordavine_object.hpp"
#include "circuit/instructions.hpp"
#include "measure/reset.hpp"
#include "random/thread_rng.hpp"
#include "register/gate_steps.hpp"
#include "register/single_qubit.hpp"

namespace ordavine::binding {
namespace {

using circuit::InstructionRecord;
using circuit::Kind;
using circuit::kInstructions;

// Gates whose methods the class already has under their own names (`sdag`
// is kept as it is; `s_dag` is added as the format's name for it).  The
// identity gets no method.
constexpr std::array<std::string_view, 15> kWrittenByHand{"I",  "X",   "Y",   "Z",   "H",   "S",   "CZ", "CX",
                                                          "CY", "XCX", "XCY", "XCZ", "YCX", "YCY", "YCZ"};

constexpr bool has_generated_method(const InstructionRecord& record) {
  if (record.kind != Kind::single_qubit && record.kind != Kind::two_qubit) return false;
  for (std::string_view name : kWrittenByHand) {
    if (record.name == name) return false;
  }
  return true;
}

constexpr std::size_t kLongestText = 64;
using Text = std::array<char, kLongestText>;

// "name($self, qubit)\n--\n\n" and the lower-case name, for a record.
constexpr Text lower_name(std::string_view name) {
  Text text{};
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    text[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return text;
}

constexpr Text text_signature(std::string_view name, bool pair) {
  Text text = lower_name(name);
  std::size_t n = name.size();
  const std::string_view rest = pair ? "($self, a, b)\n--\n\n" : "($self, qubit)\n--\n\n";
  for (char c : rest) text[n++] = c;
  return text;
}

constexpr auto generated_indices() {
  std::array<std::size_t, kInstructions.size()> indices{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < kInstructions.size(); ++i) {
    if (has_generated_method(kInstructions[i])) indices[n++] = i;
  }
  return std::pair{indices, n};
}

inline constexpr auto kGenerated = generated_indices();
inline constexpr std::size_t kGeneratedCount = kGenerated.second;

template <std::size_t I>
struct GateMethod {
  static constexpr const InstructionRecord& record = kInstructions[I];
  static constexpr bool pair = record.kind == Kind::two_qubit;
  static constexpr Text name = lower_name(record.name);
  static constexpr Text doc = text_signature(record.name, pair);
  static constexpr Signature<1> one{name.data(), {"qubit"}};
  static constexpr Signature<2> two{name.data(), {"a", "b"}};

  static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if constexpr (pair) {
      return call_method<Access::exclusive>(two, self, args, nargs, kwnames,
                                            [](Register& reg, const auto& slots) {
                                              const Qubit a = to_index(slots[0], two.parameters[0]);
                                              const Qubit b = to_index(slots[1], two.parameters[1]);
                                              apply_gate_steps(reg, record.steps, a, b);
                                              Py_RETURN_NONE;
                                            });
    } else {
      return call_method<Access::exclusive>(one, self, args, nargs, kwnames,
                                            [](Register& reg, const auto& slots) {
                                              const Qubit q = to_index(slots[0], one.parameters[0]);
                                              apply_single_qubit_gate(reg, q, record.vop);
                                              Py_RETURN_NONE;
                                            });
    }
  }
};

template <const Signature<1>& signature, Axis axis>
PyObject* reset_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(signature, self, args, nargs, kwnames,
                                        [](Register& reg, const auto& slots) {
                                          const Qubit q = to_index(slots[0], signature.parameters[0]);
                                          reset(reg, q, axis, thread_rng());
                                          Py_RETURN_NONE;
                                        });
}

constexpr Signature<1> kResetX{"reset_x", {"qubit"}};
constexpr Signature<1> kResetY{"reset_y", {"qubit"}};
constexpr Signature<1> kResetZ{"reset_z", {"qubit"}};

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyMethodDef method(const char* name, FastMethod function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

template <std::size_t... K>
std::vector<PyMethodDef> generated_methods(std::index_sequence<K...>) {
  return {method(GateMethod<kGenerated.first[K]>::name.data(), GateMethod<kGenerated.first[K]>::call,
                 GateMethod<kGenerated.first[K]>::doc.data())...};
}

}  // namespace

std::vector<PyMethodDef> gate_methods() {
  std::vector<PyMethodDef> methods = generated_methods(std::make_index_sequence<kGeneratedCount>{});
  methods.push_back(method("reset_x", reset_method<kResetX, Axis::x>, "reset_x($self, qubit)\n--\n\n"));
  methods.push_back(method("reset_y", reset_method<kResetY, Axis::y>, "reset_y($self, qubit)\n--\n\n"));
  methods.push_back(method("reset_z", reset_method<kResetZ, Axis::z>, "reset_z($self, qubit)\n--\n\n"));
  return methods;
}

}  // namespace ordavine::binding
