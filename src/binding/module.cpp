// Module initialisation: creates the module and its classes once per
// process and hands back the same module on every later initialisation.
#include "binding/circuit_methods.hpp"
#include "binding/circuit_object.hpp"
#include "binding/module_functions.hpp"
#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "binding/results.hpp"

namespace ordavine::binding {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "ordavine",
    "",       // the module has an empty documentation string
    0,        // no per-module state
    nullptr,  // the module-level functions, filled in before creation
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* cached_module = nullptr;

// The module's `__all__`, created empty when it has none.
PyRef all_list(PyObject* module) {
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (all) return all;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
  PyErr_Clear();
  all = PyRef(check(PyList_New(0)));
  check_status(PyObject_SetAttrString(module, "__all__", all.get()));
  return all;
}

void add_class(PyObject* module, const char* name, PyTypeObject* type) {
  PyRef all = all_list(module);
  PyRef text(check(PyUnicode_FromString(name)));
  if (PyList_Append(all.get(), text.get()) < 0) {
    PyRef error_text;
    PyObject *error_type, *value, *traceback;
    PyErr_Fetch(&error_type, &value, &traceback);
    PyErr_NormalizeException(&error_type, &value, &traceback);
    PyRef owned_type(error_type), owned_value(value), owned_traceback(traceback);
    PyRef description(value ? PyObject_Str(value) : nullptr);
    const char* utf8 = description ? PyUnicode_AsUTF8(description.get()) : nullptr;
    PyErr_Clear();
    fail(std::string("could not append __name__ to __all__: ") + (utf8 ? utf8 : "unknown error"));
  }
  check_status(PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)));
}

PyObject* initialise() {
  if (cached_module != nullptr) return PyRef::borrow(cached_module).release();
  module_definition.m_methods = module_functions();
  PyRef module(check(PyModule_Create2(&module_definition, 1013)));
  // PyPy does not store an empty documentation string from the definition,
  // so the module would show its type's; set it explicitly.
  PyRef empty(check(PyUnicode_FromStringAndSize("", 0)));
  check_status(PyObject_SetAttrString(module.get(), "__doc__", empty.get()));
  add_class(module.get(), "MeasurementResult", measurement_result_type());
  add_class(module.get(), "Outcome", outcome_type());
  add_class(module.get(), "Ordavine", ordavine_type());
  check_status(PyModule_AddFunctions(module.get(), circuit_functions()));
  // The circuit object and its samplers are attributes beside the
  // functions, not classes of `__all__`.
  check_status(PyObject_SetAttrString(module.get(), "Circuit", reinterpret_cast<PyObject*>(circuit_type())));
  check_status(PyObject_SetAttrString(module.get(), "CompiledMeasurementSampler",
                                      reinterpret_cast<PyObject*>(measurement_sampler_type())));
  check_status(PyObject_SetAttrString(module.get(), "CompiledDetectorSampler",
                                      reinterpret_cast<PyObject*>(detector_sampler_type())));
  cached_module = PyRef::borrow(module.get()).release();  // kept for the process
  return module.release();
}

}  // namespace
}  // namespace ordavine::binding

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_ordavine() {
  return ordavine::binding::entry_point(ordavine::binding::initialise);
}
