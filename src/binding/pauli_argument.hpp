// The `pauli` argument of the product methods: a Pauli product given as
// text in the circuit format's product syntax ("X0*Z5*Y7", "-Z3"), as a
// dict {qubit: "X" | "Y" | "Z"} (sign +1), or as the (sign, dict) pair
// that `stabilizer` returns.  Every form is reduced to one factor per
// qubit by the rules of the circuit format's products (reduce_product):
// X0*X0 is the identity, X0*Z0 is refused.
#pragma once

#include <vector>

#include "binding/python.hpp"
#include "register/pauli_product.hpp"
#include "register/register.hpp"

namespace ordavine::binding {

struct ProductArgument {
  bool negative = false;
  std::vector<PauliFactor> factors;  // one per qubit, each index below the size
};

// Converts and checks `object` against `reg`.  Text is checked as circuit
// text (ValueError with its column, an index at or above the size
// included); dict keys follow the qubit argument rules (TypeError,
// OverflowError, and the index failure for an index at or above the size);
// a dict value other than "X", "Y" or "Z" is a ValueError, a sign other
// than 1 or -1 too.  Fills `product`, and writes it only after every piece
// of Python code the conversion runs (a key's __index__) has returned, so
// that per-thread storage may be passed by a method that runs no Python
// code between this conversion and its use of the product.
void to_product(PyObject* object, const char* parameter, const Register& reg, ProductArgument& product);

}  // namespace ordavine::binding
