// Text arguments: a str as the UTF-8 bytes that the core's readers take.
//
// A str may hold lone surrogates, which UTF-8 cannot encode.  The readers
// of Pauli products and stabilizers get them as the bytes UTF-8 would give
// them were they characters, and refuse them naming where they stand, as
// any character they do not know; circuit text refuses them itself.
#pragma once

#include <string_view>

#include "binding/py_ref.hpp"

namespace ordavine::binding {

// The UTF-8 of a str, kept alive with it.
class Utf8Text {
 public:
  explicit Utf8Text(PyObject* text);
  std::string_view view() const { return view_; }
  // Whether the str holds a lone surrogate (then written as its three bytes).
  bool has_surrogates() const { return static_cast<bool>(passed_); }

 private:
  std::string_view view_;
  PyRef passed_;  // the bytes of a str with surrogates; else the str's own UTF-8 is used
};

// The circuit text of a `str` argument, as UTF-8 (valid while the object
// lives).  Another type is a TypeError; a lone surrogate is a ValueError
// naming its line and column, as the circuit reader names the bytes it
// refuses.
std::string_view to_text(PyObject* object, const char* parameter);

}  // namespace ordavine::binding
