#include "binding/iterable_argument.hpp"

#include "binding/arguments.hpp"

namespace ordavine::binding {

bool is_iterable(PyObject* object) { return Py_TYPE(object)->tp_iter != nullptr || PySequence_Check(object); }

PyRef iterate_argument(PyObject* object, const char* target, const char* parameter) {
  if (!is_iterable(object)) raise_argument_cast_error(object, target, parameter);
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) {
    resume_panic_if_raised();
    throw PythonError{};
  }
  return iterator;
}

PyRef next_item(PyObject* iterator) {
  PyRef item(PyIter_Next(iterator));
  if (!item && PyErr_Occurred()) {
    resume_panic_if_raised();
    throw PythonError{};
  }
  return item;
}

std::string count_beyond(PyObject* object, std::size_t limit) {
  const Py_ssize_t length = PyObject_Size(object);
  if (length < 0) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_OverflowError)) {
      resume_panic_if_raised();
      throw PythonError{};
    }
    PyErr_Clear();  // no length to give, or none that fits: said without a number
  } else if (static_cast<std::size_t>(length) > limit) {
    return std::to_string(length);
  }
  return "more than " + std::to_string(limit);
}

}  // namespace ordavine::binding
