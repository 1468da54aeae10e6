#include "binding/class_rules.hpp"

#include <string>

#include "binding/errors.hpp"
#include "binding/py_ref.hpp"

namespace ordavine::binding {
namespace {

// Whether `name` is one of the class's properties.  The class's own table
// is read rather than the descriptor fetched: PyPy's C-API layer cannot
// hand a property's descriptor to C code (it crashes making one).
bool is_property(PyTypeObject* type, const std::string& name) {
  for (const PyGetSetDef* entry = type->tp_getset; entry != nullptr && entry->name != nullptr; ++entry) {
    if (name == entry->name) return true;
  }
  return false;
}

// A class's name as CPython's texts show it (its tp_name): the module's
// classes as "ordavine.X" (PyPy's tp_name leaves the module out), any
// other as the interpreter names it.
std::string shown_name(PyTypeObject* type) {
  PyRef module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  const char* text = module && PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8(module.get()) : nullptr;
  PyErr_Clear();
  if (text != nullptr && std::string(text) == "ordavine") return "ordavine." + qualified_name(type);
  return type->tp_name;
}

// `instance.__class__ = value`: only the class it has already is
// compatible with an instance of the module, as on CPython.
void set_class(PyObject* self, PyObject* value, const char* own_name) {
  if (value == nullptr) raise(PyExc_TypeError, "can't delete __class__ attribute");
  if (!PyType_Check(value)) {
    raise(PyExc_TypeError,
          std::string("__class__ must be set to a class, not '") + Py_TYPE(value)->tp_name + "' object");
  }
  if (value == reinterpret_cast<PyObject*>(Py_TYPE(self))) return;
  raise(PyExc_TypeError, "__class__ assignment: '" + shown_name(reinterpret_cast<PyTypeObject*>(value)) +
                             "' object layout differs from '" + own_name + "'");
}

}  // namespace

void require_own_class(PyTypeObject* given, PyTypeObject* own, const char* own_name) {
  if (given == own) return;
  const std::string name = own_name;
  if (given == nullptr) raise(PyExc_TypeError, name + ".__new__(): not enough arguments");
  auto* object = reinterpret_cast<PyObject*>(given);
  if (!PyType_Check(object)) {
    raise(PyExc_TypeError, name + ".__new__(X): X is not a type object (" + Py_TYPE(object)->tp_name + ")");
  }
  if (!PyType_IsSubtype(given, own)) {
    const std::string other = shown_name(given);
    raise(PyExc_TypeError, name + ".__new__(" + other + "): " + other + " is not a subtype of " + name);
  }
  // A subclass: only reachable if one was made despite __init_subclass__.
  refuse_subclass(own_name);
  throw PythonError{};
}

void refuse_unmade_instance(const char* own_name) {
  const std::string name = own_name;
  raise(PyExc_TypeError, "object.__new__(" + name + ") is not safe, use " + name + ".__new__()");
}

PyObject* refuse_subclass(const char* own_name) {
  PyErr_Format(PyExc_TypeError, "type '%s' is not an acceptable base type", own_name);
  return nullptr;
}

int refuse_new_attribute(PyObject* self, PyObject* name, PyObject* value, const char* own_name) {
  return status_entry_point([&] {
    if (!PyUnicode_Check(name)) {
      raise(PyExc_TypeError,
            std::string("attribute name must be string, not '") + Py_TYPE(name)->tp_name + "'");
    }
    const std::string text = check(PyUnicode_AsUTF8(name));
    if (text == "__class__") {
      set_class(self, value, own_name);
      return;
    }
    // Every property of the classes is read-only; everything else the
    // class has (a method, a class attribute) is read-only on an instance.
    const std::string owner = std::string("'") + own_name + "' object";
    if (is_property(Py_TYPE(self), text)) {
      raise(PyExc_AttributeError, "attribute '" + text + "' of " + owner + "s is not writable");
    }
    if (PyObject_HasAttr(reinterpret_cast<PyObject*>(Py_TYPE(self)), name) == 1)
      raise(PyExc_AttributeError, owner + " attribute '" + text + "' is read-only");
    raise(PyExc_AttributeError, owner + " has no attribute '" + text + "'");
  });
}

PyObject* refuse_instantiation_of(const char* own_name) {
  PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", own_name);
  return nullptr;
}

}  // namespace ordavine::binding
