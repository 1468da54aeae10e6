#include "binding/circuit_methods.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "binding/arguments.hpp"
#include "binding/ordavine_object.hpp"
#include "binding/py_ref.hpp"
#include "binding/signal_check.hpp"
#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "frames/frame_sampler.hpp"
#include "frames/sample_shots.hpp"
#include "random/seeded_stream.hpp"
#include "random/thread_rng.hpp"
#include "register/out_of_memory.hpp"

namespace ordavine::binding {
namespace {

using circuit::Program;

// A new bytes object of `size` bytes for `what`, for the core to fill.  The
// only way to fail making bytes left unwritten is to lack the memory, and
// the interpreter's own error says nothing (CPython: MemoryError without a
// text, or OverflowError near the size limit; PyPy: SystemError wrapping a
// MemoryError), so it is replaced by one that says what and how much.
// `what` names it, and is asked only on failure.
template <class What>
PyRef new_buffer(std::uint64_t size, What&& what) {
  PyObject* bytes = size > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)
                        ? nullptr
                        : PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (bytes == nullptr) {
    PyErr_Clear();
    throw could_not_allocate(size, what());
  }
  return PyRef(bytes);
}

std::span<std::uint8_t> bytes_of(const PyRef& buffer) {
  return {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(buffer.get())),
          static_cast<std::size_t>(PyBytes_GET_SIZE(buffer.get()))};
}

constexpr Signature<1> kRun{"run", {"circuit"}};

// ---- sample / sample_detectors ------------------------------------------------

// Both functions: two positional-or-keyword parameters, then three
// keyword-only ones with defaults.
constexpr Signature<5> kSample{
    "sample", {"circuit", "shots", "seed", "first_shot", "bit_packed"}, 2, 2, nullptr};
constexpr Signature<5> kSampleDetectors{
    "sample_detectors", {"circuit", "shots", "seed", "first_shot", "bit_packed"}, 2, 2, nullptr};

// The key of a seed argument; none for None (or no argument), whose key
// comes from the generator once nothing can be refused any more.
std::optional<ChaChaKey> key_of_seed(PyObject* seed) {
  if (seed == nullptr || seed == Py_None) return std::nullopt;
  return key_from_seed(to_seed_bytes(seed, "seed"));
}

[[noreturn]] void raise_batch_too_large(std::uint64_t shots, std::uint64_t width) {
  raise(PyExc_MemoryError, std::to_string(shots) + " shots of " + std::to_string(width) +
                               " bytes would hold more than " + std::to_string(circuit::kMaxRecordEntries) +
                               " entries");
}

// Everything that can be refused here (arguments, text, sizes, the rows'
// memory) is met before sample_shots, which meets the rest before it draws
// the key of an unseeded call from the thread's generator (itself
// reproducible after ordavine.seed), so that a refused call leaves the
// generator as it was.  The shots, and the reference run before them, run
// without the interpreter lock, polling for signals as they go.
PyObject* sample_body(const Signature<5>& signature, bool detectors, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  const auto slots = match_arguments(signature, args, nargs, kwnames);
  const std::string_view text = to_text(slots[0], "circuit");
  const std::uint64_t shots = to_index(slots[1], "shots");
  const std::uint64_t first_shot = slots[3] == nullptr ? 0 : to_index(slots[3], "first_shot");
  if (first_shot > ~std::uint64_t{0} - shots) {
    raise(PyExc_ValueError, "first_shot + shots must be below 2**64");
  }
  const bool packed = to_flag(slots[4], "bit_packed");
  const std::optional<ChaChaKey> seeded = key_of_seed(slots[2]);
  const Program program = read_program(text);

  frames::FrameSampler sampler(program, detectors, packed);
  const std::uint64_t widths[] = {sampler.measurement_row_bytes(), sampler.detector_row_bytes(),
                                  sampler.observable_row_bytes()};
  for (const std::uint64_t width : widths) {
    if (width != 0 && shots > circuit::kMaxRecordEntries / width) raise_batch_too_large(shots, width);
  }
  const auto rows_of = [shots](const char* kind) {
    return
        [shots, kind] { return std::string("the ") + kind + " rows of " + std::to_string(shots) + " shots"; };
  };
  PyRef measurements = new_buffer(shots * widths[0], rows_of("measurement"));
  PyRef detector_rows = new_buffer(shots * widths[1], rows_of("detector"));
  PyRef observable_rows = new_buffer(shots * widths[2], rows_of("observable"));
  PyRef pair = detectors ? PyRef(check(PyTuple_New(2))) : PyRef();
  {
    InterpreterReleased released;  // the thread's generator needs no lock
    SignalCheck signals(released);
    frames::sample_shots(sampler, {seeded, &thread_rng(), first_shot, shots, &signals},
                         {bytes_of(measurements), bytes_of(detector_rows), bytes_of(observable_rows)});
  }
  if (!detectors) return measurements.release();
  PyTuple_SET_ITEM(pair.get(), 0, detector_rows.release());  // steals the reference
  PyTuple_SET_ITEM(pair.get(), 1, observable_rows.release());
  return pair.release();
}

PyObject* sample_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&] { return sample_body(kSample, false, args, nargs, kwnames); });
}

PyObject* sample_detectors_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&] { return sample_body(kSampleDetectors, true, args, nargs, kwnames); });
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

Program read_program(std::string_view text) {
  try {
    return circuit::read_circuit(text);
  } catch (const OutOfMemory&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("could not allocate the program of " + std::to_string(text.size()) +
                      " bytes of circuit text");
  }
}

PyObject* run_circuit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_method<Access::exclusive>(
      kRun, self, args, nargs, kwnames, [](Register& reg, const auto& slots) {
        const Program program = read_program(to_text(slots[0], kRun.parameters[0]));
        circuit::check_fits(program, reg);  // before any change or draw
        PyRef record =
            new_buffer(program.measurement_count, [] { return std::string("the measurement record"); });
        SignalCheck signals;
        circuit::run_program(program, reg, thread_rng(), {bytes_of(record)}, &signals);
        return record.release();
      });
}

PyMethodDef* circuit_functions() { return functions; }

}  // namespace ordavine::binding
