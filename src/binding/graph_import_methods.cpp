#include "binding/graph_import_methods.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/arguments.hpp"
#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "register/graph_import.hpp"
#include "register/stabilizer_import.hpp"

namespace ordavine::binding {
namespace {

constexpr Signature<3> kFromGraph{"from_graph", {"nodes", "edges", "vops"}, 2};
constexpr Signature<1> kFromStabilizers{"from_stabilizers", {"stabilizers"}};

// The integer layout of a buffer's items, read from its struct format.
struct ItemFormat {
  bool integer = false;
  bool is_signed = false;
  bool swapped = false;  // the other byte order than this machine's
};

ItemFormat item_format(const Py_buffer& view) {
  std::string_view format = view.format == nullptr ? std::string_view("B") : std::string_view(view.format);
  bool big = std::endian::native == std::endian::big;
  if (!format.empty() && std::string_view("@=<>!").find(format.front()) != std::string_view::npos) {
    if (format.front() == '<') big = false;
    if (format.front() == '>' || format.front() == '!') big = true;
    format.remove_prefix(1);
  }
  ItemFormat item;
  if (format.size() != 1 || std::string_view("bBhHiIlLqQnN").find(format.front()) == std::string_view::npos) {
    return item;
  }
  const auto size = view.itemsize;
  item.integer = size == 1 || size == 2 || size == 4 || size == 8;
  item.is_signed = format.front() >= 'a';
  item.swapped = big != (std::endian::native == std::endian::big);
  return item;
}

std::string format_text(const Py_buffer& view) { return view.format == nullptr ? "B" : view.format; }

std::string shape_text(const Py_buffer& view) {
  std::string text = "(";
  for (int d = 0; d < view.ndim; ++d) {
    if (d > 0) text += ", ";
    text += std::to_string(view.shape[d]);
  }
  return text + (view.ndim == 1 ? ",)" : ")");
}

// The VOP argument: any buffer of single bytes, one per qubit.  Its bytes
// are read only once their count is known to match the qubits, so that a
// view claiming far more bytes than it has (a zero stride) is refused
// before anything is copied.
class VopArgument {
 public:
  explicit VopArgument(PyObject* object) : buffer_(object, "bytes", kFromGraph.parameters[2]) {
    const Py_buffer& view = buffer_.view();
    const ItemFormat item = item_format(view);
    const std::string format = format_text(view);
    if (view.itemsize != 1 || (!item.integer && format != "c")) {
      raise_argument_error(PyExc_TypeError, kFromGraph.parameters[2],
                           "a buffer of bytes is needed, not one of format '" + format + "'");
    }
  }
  std::span<const std::uint8_t> bytes_for(std::size_t nodes) {
    check_vop_count(nodes, buffer_.items());
    return buffer_.bytes();
  }

