// `Circuit.compile_sampler` and `Circuit.compile_detector_sampler`, and the
// two sampler classes they make.  A sampler holds its circuit's program,
// for a record of measurements the program's reference record (made once,
// at compile time), its key, and the number of the next shot: successive
// calls give shots 0, 1, 2, ... of the key, the rows `ordavine.sample`
// gives for the same seed and first_shot.  A call reserves its shots
// before it releases the interpreter lock, so calls from several threads
// take disjoint shots; a call that fails gives its shots back when no
// other call has taken shots since.
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "binding/arguments.hpp"
#include "binding/array_result.hpp"
#include "binding/circuit_object.hpp"
#include "binding/errors.hpp"
#include "binding/py_ref.hpp"
#include "binding/shot_files.hpp"
#include "binding/signal_check.hpp"
#include "binding/type_builder.hpp"
#include "frames/frame_sampler.hpp"
#include "frames/parallel_shots.hpp"
#include "frames/row_join.hpp"
#include "frames/sample_shots.hpp"
#include "frames/shot_rows.hpp"
#include "random/seeded_stream.hpp"
#include "random/thread_rng.hpp"
#include "shot_data/format.hpp"
#include "shot_data/sampled_files.hpp"
#include "shot_data/writer.hpp"

namespace ordavine::binding {
namespace {

inline constexpr char kMeasurementSamplerName[] = "ordavine.CompiledMeasurementSampler";
inline constexpr char kDetectorSamplerName[] = "ordavine.CompiledDetectorSampler";

PyTypeObject* measurement_sampler_class = nullptr;
PyTypeObject* detector_sampler_class = nullptr;

struct SamplerObject {
  PyObject_HEAD std::shared_ptr<const circuit::Program> program;
  std::shared_ptr<const frames::ReferenceRecord> reference;  // measurement samplers only
  ChaChaKey key;
  std::uint64_t next_shot;
  MadeMark made;
};

SamplerObject& as_sampler(PyObject* self, PyTypeObject* type, const char* name) {
  if (type == nullptr || !PyObject_TypeCheck(self, type)) raise_cast_error(self, name);
  auto& object = *reinterpret_cast<SamplerObject*>(self);
  require_made(object.made, name);
  return object;
}

void sampler_dealloc(PyObject* self) noexcept {
  auto* object = reinterpret_cast<SamplerObject*>(self);
  if (object->made) {
    std::destroy_at(&object->program);
    std::destroy_at(&object->reference);
  }
  free_instance(self);
}

// ---- compiling -------------------------------------------------------------------

constexpr Signature<1> kCompileSampler{"compile_sampler", {"seed"}, 0, 0, "Circuit"};
constexpr Signature<1> kCompileDetectorSampler{"compile_detector_sampler", {"seed"}, 0, 0, "Circuit"};

// The key of a sampler: the seed's, or, for None, eight words of the
// thread's generator, drawn after everything else could be refused.
PyObject* compile(PyObject* self, PyObject* seed, bool detectors) {
  const CircuitObject& circuit = as_circuit(self);
  std::optional<ChaChaKey> seeded;
  if (seed != nullptr && seed != Py_None) seeded = key_from_seed(to_seed_bytes(seed, "seed"));
  std::shared_ptr<const frames::ReferenceRecord> reference;
  if (!detectors) {
    InterpreterReleased released;
    SignalCheck signals(released);
    reference = frames::make_reference_record(*circuit.program, &signals);
  }
  PyObject* made = allocate_instance(detectors ? detector_sampler_class : measurement_sampler_class);
  auto* object = reinterpret_cast<SamplerObject*>(made);
  new (&object->program) std::shared_ptr<const circuit::Program>(circuit.program);
  new (&object->reference) std::shared_ptr<const frames::ReferenceRecord>(std::move(reference));
  object->key = seeded ? *seeded : frames::key_from_source(thread_rng());
  object->next_shot = 0;
  object->made = true;
  return made;
}

// ---- sampling --------------------------------------------------------------------

// The thread count of a call: every core the process may run on for None.
unsigned to_thread_count(PyObject* value) {
  if (value == nullptr || value == Py_None) return frames::available_cores();
  const std::uint64_t count = to_index(value, "num_threads");
  if (count == 0) raise_argument_error(PyExc_ValueError, "num_threads", "must be at least 1");
  return static_cast<unsigned>(std::min<std::uint64_t>(count, 1024));
}

// The shots of one call, taken from the sampler's next ones.
class Reservation {
 public:
  Reservation(SamplerObject& sampler, std::uint64_t shots) : sampler_(sampler), first_(sampler.next_shot) {
    if (shots > ~std::uint64_t{0} - first_) {
      raise(PyExc_ValueError,
            "this sampler has fewer than " + std::to_string(shots) + " shots left before 2**64");
    }
    end_ = first_ + shots;
    sampler_.next_shot = end_;
  }
  // Given back unless kept, and unless a later call has taken shots.
  ~Reservation() {
    if (!kept_ && sampler_.next_shot == end_) sampler_.next_shot = first_;
  }
  void keep() { kept_ = true; }
  std::uint64_t first() const { return first_; }

