#include "binding/methods.hpp"

#include "binding/ordavine_object.hpp"
#include "binding/results.hpp"
#include "register/single_qubit.hpp"

namespace ordavine::binding {
namespace {

using GateOnOne = void (*)(Register&, Qubit);

template <const Signature<1>& signature, GateOnOne gate>
PyObject* single_qubit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return call_method<Access::exclusive>(
      signature, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        gate(reg, to_index(slots[0], signature.parameters[0]));
        Py_RETURN_NONE;
      });
}

constexpr Signature<1> kX{"x", {"node"}};
constexpr Signature<1> kY{"y", {"node"}};
constexpr Signature<1> kZ{"z", {"node"}};
constexpr Signature<1> kH{"h", {"node"}};
constexpr Signature<1> kS{"s", {"node"}};
constexpr Signature<1> kSdag{"sdag", {"node"}};

template <class Function>
constexpr PyMethodDef fast_method(const char* name, Function function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

PyMethodDef methods[] = {
    fast_method("x", single_qubit_method<kX, x>, "x($self, node)\n--\n\n"),
    fast_method("y", single_qubit_method<kY, y>, "y($self, node)\n--\n\n"),
    fast_method("z", single_qubit_method<kZ, z>, "z($self, node)\n--\n\n"),
    fast_method("h", single_qubit_method<kH, h>, "h($self, node)\n--\n\n"),
    fast_method("s", single_qubit_method<kS, s>, "s($self, node)\n--\n\n"),
    fast_method("sdag", single_qubit_method<kSdag, sdag>, "sdag($self, node)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* ordavine_methods() { return methods; }

}  // namespace ordavine::binding
