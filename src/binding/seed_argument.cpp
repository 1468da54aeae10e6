#include "binding/seed_argument.hpp"

#include <string>

#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/py_ref.hpp"

namespace ordavine::binding {
namespace {

std::vector<std::uint8_t> little_endian_bytes(unsigned long long value) {
  std::vector<std::uint8_t> bytes;
  for (; value != 0; value >>= 8) bytes.push_back(static_cast<std::uint8_t>(value & 0xffu));
  return bytes;
}

// For ints beyond 64 bits: `int.to_bytes` through the interpreter, which
// both CPython and PyPy provide, sized by `int.bit_length`.
std::vector<std::uint8_t> long_bytes(PyObject* integer) {
  PyRef bits(check(PyObject_CallMethod(integer, "bit_length", nullptr)));
  const Py_ssize_t bit_count = PyLong_AsSsize_t(bits.get());
  if (bit_count < 0) throw PythonError{};
  PyRef bytes(check(PyObject_CallMethod(integer, "to_bytes", "ns", (bit_count + 7) / 8, "little")));
  char* data = nullptr;
  Py_ssize_t length = 0;
  check_status(PyBytes_AsStringAndSize(bytes.get(), &data, &length));
  return std::vector<std::uint8_t>(data, data + length);
}

}  // namespace

std::vector<std::uint8_t> to_seed_bytes(PyObject* value, const char* parameter) {
  if (PyBool_Check(value)) {
    raise(PyExc_TypeError,
          std::string("argument '") + parameter + "': 'bool' object cannot be interpreted as a seed");
  }
  const PyRef integer = to_python_int(value, parameter);
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (small == -1 && overflow == 0 && PyErr_Occurred()) throw PythonError{};
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    raise(PyExc_ValueError,
          std::string("argument '") + parameter + "': can't convert negative int to a seed");
  }
  if (overflow == 0) return little_endian_bytes(static_cast<unsigned long long>(small));
  return long_bytes(integer.get());
}

}  // namespace ordavine::binding
