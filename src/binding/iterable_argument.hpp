// Reading an argument that is an iterable of items (qubits, generators, an
// edge's two ends) without taking its errors for type errors and without
// reading more of it than the call can use.
//
// Only the argument not being iterable at all is the conversion's own
// error, raised as the cast TypeError; whatever the argument's Python code
// raises while it is iterated (a generator's KeyboardInterrupt, a
// MemoryError, a RuntimeError from a register in use, a TypeError of its
// own) passes on unchanged, the very exception raised.
#pragma once

#include <cstddef>
#include <string>

#include "binding/py_ref.hpp"

namespace ordavine::binding {

// Whether `object` can be iterated: its type has `__iter__`, or it is a
// sequence that iteration by index serves.
bool is_iterable(PyObject* object);

// An iterator over `object`; an object that cannot be iterated is refused
// as "'{type}' object cannot be cast as '{target}'".
PyRef iterate_argument(PyObject* object, const char* target, const char* parameter);

// The next item, or null at the end; an error raised by the iteration
// passes on (see above).
PyRef next_item(PyObject* iterator);

// The length of an argument found to hold more than `limit` items, as a
// message shows it: its len() when that is above `limit`, else "more than
// {limit}" (an iterable without a length is not read further: it may never
// end).  An error that the argument's own __len__ raises passes on, except
// the TypeError and OverflowError that mean it has no length to give.
std::string count_beyond(PyObject* object, std::size_t limit);

}  // namespace ordavine::binding
