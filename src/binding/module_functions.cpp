#include "binding/module_functions.hpp"

#include <cstdint>
#include <vector>

#include "binding/arguments.hpp"
#include "random/seeded_stream.hpp"
#include "random/thread_rng.hpp"

namespace ordavine::binding {
namespace {

// seed(value, /): the calling thread draws from the seeded stream 0 of the
// value's key from now on; None returns it to the operating system's
// entropy.  Other threads' generators are not touched.
PyObject* seed_function(PyObject*, PyObject* value) {
  return entry_point([&]() -> PyObject* {
    if (value == Py_None) {
      thread_rng().use_entropy();
    } else {
      const std::vector<std::uint8_t> bytes = to_seed_bytes(value, "value");
      thread_rng().use_seeded_stream(key_from_seed(bytes), 0);
    }
    Py_RETURN_NONE;
  });
}

PyMethodDef functions[] = {
    {"seed", seed_function, METH_O, "seed($module, value, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* module_functions() { return functions; }

}  // namespace ordavine::binding