 private:
  SamplerObject& sampler_;
  std::uint64_t first_, end_ = 0;
  bool kept_ = false;
};

void run_shots(const SamplerObject& sampler, bool detectors, bool packed, std::uint64_t first,
               std::uint64_t shots, frames::SampleOutputs outputs, unsigned threads) {
  frames::ThreadedSampler threaded(*sampler.program, detectors, packed, sampler.reference, threads);
  InterpreterReleased released;
  SignalCheck signals(released);
  frames::sample_shots(threaded, {sampler.key, nullptr, first, shots, &signals}, outputs);
}

constexpr Signature<3> kSample{
    "sample", {"shots", "bit_packed", "num_threads"}, 1, 1, "CompiledMeasurementSampler"};

PyObject* measurement_sample(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kSample, args, nargs, kwnames);
    SamplerObject& sampler = as_sampler(self, measurement_sampler_class, "CompiledMeasurementSampler");
    const std::uint64_t shots = to_index(slots[0], "shots");
    const bool packed = to_flag(slots[1], "bit_packed");
    const unsigned threads = to_thread_count(slots[2]);
    const std::uint64_t m = sampler.program->measurement_count;
    ArrayResult rows(shots, frames::ShotRows::bytes_for(m, packed), packed, "the measurement rows");
    Reservation reservation(sampler, shots);
    run_shots(sampler, false, packed, reservation.first(), shots, {rows.bytes(), {}, {}}, threads);
    reservation.keep();
    return rows.release();
  });
}

constexpr Signature<6> kDetectorSample{"sample",
                                       {"shots", "separate_observables", "append_observables",
                                        "prepend_observables", "bit_packed", "num_threads"},
                                       1,
                                       1,
                                       "CompiledDetectorSampler"};

PyObject* detector_sample(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kDetectorSample, args, nargs, kwnames);
    SamplerObject& sampler = as_sampler(self, detector_sampler_class, "CompiledDetectorSampler");
    const std::uint64_t shots = to_index(slots[0], "shots");
    const bool separate = to_flag(slots[1], "separate_observables");
    const bool append = to_flag(slots[2], "append_observables");
    const bool prepend = to_flag(slots[3], "prepend_observables");
    const bool packed = to_flag(slots[4], "bit_packed");
    const unsigned threads = to_thread_count(slots[5]);
    if (int{separate} + int{append} + int{prepend} > 1) {
      raise(PyExc_ValueError,
            "separate_observables, append_observables and prepend_observables: at most one may be set");
    }
    const std::uint64_t d = sampler.program->detector_count, o = sampler.program->observable_count;
    const std::size_t d_bytes = frames::ShotRows::bytes_for(d, packed),
                      o_bytes = frames::ShotRows::bytes_for(o, packed);
    if (!append && !prepend) {
      ArrayResult detectors(shots, d_bytes, packed, "the detector rows");
      std::optional<ArrayResult> observables;
      std::vector<std::uint8_t> discarded;
      std::span<std::uint8_t> observable_rows;
      if (separate) {
        observables.emplace(shots, o_bytes, packed, "the observable rows");
        observable_rows = observables->bytes();
      } else {
        // Made and dropped: the sampler writes them beside the detectors.
        if (o_bytes != 0 && shots > PY_SSIZE_T_MAX / o_bytes) {
          throw OutOfMemory("could not allocate the observable rows of " + std::to_string(shots) +
                            " shots of " + std::to_string(o_bytes) + " bytes");
        }
        discarded = allocate_for(
            shots * o_bytes, [] { return std::string("the observable rows"); },
            [&] { return std::vector<std::uint8_t>(shots * o_bytes); });
        observable_rows = discarded;
      }
      Reservation reservation(sampler, shots);
      run_shots(sampler, true, packed, reservation.first(), shots, {{}, detectors.bytes(), observable_rows},
                threads);
      reservation.keep();
      if (!separate) return detectors.release();
      PyRef pair(check(PyTuple_New(2)));
      PyTuple_SET_ITEM(pair.get(), 0, detectors.release());
      PyTuple_SET_ITEM(pair.get(), 1, observables->release());
      return pair.release();
    }
    ArrayResult joined(shots, frames::ShotRows::bytes_for(d + o, packed), packed, "the detector rows");
    std::vector<std::uint8_t> detector_rows = allocate_for(
        shots * d_bytes, [] { return std::string("the detector rows"); },
        [&] { return std::vector<std::uint8_t>(shots * d_bytes); });
    std::vector<std::uint8_t> observable_rows = allocate_for(
        shots * o_bytes, [] { return std::string("the observable rows"); },
        [&] { return std::vector<std::uint8_t>(shots * o_bytes); });
    Reservation reservation(sampler, shots);
    run_shots(sampler, true, packed, reservation.first(), shots, {{}, detector_rows, observable_rows},
              threads);
    if (append) {
      frames::join_rows(detector_rows, d, observable_rows, o, shots, packed, joined.bytes());
    } else {
      frames::join_rows(observable_rows, o, detector_rows, d, shots, packed, joined.bytes());
    }
    reservation.keep();
    return joined.release();
  });
}

