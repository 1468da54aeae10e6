// Shared pieces of the three classes: creation from a PyType_Spec,
// deallocation, and the wrapping of creation errors.
#pragma once

#include <string>
#include <vector>

#include "binding/errors.hpp"
#include "binding/python.hpp"

namespace ordavine::binding {

// Creates a heap type named "ordavine.<name>" with the given slots; on failure
// raises RuntimeError "An error occurred while initializing class <name>"
// caused by the interpreter's error.
PyTypeObject* create_type(const char* qualified_name, const char* class_name, int basic_size,
                          unsigned long extra_flags, std::vector<PyType_Slot> slots);

// Replaces the current exception by RuntimeError(message) caused by it.
[[noreturn]] void raise_wrapped(const std::string& message);

// Releases an instance's memory (and, where instances own it, the reference
// to their type).
void free_instance(PyObject* self) noexcept;

// A new zero-filled instance of `type`.
PyObject* allocate_instance(PyTypeObject* type);

}  // namespace ordavine::binding
