#include "binding/state_methods.hpp"

#include <span>

#include "binding/arguments.hpp"
#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "register/serialise.hpp"

namespace ordavine::binding {
namespace {

constexpr Signature<0> kCopy{"copy", {}};
constexpr Signature<0> kDunderCopy{"__copy__", {}};
constexpr Signature<1> kDeepcopy{"__deepcopy__", {"memo"}};
constexpr Signature<0> kToBytes{"to_bytes", {}};
constexpr Signature<1> kFromBytes{"from_bytes", {"data"}};
constexpr Signature<0> kReduce{"__reduce__", {}};

// The register holds no Python objects, so a shallow and a deep copy are
// the same: the lists copied in order, one allocation each.
template <std::size_t N>
PyObject* copy_of(const Signature<N>& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) {
  return call_method<Access::shared>(signature, self, args, nargs, kwnames, [](Register& reg, const auto&) {
    return new_ordavine([&] { return Register(reg); });
  });
}

PyObject* saved_bytes(const Register& reg) {
  const std::size_t size = saved_size(reg);
  PyRef bytes(check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))));
  auto* data = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get()));
  save_register(reg, std::span<std::uint8_t>(data, size));
  return bytes.release();
}

// The bytes of a saved state.  Those of a view that is not contiguous are
// copied, after the header has been checked through the view: a view that
// claims far more bytes than it has (a zero stride) repeats a run of bytes
// from its start, and a run shorter than the header fails it, so such a
// view is refused before anything is copied.
std::span<const std::uint8_t> saved_state_bytes(BufferArgument& buffer) {
  if (!buffer.contiguous()) {
    check_saved_header(buffer.first_bytes(kSavedHeaderSize), static_cast<std::size_t>(buffer.view().len));
  }
  return buffer.bytes();
}

}  // namespace

PyObject* copy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return copy_of(kCopy, self, args, nargs, kwnames);
}

PyObject* dunder_copy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return copy_of(kDunderCopy, self, args, nargs, kwnames);
}

PyObject* deepcopy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return copy_of(kDeepcopy, self, args, nargs, kwnames);
}

PyObject* to_bytes_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kToBytes, self, args, nargs, kwnames,
                                     [](Register& reg, const auto&) { return saved_bytes(reg); });
}

PyObject* from_bytes_method(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kFromBytes, args, nargs, kwnames);
    BufferArgument buffer(slots[0], "bytes", kFromBytes.parameters[0]);
    return new_ordavine([&] { return load_register(saved_state_bytes(buffer)); });
  });
}

PyObject* reduce_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::shared>(kReduce, self, args, nargs, kwnames, [](Register& reg, const auto&) {
    PyRef loader(check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(ordavine_type()), "from_bytes")));
    PyRef bytes(saved_bytes(reg));
    return check(Py_BuildValue("(O(O))", loader.get(), bytes.get()));
  });
}

}  // namespace ordavine::binding