// ---- writing shot data files ---------------------------------------------------------

// A format argument: a str naming one of the formats.
shot_data::ShotFormat to_format(PyObject* value, const char* parameter) {
  if (value == nullptr) return shot_data::ShotFormat::f01;
  if (!PyUnicode_Check(value)) raise_argument_cast_error(value, "str", parameter);
  return shot_data::parse_shot_format(Utf8Text(value).view());
}

[[noreturn]] void missing_keyword(const char* owner, const char* parameter) {
  raise(PyExc_TypeError,
        std::string(owner) + ".sample_write() missing 1 required keyword-only argument: '" + parameter + "'");
}

// Runs the shots into the files with the lock released; a file whose write
// did not finish is removed, and a refused write is an OSError naming it.
void write_files(const SamplerObject& sampler, bool detectors, std::uint64_t first, std::uint64_t shots,
                 unsigned threads, ShotFile& records, ShotFile* observables,
                 const shot_data::SampledFiles& files) {
  const circuit::Program& program = *sampler.program;
  frames::ThreadedSampler threaded(program, detectors, true, sampler.reference, threads);
  try {
    InterpreterReleased released;
    SignalCheck signals(released);
    shot_data::write_sampled_shots(threaded, {sampler.key, nullptr, first, shots, &signals},
                                   program.detector_count, program.observable_count, files);
  } catch (const shot_data::IoError& error) {
    if (observables != nullptr && observables->failed()) observables->raise_write_error(error);
    records.raise_write_error(error);
  }
  records.keep();
  if (observables != nullptr) observables->keep();
}

constexpr Signature<4> kSampleWrite{
    "sample_write", {"shots", "filepath", "format", "num_threads"}, 1, 1, "CompiledMeasurementSampler"};

PyObject* measurement_sample_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kSampleWrite, args, nargs, kwnames);
    SamplerObject& sampler = as_sampler(self, measurement_sampler_class, "CompiledMeasurementSampler");
    const std::uint64_t shots = to_index(slots[0], "shots");
    if (slots[1] == nullptr) missing_keyword(kSampleWrite.owner, "filepath");
    const shot_data::ShotFormat format = to_format(slots[2], "format");
    const unsigned threads = to_thread_count(slots[3]);
    shot_data::check_shot_count(format, shots);
    const std::uint64_t m = sampler.program->measurement_count;
    ShotFile file(slots[1], "filepath");
    shot_data::ShotDataWriter writer(format, m, {{'M', m}}, file.sink());
    Reservation reservation(sampler, shots);
    write_files(sampler, false, reservation.first(), shots, threads, file, nullptr, {&writer});
    reservation.keep();
    Py_RETURN_NONE;
  });
}

constexpr Signature<8> kDetectorSampleWrite{
    "sample_write",
    {"shots", "filepath", "format", "obs_out_filepath", "obs_out_format", "prepend_observables",
     "append_observables", "num_threads"},
    1,
    1,
    "CompiledDetectorSampler"};

