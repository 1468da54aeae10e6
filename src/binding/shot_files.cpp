#include "binding/shot_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "binding/arguments.hpp"
#include "binding/errors.hpp"

namespace ordavine::binding {
namespace {

PyRef file_system_path(PyObject* path, const char* parameter) {
  if (!PyUnicode_Check(path) && !PyBytes_Check(path) && !PyObject_HasAttrString(path, "__fspath__")) {
    raise_argument_cast_error(path, "str, bytes or os.PathLike", parameter);
  }
  // os.fspath first: PyPy's converter takes str and bytes only.
  PyRef os(check(PyImport_ImportModule("os")));
  PyRef text(check(PyObject_CallMethod(os.get(), "fspath", "O", path)));
  PyObject* bytes = nullptr;
  if (PyUnicode_FSConverter(text.get(), &bytes) == 0) throw PythonError{};
  return PyRef(bytes);
}

std::FILE* open_or_raise(const PyRef& path, const PyRef& shown) {
  std::FILE* file = std::fopen(PyBytes_AS_STRING(path.get()), "wb");
  if (file == nullptr) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, shown.get());
    throw PythonError{};
  }
  return file;
}

}  // namespace

void ShotFile::NotingSink::write(std::span<const std::uint8_t> bytes) {
  try {
    inner.write(bytes);
  } catch (const shot_data::IoError&) {
    failed = true;
    throw;
  }
}

void ShotFile::NotingSink::flush() {
  try {
    inner.flush();
  } catch (const shot_data::IoError&) {
    failed = true;
    throw;
  }
}

ShotFile::ShotFile(PyObject* path, const char* parameter)
    : shown_(PyRef::borrow(path)),
      path_(file_system_path(path, parameter)),
      file_(open_or_raise(path_, shown_)),
      sink_(file_) {
  struct stat status {};
  regular_ = ::fstat(::fileno(file_), &status) == 0 && S_ISREG(status.st_mode);
}

ShotFile::~ShotFile() {
  if (kept_) return;
  if (file_ != nullptr) std::fclose(file_);
  // Only a regular file is ours to remove: a device or a pipe the caller
  // named stays where it is.
  if (regular_) ::unlink(PyBytes_AS_STRING(path_.get()));
}

void ShotFile::keep() {
  std::FILE* file = file_;
  file_ = nullptr;
  kept_ = true;
  if (std::fclose(file) != 0) {
    const int error = errno;
    kept_ = false;  // a file that did not close whole is removed
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, shown_.get());
    throw PythonError{};
  }
}

void ShotFile::raise_write_error(const shot_data::IoError& error) const {
  PyRef number(check(PyLong_FromLong(error.error_number())));
  PyRef text(check(PyUnicode_FromString(error.message().c_str())));
  PyRef arguments(check(PyTuple_Pack(3, number.get(), text.get(), shown_.get())));
  PyErr_SetObject(PyExc_OSError, arguments.get());
  throw PythonError{};
}

}  // namespace ordavine::binding
