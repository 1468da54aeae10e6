#include "binding/ordavine_object.hpp"

#include <new>
#include <utility>
#include <vector>

#include "binding/instrument_methods.hpp"
#include "binding/methods.hpp"
#include "binding/py_ref.hpp"
#include "binding/type_builder.hpp"

namespace ordavine::binding {
namespace {

PyTypeObject* ordavine_class = nullptr;

constexpr Signature<1> kConstructor{"__new__", {"nodes"}};

PyObject* ordavine_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return entry_point([&]() -> PyObject* {
    require_own_class(type, ordavine_class, kOrdavineName);
    std::array<PyObject*, 1> slots{};
    match_classic_call(parameters_of(kConstructor), args, kwargs, slots);
    const std::size_t count = to_index(slots[0], "nodes");
    return new_ordavine([&] { return Register(count); });
  });
}

void ordavine_dealloc(PyObject* self) noexcept {
  auto* object = reinterpret_cast<OrdavineObject*>(self);
  if (object->made) {
    // A register dropped while another call counts its lists (by Python
    // code that call runs) must not show in that count.
    [[maybe_unused]] const ReportedListBytes dropped;
    std::destroy_at(&object->reg);
  }
  free_instance(self);
}

}  // namespace

PyObject* adopt_register(Register&& reg, std::ptrdiff_t list_bytes) {
  PyObject* self = allocate_instance(ordavine_type());
  auto* object = reinterpret_cast<OrdavineObject*>(self);
  new (&object->reg) Register(std::move(reg));
  new (&object->borrow) BorrowFlag(0);
  object->made = true;
  object->held = HeldMemory{};
  object->held.update(self, object->reg, list_bytes);
  return self;
}

OrdavineObject& as_ordavine(PyObject* self) {
  if (ordavine_class == nullptr || !PyObject_TypeCheck(self, ordavine_class)) {
    raise_cast_error(self, "Ordavine");
  }
  auto& object = *reinterpret_cast<OrdavineObject*>(self);
  require_made(object.made, kOrdavineName);
  return object;
}

PyTypeObject* ordavine_type() {
  if (ordavine_class == nullptr) {
    std::vector<PyType_Slot> slots{
        {Py_tp_doc, const_cast<char*>("Ordavine(nodes)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(ordavine_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(ordavine_dealloc)},
        {Py_tp_methods, ordavine_methods()},
        {Py_tp_getset, ordavine_attributes()},
    };
    for (const PyType_Slot& slot : attribute_rule_slots<kOrdavineName>()) slots.push_back(slot);
    ordavine_class = create_type(kOrdavineName, "Ordavine", sizeof(OrdavineObject), 0, std::move(slots));
  }
  return ordavine_class;
}

}  // namespace ordavine::binding
