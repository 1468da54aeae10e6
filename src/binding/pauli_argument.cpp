#include "binding/pauli_argument.hpp"

#include <string>
#include <string_view>

#include "binding/arguments.hpp"
#include "binding/py_ref.hpp"
#include "register/pauli_text.hpp"

namespace ordavine::binding {
namespace {

Axis axis_of_value(PyObject* value, Qubit qubit, const char* parameter) {
  const std::string where = "the Pauli of qubit " + std::to_string(qubit) + " must be 'X', 'Y' or 'Z'";
  if (!PyUnicode_Check(value)) {
    raise_argument_error(PyExc_TypeError, parameter,
                         where + ", not '" + qualified_name(Py_TYPE(value)) + "'");
  }
  const Utf8Text letter(value);
  if (letter.view().size() == 1) {
    switch (letter.view()[0]) {
      case 'X': return Axis::x;
      case 'Y': return Axis::y;
      case 'Z': return Axis::z;
      default: break;
    }
  }
  PyRef shown(check(PyObject_Repr(value)));
  const char* shown_text = check(PyUnicode_AsUTF8(shown.get()));
  raise_argument_error(PyExc_ValueError, parameter, where + ", not " + shown_text);
}

// The factors of a dict, read from a snapshot of its items: converting a
// key may run Python code that changes the dict.
void read_dict(PyObject* dict, const char* parameter, std::vector<PauliFactor>& written) {
  PyRef items(check(PyDict_Items(dict)));
  const Py_ssize_t count = PyList_GET_SIZE(items.get());
  written.clear();
  written.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);
    const Qubit qubit = to_index(PyTuple_GET_ITEM(item, 0), parameter);
    written.push_back({qubit, axis_of_value(PyTuple_GET_ITEM(item, 1), qubit, parameter)});
  }
}

bool read_sign(PyObject* sign, const char* parameter) {
  if (PyLong_Check(sign) && !PyBool_Check(sign)) {
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(sign, &overflow);
    if (overflow == 0 && (value == 1 || value == -1)) return value < 0;
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
  }
  raise_argument_error(PyExc_ValueError, parameter, "the sign of a (sign, dict) product must be 1 or -1");
}

}  // namespace

void to_product(PyObject* object, const char* parameter, const Register& reg, ProductArgument& product) {
  if (PyUnicode_Check(object)) {
    const Utf8Text text(object);
    read_pauli_product(text.view(), reg.size(), product.negative, product.factors);
    return;
  }
  PyObject* dict = object;
  bool negative = false;
  if (PyTuple_Check(object) && PyTuple_GET_SIZE(object) == 2 && PyDict_Check(PyTuple_GET_ITEM(object, 1))) {
    negative = read_sign(PyTuple_GET_ITEM(object, 0), parameter);
    dict = PyTuple_GET_ITEM(object, 1);
  } else if (!PyDict_Check(object)) {
    try {
      raise_cast_error(object, "str | dict | tuple[int, dict]");
    } catch (const PythonError&) {
      raise_conversion_error(parameter);
    }
  }
  // Keys may run Python code (__index__) that calls this module again:
  // the factors are gathered locally, and `product` written after.
  std::vector<PauliFactor> written;
  read_dict(dict, parameter, written);
  for (const PauliFactor& factor : written) reg.check(factor.qubit);
  if (!reduce_product(written, negative, product.factors)) {
    raise_argument_error(
        PyExc_ValueError, parameter,
        "the Pauli product is not Hermitian: its factors multiply to +-i times a Pauli product");
  }
  product.negative = negative;
}

}  // namespace ordavine::binding
