// The rules the module's three classes keep on every interpreter: an
// instance is made only by the module, a class is never subclassed, and an
// instance takes no new attributes.
//
// CPython's type machinery enforces all three from the type's flags and
// slots.  PyPy's C-API layer does not: it hands a constructor slot whatever
// class the caller names (`Ordavine.__new__(int, 5)`, even an object that
// is no class), lets `object.__new__(cls)` make a zero-filled instance
// without running any constructor, accepts any class as a base and gives
// every instance a dictionary.  On PyPy the classes therefore get slots that
// refuse the same things with CPython's texts: constructors check the class
// they are given, every instance carries a mark set by the module (one made
// by `object.__new__` is refused when it is first used: PyPy offers no hook
// at its creation), `__init_subclass__` refuses a subclass as it is made,
// and `__setattr__`/`__delattr__` refuse what CPython refuses on an
// instance without a dictionary.
#pragma once

#include <vector>

#include "binding/python.hpp"

namespace ordavine::binding {

#ifdef PYPY_VERSION
inline constexpr bool kEnforceClassRules = true;
#else
inline constexpr bool kEnforceClassRules = false;
#endif

// The mark of an instance made by the module: set by the module's own
// constructors, false in the zero-filled memory of an instance made
// elsewhere.
using MadeMark = bool;

// Refuses, with CPython's TypeError for the case, a constructor call whose
// class `given` is not `own`, the class named `own_name` ("ordavine.X").
void require_own_class(PyTypeObject* given, PyTypeObject* own, const char* own_name);

// CPython's refusal of `object.__new__(own_name)`, as a TypeError.
[[noreturn]] void refuse_unmade_instance(const char* own_name);

// Refuses an instance whose mark is not set, where instances can be made
// without the module.
inline void require_made(MadeMark made, const char* own_name) {
  if constexpr (kEnforceClassRules) {
    if (!made) refuse_unmade_instance(own_name);
  }
}

// What the slots below share, with the class's name filled in.
PyObject* refuse_subclass(const char* own_name);
int refuse_new_attribute(PyObject* self, PyObject* name, PyObject* value, const char* own_name);
PyObject* refuse_instantiation_of(const char* own_name);

template <const char* own_name>
PyObject* refuse_subclass_slot(PyObject*, PyObject*, PyObject*) {
  return refuse_subclass(own_name);
}

template <const char* own_name>
int refuse_new_attribute_slot(PyObject* self, PyObject* name, PyObject* value) {
  return refuse_new_attribute(self, name, value, own_name);
}

// The method-table entry `__init_subclass__` that refuses every subclass
// of `own_name` as it is made; on PyPy it ends the class's table.
template <const char* own_name>
constexpr PyMethodDef subclass_refusal() {
  return {"__init_subclass__",
          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(refuse_subclass_slot<own_name>)),
          METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
}

// The slot that refuses new attributes (setting and deleting) on instances
// of `own_name`: none on CPython, which has no dictionary to put them in.
template <const char* own_name>
std::vector<PyType_Slot> attribute_rule_slots() {
  if constexpr (!kEnforceClassRules) return {};
  return {{Py_tp_setattro, reinterpret_cast<void*>(refuse_new_attribute_slot<own_name>)}};
}

// The constructor slot of a class that cannot be instantiated from Python,
// for interpreters without the flag that refuses instantiation: TypeError
// "cannot create '{own_name}' instances".  It never reads the class it is
// given, which on PyPy may be any object.
template <const char* own_name>
PyObject* refuse_instantiation(PyTypeObject*, PyObject*, PyObject*) {
  return refuse_instantiation_of(own_name);
}

}  // namespace ordavine::binding
