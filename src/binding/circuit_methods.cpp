#include "binding/circuit_methods.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "binding/seed_argument.hpp"
#include "binding/text_argument.hpp"
#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "frames/frame_sampler.hpp"
#include "measure/seeded_stream.hpp"
#include "measure/thread_rng.hpp"

namespace ordavine::binding {
namespace {

using circuit::Program;

// Parses, turning a record too large for memory into MemoryError with the
// reader's message (a bare bad_alloc would lose it).
Program read_program(std::string_view text) {
  try {
    return circuit::read_circuit(text);
  } catch (const circuit::RecordTooLarge& error) {
    raise(PyExc_MemoryError, error.what());
  }
}

// A new bytes object of `size` bytes, for the core to fill.
PyRef new_buffer(std::uint64_t size) {
  return PyRef(check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))));
}

std::span<std::uint8_t> bytes_of(const PyRef& buffer) {
  return {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(buffer.get())),
          static_cast<std::size_t>(PyBytes_GET_SIZE(buffer.get()))};
}

constexpr Signature<1> kRun{"run", {"circuit"}};

// ---- sample / sample_detectors ------------------------------------------------

// The parameters of both functions: two positional-or-keyword, then three
// keyword-only with defaults.
constexpr std::array<const char*, 5> kSampleParameters{"circuit", "shots", "seed", "first_shot", "bit_packed"};
constexpr std::size_t kPositional = 2;

std::array<PyObject*, 5> match_sample_call(const char* function, PyObject* const* args,
                                           Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, 5> slots{};
  const std::string name = std::string(function) + "()";
  if (nargs > static_cast<Py_ssize_t>(kPositional)) {
    raise(PyExc_TypeError, name + " takes 2 positional arguments but " + std::to_string(nargs) +
                               " were given");
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const char* text = PyUnicode_AsUTF8(key);
    if (text == nullptr) throw PythonError{};
    const auto* found = std::find_if(kSampleParameters.begin(), kSampleParameters.end(),
                                     [&](const char* p) { return std::string_view(p) == text; });
    if (found == kSampleParameters.end()) {
      raise(PyExc_TypeError, name + " got an unexpected keyword argument '" + text + "'");
    }
    PyObject*& slot = slots[static_cast<std::size_t>(found - kSampleParameters.begin())];
    if (slot != nullptr) raise(PyExc_TypeError, name + " got multiple values for argument '" + text + "'");
    slot = args[nargs + k];
  }
  for (std::size_t i = 0; i < kPositional; ++i) {
    if (slots[i] == nullptr) {
      raise(PyExc_TypeError, name + " missing required argument '" + kSampleParameters[i] + "'");
    }
  }
  return slots;
}

// Lets other threads run, and Ctrl-C be noticed, while shots run.
class InterpreterReleased {
 public:
  InterpreterReleased() : state_(PyEval_SaveThread()) {}
  ~InterpreterReleased() { PyEval_RestoreThread(state_); }
  InterpreterReleased(const InterpreterReleased&) = delete;
  InterpreterReleased& operator=(const InterpreterReleased&) = delete;

 private:
  PyThreadState* state_;
};

// A flag argument: True or False, nothing else.
bool to_flag(PyObject* object, const char* parameter) {
  if (object == nullptr || object == Py_False) return false;
  if (object == Py_True) return true;
  try {
    raise_cast_error(object, "bool");
  } catch (const PythonError&) {
    raise_conversion_error(parameter);
  }
}

ChaChaKey key_for(PyObject* seed) {
  if (seed == nullptr || seed == Py_None) {
    // No seed: a key from the calling thread's generator (itself
    // reproducible after ordavine.seed).
    ChaChaKey key{};
    RandomSource& random = thread_rng();
    for (auto& word : key) word = random.next_word();
    return key;
  }
  return key_from_seed(to_seed_bytes(seed, "seed"));
}

[[noreturn]] void raise_batch_too_large(std::uint64_t shots, std::uint64_t width) {
  raise(PyExc_MemoryError, std::to_string(shots) + " shots of " + std::to_string(width) +
                               " bytes would hold more than " +
                               std::to_string(circuit::kMaxRecordEntries) + " entries");
}

PyObject* sample_body(const char* function, bool detectors, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames) {
  const auto slots = match_sample_call(function, args, nargs, kwnames);
  const std::string_view text = to_text(slots[0], "circuit");
  const std::uint64_t shots = to_index(slots[1], "shots");
  const std::uint64_t first_shot = slots[3] == nullptr ? 0 : to_index(slots[3], "first_shot");
  if (first_shot > ~std::uint64_t{0} - shots) {
    raise(PyExc_ValueError, "first_shot + shots must be below 2**64");
  }
  const bool packed = to_flag(slots[4], "bit_packed");
  const ChaChaKey key = key_for(slots[2]);
  const Program program = read_program(text);

  frames::FrameSampler sampler(program, key, detectors, packed);
  const std::uint64_t widths[] = {sampler.measurement_row_bytes(), sampler.detector_row_bytes(),
                                  sampler.observable_row_bytes()};
  for (const std::uint64_t width : widths) {
    if (width != 0 && shots > circuit::kMaxRecordEntries / width) raise_batch_too_large(shots, width);
  }
  PyRef measurements = new_buffer(shots * widths[0]);
  PyRef detector_rows = new_buffer(shots * widths[1]);
  PyRef observable_rows = new_buffer(shots * widths[2]);
  const auto m = bytes_of(measurements), d = bytes_of(detector_rows), o = bytes_of(observable_rows);

  for (std::uint64_t done = 0; done < shots;) {
    const std::uint64_t end = sampler.stretch_end(first_shot + done, first_shot + shots) - first_shot;
    const std::size_t count = static_cast<std::size_t>(end - done);
    {
      InterpreterReleased released;
      sampler.run_shots(first_shot + done, count,
                        {m.subspan(done * widths[0], count * widths[0]),
                         d.subspan(done * widths[1], count * widths[1]),
                         o.subspan(done * widths[2], count * widths[2])});
    }
    done = end;
    check_status(PyErr_CheckSignals());
  }
  if (!detectors) return measurements.release();
  return check(PyTuple_Pack(2, detector_rows.get(), observable_rows.get()));
}

PyObject* sample_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&] { return sample_body("sample", false, args, nargs, kwnames); });
}

PyObject* sample_detectors_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return entry_point([&] { return sample_body("sample_detectors", true, args, nargs, kwnames); });
}

PyMethodDef functions[] = {
    {"sample", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sample_function)),
     METH_FASTCALL | METH_KEYWORDS,
     "sample(circuit, shots, *, seed=None, first_shot=0, bit_packed=False)\n--\n\n"},
    {"sample_detectors",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sample_detectors_function)),
     METH_FASTCALL | METH_KEYWORDS,
     "sample_detectors(circuit, shots, *, seed=None, first_shot=0, bit_packed=False)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* run_circuit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kRun, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Program program = read_program(to_text(slots[0], kRun.parameters[0]));
        circuit::check_fits(program, reg);  // before any change
        PyRef record = new_buffer(program.measurement_count);
        circuit::run_program(program, reg, thread_rng(), {bytes_of(record)});
        return record.release();
      });
}

PyMethodDef* circuit_functions() { return functions; }

}  // namespace ordavine::binding
