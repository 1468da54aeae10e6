#include "binding/results.hpp"

#include <cstddef>
#include <string_view>

#include "binding/borrow.hpp"
#include "binding/class_rules.hpp"
#include "binding/py_ref.hpp"
#include "binding/type_builder.hpp"

namespace ordavine::binding {
namespace {

struct MeasurementResultObject {
  PyObject_HEAD std::uint8_t value;  // 0 PlusOne, 1 MinusOne
  MadeMark made;
  BorrowFlag borrow;
};

struct OutcomeObject {
  PyObject_HEAD std::uint8_t result;  // the outcome bit
  std::uint8_t info;                  // axis in bits 0-1, bit 2 when the state fixed it
  MadeMark made;
  BorrowFlag borrow;
};

constexpr char kMeasurementResultName[] = "ordavine.MeasurementResult";
constexpr char kOutcomeName[] = "ordavine.Outcome";

PyTypeObject* measurement_result_class = nullptr;
PyTypeObject* outcome_class = nullptr;

void dealloc_plain(PyObject* self) noexcept { free_instance(self); }

MeasurementResultObject& as_measurement_result(PyObject* self) {
  if (measurement_result_class == nullptr || !PyObject_TypeCheck(self, measurement_result_class)) {
    raise_cast_error(self, "MeasurementResult");
  }
  auto& result = *reinterpret_cast<MeasurementResultObject*>(self);
  require_made(result.made, kMeasurementResultName);
  return result;
}

PyObject* measurement_result_repr(PyObject* self) {
  return entry_point([&] {
    MeasurementResultObject& result = as_measurement_result(self);
    Borrow<Access::shared> borrow(result.borrow);
    constexpr std::string_view plus = "MeasurementResult.PlusOne";
    constexpr std::string_view minus = "MeasurementResult.MinusOne";
    const std::string_view text = result.value == 0 ? plus : minus;
    return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  });
}

PyObject* measurement_result_int(PyObject* self) {
  return entry_point([&] {
    MeasurementResultObject& result = as_measurement_result(self);
    Borrow<Access::shared> borrow(result.borrow);
    return check(PyLong_FromLongLong(result.value));
  });
}

OutcomeObject& as_outcome(PyObject* self) {
  if (outcome_class == nullptr || !PyObject_TypeCheck(self, outcome_class)) {
    raise_cast_error(self, "Outcome");
  }
  auto& outcome = *reinterpret_cast<OutcomeObject*>(self);
  require_made(outcome.made, kOutcomeName);
  return outcome;
}

PyObject* outcome_result(PyObject* self, void*) {
  return entry_point([&] {
    OutcomeObject& outcome = as_outcome(self);
    Borrow<Access::shared> borrow(outcome.borrow);
    return new_measurement_result(outcome.result);
  });
}

PyObject* outcome_basis(PyObject* self, void*) {
  return entry_point([&] {
    OutcomeObject& outcome = as_outcome(self);
    Borrow<Access::shared> borrow(outcome.borrow);
    static constexpr char kAxisNames[] = {'X', 'Y', 'Z'};
    const unsigned axis = outcome.info & PeekOutcome::kAxisMask;
    if (axis > 2) raise(PyExc_SystemError, "outcome holds no axis");
    return check(PyUnicode_FromStringAndSize(&kAxisNames[axis], 1));
  });
}

PyObject* outcome_deterministic(PyObject* self, void*) {
  return entry_point([&] {
    OutcomeObject& outcome = as_outcome(self);
    Borrow<Access::shared> borrow(outcome.borrow);
    return PyBool_FromLong((outcome.info & PeekOutcome::kDeterminedFlag) != 0);
  });
}

PyGetSetDef outcome_getset[] = {
    {"result", outcome_result, nullptr, nullptr, nullptr},
    {"basis", outcome_basis, nullptr, nullptr, nullptr},
    {"deterministic", outcome_deterministic, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Each class's own table holds only what refuses subclasses on PyPy.
PyMethodDef measurement_result_methods[] = {
    subclass_refusal<kMeasurementResultName>(),
    {nullptr, nullptr, 0, nullptr},
};
PyMethodDef outcome_methods[] = {
    subclass_refusal<kOutcomeName>(),
    {nullptr, nullptr, 0, nullptr},
};

template <const char* name>
std::vector<PyType_Slot> common_slots(PyMethodDef* methods) {
  std::vector<PyType_Slot> slots{{Py_tp_dealloc, reinterpret_cast<void*>(dealloc_plain)}};
  if constexpr (kDisallowInstantiation == 0) {
    slots.push_back({Py_tp_new, reinterpret_cast<void*>(refuse_instantiation<name>)});
  }
  if constexpr (kEnforceClassRules) {
    slots.push_back({Py_tp_methods, methods});
    for (const PyType_Slot& slot : attribute_rule_slots<name>()) slots.push_back(slot);
  }
  return slots;
}

// Sets the class attributes PlusOne and MinusOne, each built once.
void add_members(PyTypeObject* type) {
  PyRef plus, minus;
  try {
    plus = PyRef(new_measurement_result(0));
  } catch (const PythonError&) {
    raise_wrapped("An error occurred while initializing `MeasurementResult.PlusOne`");
  }
  try {
    minus = PyRef(new_measurement_result(1));
  } catch (const PythonError&) {
    raise_wrapped("An error occurred while initializing `MeasurementResult.MinusOne`");
  }
  PyObject* type_object = reinterpret_cast<PyObject*>(type);
  if (PyObject_SetAttrString(type_object, "PlusOne", plus.get()) < 0 ||
      PyObject_SetAttrString(type_object, "MinusOne", minus.get()) < 0) {
    raise_wrapped("An error occurred while initializing `MeasurementResult.__dict__`");
  }
  PyType_Modified(type);
}

}  // namespace

PyTypeObject* measurement_result_type() {
  if (measurement_result_class == nullptr) {
    std::vector<PyType_Slot> slots = common_slots<kMeasurementResultName>(measurement_result_methods);
    slots.push_back({Py_tp_repr, reinterpret_cast<void*>(measurement_result_repr)});
    slots.push_back({Py_nb_int, reinterpret_cast<void*>(measurement_result_int)});
    // Recorded before the members are built: building them needs the class.
    measurement_result_class =
        create_type("ordavine.MeasurementResult", "MeasurementResult", sizeof(MeasurementResultObject),
                    kDisallowInstantiation, std::move(slots));
    add_members(measurement_result_class);
  }
  return measurement_result_class;
}

PyTypeObject* outcome_type() {
  if (outcome_class == nullptr) {
    std::vector<PyType_Slot> slots = common_slots<kOutcomeName>(outcome_methods);
    slots.push_back({Py_tp_getset, outcome_getset});
    outcome_class = create_type("ordavine.Outcome", "Outcome", sizeof(OutcomeObject), kDisallowInstantiation,
                                std::move(slots));
  }
  return outcome_class;
}

PyObject* new_measurement_result(std::uint8_t bit) {
  PyObject* object = allocate_instance(measurement_result_type());
  auto* result = reinterpret_cast<MeasurementResultObject*>(object);
  result->value = bit & 1u;
  result->made = true;
  new (&result->borrow) BorrowFlag(0);
  return object;
}

PyObject* new_outcome(std::uint8_t result, std::uint8_t info) {
  PyObject* object = allocate_instance(outcome_type());
  auto* outcome = reinterpret_cast<OutcomeObject*>(object);
  outcome->result = result & 1u;
  outcome->info = info;
  outcome->made = true;
  new (&outcome->borrow) BorrowFlag(0);
  return object;
}

PyObject* new_outcome_dict(const std::vector<PeekOutcome>& outcomes) {
  PyRef dict(check(PyDict_New()));
  for (const PeekOutcome& outcome : outcomes) {
    PyRef key(check(PyLong_FromUnsignedLongLong(outcome.qubit)));
    PyRef value(new_outcome(outcome.result, outcome.info));
    check_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
  }
  return dict.release();
}

namespace {

template <class Indices>
PyObject* index_list_of(const Indices& indices) {
  PyRef list(check(PyList_New(static_cast<Py_ssize_t>(indices.size()))));
  for (std::size_t i = 0; i < indices.size(); ++i) {
    PyObject* item = check(PyLong_FromUnsignedLongLong(indices[i]));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals `item`
  }
  return list.release();
}

}  // namespace

PyObject* new_index_list(const std::vector<Qubit>& indices) { return index_list_of(indices); }
PyObject* new_index_list(const NeighbourList& indices) { return index_list_of(indices); }

PyObject* new_index_set(const std::vector<Qubit>& indices) {
  PyRef set(check(PySet_New(nullptr)));
  for (Qubit index : indices) {
    PyRef item(check(PyLong_FromUnsignedLongLong(index)));
    check_status(PySet_Add(set.get(), item.get()));
  }
  return set.release();
}

}  // namespace ordavine::binding