 private:
  BufferArgument buffer_;
};

using OptionalVops = std::optional<VopArgument>;

std::optional<std::span<const std::uint8_t>> vops_for(std::size_t nodes, OptionalVops& vops) {
  if (!vops) return std::nullopt;
  return vops->bytes_for(nodes);
}

// The edges of a buffer read in place: through a span when they lie in
// order in this machine's byte order and alignment, else through the
// strides, swapping bytes where the format says so.
template <class Index>
Register from_edge_buffer(std::size_t nodes, const BufferArgument& buffer, std::size_t ends, bool swapped,
                          OptionalVops& vops) {
  const Py_buffer& view = buffer.view();
  const bool in_place =
      !swapped && buffer.contiguous() && reinterpret_cast<std::uintptr_t>(view.buf) % alignof(Index) == 0;
  if (in_place) {
    const std::span<const Index> flat(static_cast<const Index*>(view.buf), ends);
    return graph_register<Index>(nodes, flat, vops_for(nodes, vops));
  }
  const Py_ssize_t end_stride = view.ndim == 1 ? buffer.stride(0) : buffer.stride(1);
  const Py_ssize_t pair_stride = view.ndim == 1 ? 2 * buffer.stride(0) : buffer.stride(0);
  const StridedEnds<Index> strided(static_cast<const unsigned char*>(view.buf), ends, pair_stride, end_stride,
                                   swapped);
  return graph_register<Index>(nodes, strided, vops_for(nodes, vops));
}

Register from_buffer(std::size_t nodes, PyObject* edges, OptionalVops& vops) {
  const BufferArgument buffer(edges, "buffer", kFromGraph.parameters[1]);
  const Py_buffer& view = buffer.view();
  const ItemFormat item = item_format(view);
  if (!item.integer) {
    raise_argument_error(PyExc_TypeError, kFromGraph.parameters[1],
                         "a buffer of integers is needed, not one of format '" + format_text(view) + "'");
  }
  std::size_t ends = 0;
  if (view.ndim == 1) {
    ends = static_cast<std::size_t>(view.shape[0]);
    if (ends % 2 != 0) {
      throw InvalidInput("invalid graph: a flat edge buffer holds pairs, but this one has " +
                         std::to_string(ends) + " entries");
    }
  } else if (view.ndim == 2 && view.shape[1] == 2) {
    ends = 2 * static_cast<std::size_t>(view.shape[0]);
  } else {
    throw InvalidInput("invalid graph: an edge array has shape (m, 2) or (2m,), not " + shape_text(view));
  }
  switch (view.itemsize * (item.is_signed ? -1 : 1)) {
    case -1: return from_edge_buffer<std::int8_t>(nodes, buffer, ends, item.swapped, vops);
    case 1: return from_edge_buffer<std::uint8_t>(nodes, buffer, ends, item.swapped, vops);
    case -2: return from_edge_buffer<std::int16_t>(nodes, buffer, ends, item.swapped, vops);
    case 2: return from_edge_buffer<std::uint16_t>(nodes, buffer, ends, item.swapped, vops);
    case -4: return from_edge_buffer<std::int32_t>(nodes, buffer, ends, item.swapped, vops);
    case 4: return from_edge_buffer<std::uint32_t>(nodes, buffer, ends, item.swapped, vops);
    case -8: return from_edge_buffer<std::int64_t>(nodes, buffer, ends, item.swapped, vops);
    default: return from_edge_buffer<std::uint64_t>(nodes, buffer, ends, item.swapped, vops);
  }
}

std::string text_of_object(PyObject* object) {
  PyRef text(check(PyObject_Str(object)));
  return check(PyUnicode_AsUTF8(text.get()));
}

// One end of a pair from an iterable: an int or an object with __index__.
// Negative values go to the core, which refuses them with the rest; a
// value no 64-bit integer holds is refused here.
std::int64_t read_end(PyObject* value, std::size_t edge, PyObject* pair[2], std::size_t count) {
  const PyRef integer = to_python_int(value, kFromGraph.parameters[1]);
  int overflow = 0;
  const long long read = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (read == -1 && overflow == 0 && PyErr_Occurred()) throw PythonError{};
  if (overflow != 0) refuse_edge_end(edge, text_of_object(pair[0]), text_of_object(pair[1]), count);
  return read;
}

// The two ends of edge `edge`, from an iterable item of the edges.  An
// item that cannot be iterated is not a pair; one of another length is
// refused for it, read no further than a third entry.
std::array<PyRef, 2> read_pair(PyObject* item, std::size_t edge) {
  const char* parameter = kFromGraph.parameters[1];
  if (!is_iterable(item)) {
    raise_argument_error(PyExc_TypeError, parameter,
                         "edge " + std::to_string(edge) + " is a '" + qualified_name(Py_TYPE(item)) +
                             "', not a pair of qubits");
  }
  std::array<PyRef, 3> entries;
  std::size_t count = 0;
  if (PyList_CheckExact(item) || PyTuple_CheckExact(item)) {
    count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(item));
    for (std::size_t i = 0; i < count && i < 2; ++i) {
      entries[i] = PyRef::borrow(PySequence_Fast_GET_ITEM(item, static_cast<Py_ssize_t>(i)));
    }
  } else {
    const PyRef iterator = iterate_argument(item, "pair", parameter);
    while (count < entries.size()) {
      PyRef entry = next_item(iterator.get());
      if (!entry) break;
      entries[count++] = std::move(entry);
    }
    if (count == entries.size()) {
      throw InvalidInput("invalid graph: edge " + std::to_string(edge) + " has " + count_beyond(item, 2) +
                         " entries, not 2");
    }
  }
  if (count != 2) {
    throw InvalidInput("invalid graph: edge " + std::to_string(edge) + " has " + std::to_string(count) +
                       " entries, not 2");
  }
  return {std::move(entries[0]), std::move(entries[1])};
}

Register from_iterable(std::size_t nodes, PyObject* edges, OptionalVops& vops) {
  const NestingGuard nesting;  // iteration and __index__ may call into the module
  PyRef iterator(PyObject_GetIter(edges));
  if (!iterator) {
    resume_panic_if_raised();
    raise_conversion_error(kFromGraph.parameters[1]);
  }
  std::vector<std::int64_t> ends;
  for (std::size_t edge = 0;; ++edge) {
    const PyRef item = next_item(iterator.get());
    if (!item) break;
    // Both ends are held while they convert: an end's __index__ may change the pair.
    const std::array<PyRef, 2> pair = read_pair(item.get(), edge);
    PyObject* both[2] = {pair[0].get(), pair[1].get()};
    const std::int64_t a = read_end(both[0], edge, both, nodes);
    const std::int64_t b = read_end(both[1], edge, both, nodes);
    ends.push_back(a);
    ends.push_back(b);
  }
  return graph_register<std::int64_t>(nodes, std::span<const std::int64_t>(ends), vops_for(nodes, vops));
}

}  // namespace

