#include "binding/type_builder.hpp"

#include "binding/py_ref.hpp"

namespace ordavine::binding {

void raise_wrapped(const std::string& message) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  PyRef cause(value);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyRef text(check(PyUnicode_FromString(message.c_str())));
  PyRef wrapper(check(PyObject_CallOneArg(PyExc_RuntimeError, text.get())));
  if (cause) PyException_SetCause(wrapper.get(), cause.release());
  PyErr_SetObject(PyExc_RuntimeError, wrapper.get());
  throw PythonError{};
}

PyTypeObject* create_type(const char* qualified_name, const char* class_name, int basic_size,
                          unsigned long extra_flags, std::vector<PyType_Slot> slots) {
  slots.push_back({0, nullptr});
  PyType_Spec spec{qualified_name, basic_size, 0, static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | extra_flags),
                   slots.data()};
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) raise_wrapped(std::string("An error occurred while initializing class ") + class_name);
  return reinterpret_cast<PyTypeObject*>(type);
}

void free_instance(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto free_function = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  if (free_function == nullptr) free_function = PyObject_Free;
  free_function(self);
  if constexpr (kInstancesOwnTheirType) Py_DECREF(type);
}

PyObject* allocate_instance(PyTypeObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  if (alloc == nullptr) alloc = PyType_GenericAlloc;
  return check(alloc(type, 0));
}

}  // namespace ordavine::binding
