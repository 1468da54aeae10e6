// The result classes `MeasurementResult` and `Outcome`, and the builders the
// methods use to hand results to the interpreter.
#pragma once

#include <cstdint>
#include <vector>

#include "binding/python.hpp"
#include "measure/peek.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

// Creates the two classes (once per process); throws PythonError.
PyTypeObject* measurement_result_type();
PyTypeObject* outcome_type();

// A new MeasurementResult for bit 0 (PlusOne) or 1 (MinusOne).
PyObject* new_measurement_result(std::uint8_t bit);

// A new Outcome from its result bit and its info byte (the axis measured in
// bits 0-1, bit 2 set when the state fixed the outcome).
PyObject* new_outcome(std::uint8_t result, std::uint8_t info);

// A new dict from each qubit index to a new Outcome.
PyObject* new_outcome_dict(const std::vector<PeekOutcome>& outcomes);

// A new list of ints, in the given order.
PyObject* new_index_list(const std::vector<Qubit>& indices);
PyObject* new_index_list(const NeighbourList& indices);

// A new set of ints.
PyObject* new_index_set(const std::vector<Qubit>& indices);

}  // namespace ordavine::binding
