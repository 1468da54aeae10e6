#include "binding/circuit_object.hpp"

#include <new>
#include <string_view>
#include <vector>

#include "binding/arguments.hpp"
#include "binding/circuit_methods.hpp"
#include "binding/errors.hpp"
#include "binding/py_ref.hpp"
#include "binding/type_builder.hpp"

namespace ordavine::binding {
namespace {

PyTypeObject* circuit_class = nullptr;

constexpr Signature<1> kConstructor{"__new__", {"source"}, 1, 1, "Circuit"};

// The text of a source: a str itself, anything else its str() (a circuit
// of another library prints as circuit text).
std::string text_of(PyObject* source) {
  if (PyUnicode_Check(source)) return std::string(to_text(source, "source"));
  PyRef printed(check(PyObject_Str(source)));
  return std::string(to_text(printed.get(), "source"));
}

PyObject* circuit_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return entry_point([&]() -> PyObject* {
    require_own_class(type, circuit_class, kCircuitName);
    std::array<PyObject*, 1> slots{};
    match_classic_call(parameters_of(kConstructor), args, kwargs, slots);
    auto text = std::make_shared<const std::string>(text_of(slots[0]));
    auto program = std::make_shared<const circuit::Program>(read_program(*text));
    PyObject* self = allocate_instance(circuit_class);
    auto* object = reinterpret_cast<CircuitObject*>(self);
    new (&object->program) std::shared_ptr<const circuit::Program>(std::move(program));
    new (&object->text) std::shared_ptr<const std::string>(std::move(text));
    object->made = true;
    return self;
  });
}

void circuit_dealloc(PyObject* self) noexcept {
  auto* object = reinterpret_cast<CircuitObject*>(self);
  if (object->made) {
    std::destroy_at(&object->program);
    std::destroy_at(&object->text);
  }
  free_instance(self);
}

PyObject* text_object(const CircuitObject& circuit) {
  return check(
      PyUnicode_FromStringAndSize(circuit.text->data(), static_cast<Py_ssize_t>(circuit.text->size())));
}

PyObject* circuit_str(PyObject* self) {
  return entry_point([&] { return text_object(as_circuit(self)); });
}

PyObject* circuit_repr(PyObject* self) {
  return entry_point([&] {
    PyRef text(text_object(as_circuit(self)));
    return check(PyUnicode_FromFormat("ordavine.Circuit(%R)", text.get()));
  });
}

// Pickled by its text, read again where it is unpickled.
PyObject* circuit_reduce(PyObject* self, PyObject*) {
  return entry_point([&] {
    PyRef text(text_object(as_circuit(self)));
    return check(Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(circuit_class), text.get()));
  });
}

template <std::uint64_t (*count)(const circuit::Program&)>
PyObject* count_get(PyObject* self, void*) {
  return entry_point([&] { return check(PyLong_FromUnsignedLongLong(count(*as_circuit(self).program))); });
}

std::uint64_t qubits(const circuit::Program& p) { return circuit::format_qubit_count(p); }
std::uint64_t measurements(const circuit::Program& p) { return p.measurement_count; }
std::uint64_t detectors(const circuit::Program& p) { return p.detector_count; }
std::uint64_t observables(const circuit::Program& p) { return p.observable_count; }

PyGetSetDef circuit_getset[] = {
    {"num_qubits", count_get<qubits>, nullptr, nullptr, nullptr},
    {"num_measurements", count_get<measurements>, nullptr, nullptr, nullptr},
    {"num_detectors", count_get<detectors>, nullptr, nullptr, nullptr},
    {"num_observables", count_get<observables>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef circuit_methods[] = {
    {"compile_sampler", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compile_sampler_method)),
     METH_FASTCALL | METH_KEYWORDS, "compile_sampler($self, /, *, seed=None)\n--\n\n"},
    {"compile_detector_sampler",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compile_detector_sampler_method)),
     METH_FASTCALL | METH_KEYWORDS, "compile_detector_sampler($self, /, *, seed=None)\n--\n\n"},
    {"__reduce__", circuit_reduce, METH_NOARGS, nullptr},
#ifdef PYPY_VERSION
    subclass_refusal<kCircuitName>(),  // CPython refuses subclasses by the type's flags
#endif
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

CircuitObject& as_circuit(PyObject* self) {
  if (circuit_class == nullptr || !PyObject_TypeCheck(self, circuit_class)) raise_cast_error(self, "Circuit");
  auto& object = *reinterpret_cast<CircuitObject*>(self);
  require_made(object.made, kCircuitName);
  return object;
}

PyTypeObject* circuit_type() {
  if (circuit_class == nullptr) {
    std::vector<PyType_Slot> slots{
        {Py_tp_doc, const_cast<char*>("Circuit(source)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(circuit_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(circuit_dealloc)},
        {Py_tp_str, reinterpret_cast<void*>(circuit_str)},
        {Py_tp_repr, reinterpret_cast<void*>(circuit_repr)},
        {Py_tp_methods, circuit_methods},
        {Py_tp_getset, circuit_getset},
    };
    for (const PyType_Slot& slot : attribute_rule_slots<kCircuitName>()) slots.push_back(slot);
    circuit_class = create_type(kCircuitName, "Circuit", sizeof(CircuitObject), 0, std::move(slots));
  }
  return circuit_class;
}

}  // namespace ordavine::binding