PyObject* detector_sample_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&]() -> PyObject* {
    const auto slots = match_arguments(kDetectorSampleWrite, args, nargs, kwnames);
    SamplerObject& sampler = as_sampler(self, detector_sampler_class, "CompiledDetectorSampler");
    const std::uint64_t shots = to_index(slots[0], "shots");
    if (slots[1] == nullptr) missing_keyword(kDetectorSampleWrite.owner, "filepath");
    const shot_data::ShotFormat format = to_format(slots[2], "format");
    const bool separate = slots[3] != nullptr && slots[3] != Py_None;
    const shot_data::ShotFormat obs_format = to_format(slots[4], "obs_out_format");
    const bool prepend = to_flag(slots[5], "prepend_observables");
    const bool append = to_flag(slots[6], "append_observables");
    const unsigned threads = to_thread_count(slots[7]);
    if (prepend && append) {
      raise(PyExc_ValueError, "append_observables and prepend_observables: at most one may be set");
    }
    shot_data::check_shot_count(format, shots);
    if (separate) shot_data::check_shot_count(obs_format, shots);
    const std::uint64_t d = sampler.program->detector_count, o = sampler.program->observable_count;
    using shot_data::PrefixRun;
    std::vector<PrefixRun> layout{{'D', d}};
    if (append) layout.push_back({'L', o});
    if (prepend) layout.insert(layout.begin(), {'L', o});
    ShotFile records(slots[1], "filepath");
    std::optional<ShotFile> observables;
    if (separate) observables.emplace(slots[3], "obs_out_filepath");
    shot_data::ShotDataWriter writer(format, d + (append || prepend ? o : 0), layout, records.sink());
    std::optional<shot_data::ShotDataWriter> obs_writer;
    if (separate) obs_writer.emplace(obs_format, o, std::vector<PrefixRun>{{'L', o}}, observables->sink());
    const auto columns = append    ? shot_data::ObservableColumns::appended
                         : prepend ? shot_data::ObservableColumns::prepended
                                   : shot_data::ObservableColumns::none;
    Reservation reservation(sampler, shots);
    write_files(sampler, true, reservation.first(), shots, threads, records,
                observables ? &*observables : nullptr,
                {&writer, obs_writer ? &*obs_writer : nullptr, columns});
    reservation.keep();
    Py_RETURN_NONE;
  });
}

PyMethodDef measurement_sampler_methods[] = {
    {"sample", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(measurement_sample)),
     METH_FASTCALL | METH_KEYWORDS, "sample($self, /, shots, *, bit_packed=False, num_threads=None)\n--\n\n"},
    {"sample_write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(measurement_sample_write)),
     METH_FASTCALL | METH_KEYWORDS,
     "sample_write($self, /, shots, *, filepath, format='01', num_threads=None)\n--\n\n"},
#ifdef PYPY_VERSION
    subclass_refusal<kMeasurementSamplerName>(),  // CPython refuses subclasses by the type's flags
#endif
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef detector_sampler_methods[] = {
    {"sample", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detector_sample)),
     METH_FASTCALL | METH_KEYWORDS,
     "sample($self, /, shots, *, separate_observables=False, append_observables=False, "
     "prepend_observables=False, bit_packed=False, num_threads=None)\n--\n\n"},
    {"sample_write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detector_sample_write)),
     METH_FASTCALL | METH_KEYWORDS,
     "sample_write($self, /, shots, *, filepath, format='01', obs_out_filepath=None, obs_out_format='01', "
     "prepend_observables=False, append_observables=False, num_threads=None)\n--\n\n"},
#ifdef PYPY_VERSION
    subclass_refusal<kDetectorSamplerName>(),
#endif
    {nullptr, nullptr, 0, nullptr},
};

template <const char* name>
PyTypeObject* make_sampler_type(const char* class_name, PyMethodDef* methods, PyTypeObject** holder) {
  std::vector<PyType_Slot> slots{
      {Py_tp_dealloc, reinterpret_cast<void*>(sampler_dealloc)},
      {Py_tp_methods, methods},
  };
  if constexpr (kDisallowInstantiation == 0) {
    slots.push_back({Py_tp_new, reinterpret_cast<void*>(refuse_instantiation<name>)});
  }
  for (const PyType_Slot& slot : attribute_rule_slots<name>()) slots.push_back(slot);
  *holder = create_type(name, class_name, sizeof(SamplerObject), kDisallowInstantiation, std::move(slots));
  return *holder;
}

}  // namespace

PyObject* compile_sampler_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_point([&] {
    const auto slots = match_arguments(kCompileSampler, args, nargs, kwnames);
    return compile(self, slots[0], false);
  });
}

PyObject* compile_detector_sampler_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  return entry_point([&] {
    const auto slots = match_arguments(kCompileDetectorSampler, args, nargs, kwnames);
    return compile(self, slots[0], true);
  });
}

PyTypeObject* measurement_sampler_type() {
  if (measurement_sampler_class != nullptr) return measurement_sampler_class;
  return make_sampler_type<kMeasurementSamplerName>("CompiledMeasurementSampler", measurement_sampler_methods,
                                                    &measurement_sampler_class);
}

PyTypeObject* detector_sampler_type() {
  if (detector_sampler_class != nullptr) return detector_sampler_class;
  return make_sampler_type<kDetectorSamplerName>("CompiledDetectorSampler", detector_sampler_methods,
                                                 &detector_sampler_class);
}

}  // namespace ordavine::binding
