#include "binding/text_argument.hpp"

#include <cstdio>
#include <string>

#include "binding/arguments.hpp"

namespace ordavine::binding {
namespace {

// The offset of the first lone surrogate in UTF-8 that passes them through.
std::size_t first_surrogate(std::string_view bytes) {
  for (std::size_t at = 0; at + 2 < bytes.size(); ++at) {
    if (static_cast<unsigned char>(bytes[at]) == 0xED && static_cast<unsigned char>(bytes[at + 1]) >= 0xA0) {
      return at;
    }
  }
  fail("a str that UTF-8 cannot encode holds no lone surrogate");
}

}  // namespace

Utf8Text::Utf8Text(PyObject* text) {
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
  if (utf8 == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
    PyErr_Clear();
    passed_ = PyRef(check(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass")));
    char* data = nullptr;
    check_status(PyBytes_AsStringAndSize(passed_.get(), &data, &length));
    utf8 = data;
  }
  view_ = std::string_view(utf8, static_cast<std::size_t>(length));
}

std::string_view to_text(PyObject* object, const char* parameter) {
  if (!PyUnicode_Check(object)) raise_argument_cast_error(object, "str", parameter);
  const Utf8Text text(object);
  const std::string_view bytes = text.view();
  if (!text.has_surrogates()) return bytes;  // the str's own UTF-8, alive as long as it is
  const std::size_t at = first_surrogate(bytes);
  const std::size_t line_start =
      bytes.rfind('\n', at) == std::string_view::npos ? 0 : bytes.rfind('\n', at) + 1;
  std::size_t line = 1;
  for (std::size_t i = 0; i < line_start; ++i) line += bytes[i] == '\n';
  const unsigned point = 0xD000u | (static_cast<unsigned char>(bytes[at + 1]) & 0x3Fu) << 6 |
                         (static_cast<unsigned char>(bytes[at + 2]) & 0x3Fu);
  char shown[16];
  std::snprintf(shown, sizeof shown, "U+%04X", point);
  throw InvalidInput("line " + std::to_string(line) + ", column " + std::to_string(at - line_start + 1) +
                     ": unexpected lone surrogate " + shown + " (UTF-8 cannot encode it)");
}

}  // namespace ordavine::binding