PyObject* from_graph_method(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kFromGraph, args, nargs, kwnames);
    const std::size_t nodes = to_index(slots[0], kFromGraph.parameters[0]);
    OptionalVops vops;
    if (slots[2] != nullptr && slots[2] != Py_None) vops.emplace(slots[2]);
    PyObject* edges = slots[1];
    return new_ordavine([&] {
      return PyObject_CheckBuffer(edges) ? from_buffer(nodes, edges, vops)
                                         : from_iterable(nodes, edges, vops);
    });
  });
}

PyObject* from_stabilizers_method(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kFromStabilizers, args, nargs, kwnames);
    const char* parameter = kFromStabilizers.parameters[0];
    PyObject* given = slots[0];
    if (PyUnicode_Check(given) || PyBytes_Check(given)) {
      raise_argument_error(PyExc_TypeError, parameter,
                           "a sequence of generators is needed (one str per qubit), not one '" +
                               qualified_name(Py_TYPE(given)) + "'");
    }
    // Each generator is checked to be a str as it is read: an iterable of
    // something else is refused at its first item, not read to its end.
    PyRef items;
    if (PyList_CheckExact(given) || PyTuple_CheckExact(given)) {
      items = PyRef::borrow(given);
    } else {
      const NestingGuard nesting;  // iterating may run Python code
      const PyRef iterator = iterate_argument(given, "Sequence[str]", parameter);
      items = PyRef(check(PyList_New(0)));
      while (const PyRef item = next_item(iterator.get())) {
        check_status(PyList_Append(items.get(), item.get()));
        if (!PyUnicode_Check(item.get())) break;
      }
    }
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    std::vector<Utf8Text> utf8;
    utf8.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
      if (!PyUnicode_Check(item)) {
        raise_argument_error(
            PyExc_TypeError, parameter,
            "generator " + std::to_string(i) + " is a '" + qualified_name(Py_TYPE(item)) + "', not a 'str'");
      }
      utf8.emplace_back(item);
    }
    std::vector<std::string_view> texts;
    texts.reserve(utf8.size());
    for (const Utf8Text& text : utf8) texts.push_back(text.view());
    return new_ordavine([&] { return register_from_stabilizers(texts); });
  });
}

}  // namespace ordavine::binding
