// Coverage-guided fuzzing of the circuit reader and runner.
//
// The input bytes are circuit text.  The reader must either refuse them
// with InvalidInput whose message starts "line L, column C: ", or with
// RecordTooLarge, or return a program; nothing else may escape.  A program
// small enough to run (at most kMaxRunQubits qubits and kMaxWork targets
// visited) is run twice on fresh registers with the same seeded stream,
// and as two detector shots; the target checks that:
//   - no internal failure is raised (the runner's record lengths agree
//     with the counts the reader made);
//   - every record, detector and observable byte is 0 or 1, and the two
//     runs agree bit for bit and leave identical registers;
//   - the graph keeps its invariants: symmetric adjacency, no self-loops,
//     no duplicates, every VOP below 24;
//   - the noiseless reference run draws nothing and writes bits only;
//   - detector shots either run or refuse an observable whose Pauli
//     product has no fixed value, with a message that names its line.
// Any disagreement aborts, which libFuzzer reports as a crash with the input.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "failure/failure.hpp"
#include "random/seeded_stream.hpp"
#include "support/shot_sampler.hpp"

namespace {

using namespace ordavine;
using namespace ordavine::circuit;

constexpr std::uint64_t kMaxRunQubits = 256;
constexpr std::uint64_t kMaxWork = 200000;

[[noreturn]] void fuzz_fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

bool all_bits(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b <= 1; });
}

void check_graph(const Register& reg) {
  for (Qubit q = 0; q < reg.size(); ++q) {
    if (reg[q].vop >= 24) fuzz_fail("VOP out of range");
    const auto& list = reg[q].neighbors;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Qubit n = list[i];
      if (n >= reg.size() || n == q) fuzz_fail("neighbour out of range or self-loop");
      if (std::find(list.begin() + static_cast<std::ptrdiff_t>(i) + 1, list.end(), n) != list.end()) {
        fuzz_fail("duplicate neighbour");
      }
      const auto& back = reg[n].neighbors;
      if (std::find(back.begin(), back.end(), q) == back.end()) fuzz_fail("asymmetric edge");
    }
  }
}

void check_refusal(const char* message) {
  unsigned long long line = 0, column = 0;
  int consumed = 0;
  if (std::sscanf(message, "line %llu, column %llu: %n", &line, &column, &consumed) != 2 || consumed == 0 ||
      line == 0 || column == 0 || message[consumed] == '\0') {
    std::fprintf(stderr, "message: %s\n", message);
    fuzz_fail("a refusal without line, column and problem");
  }
}

void run_and_check(const Program& program) {
  const ChaChaKey key = key_from_seed(std::vector<std::uint8_t>{7});
  Register first(program.qubit_count), second(program.qubit_count);
  std::vector<std::uint8_t> a(program.measurement_count), b(program.measurement_count);
  SeededStream stream_a(key, 1), stream_b(key, 1);
  run_program(program, first, stream_a, {a});
  run_program(program, second, stream_b, {b});
  if (a != b) fuzz_fail("two runs on the same stream disagree");
  if (!all_bits(a)) fuzz_fail("a record byte other than 0 or 1");
  for (Qubit q = 0; q < first.size(); ++q) {
    if (first[q].vop != second[q].vop || first[q].neighbors != second[q].neighbors) {
      fuzz_fail("two runs on the same stream leave different registers");
    }
  }
  check_graph(first);

  Register reference(program.qubit_count);
  std::vector<std::uint8_t> r(program.measurement_count);
  run_reference(program, reference, {r});
  if (!all_bits(r)) fuzz_fail("a reference record byte other than 0 or 1");
  check_graph(reference);

  ShotSampler sampler(program, key, true);
  std::vector<std::uint8_t> detectors(2 * sampler.detector_width()),
      observables(2 * sampler.observable_width());
  try {
    sampler.run_shots(0, 2, {}, detectors, observables);
  } catch (const InvalidInput& refused) {
    unsigned long long line = 0;
    if (std::sscanf(refused.what(), "line %llu: OBSERVABLE_INCLUDE(", &line) != 1 || line == 0) {
      std::fprintf(stderr, "message: %s\n", refused.what());
      fuzz_fail("a refused run without the observable's line");
    }
    return;
  }
  if (!all_bits(detectors) || !all_bits(observables)) fuzz_fail("a detector byte other than 0 or 1");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Program program;
  try {
    program = read_circuit(text);
  } catch (const InvalidInput& refused) {
    check_refusal(refused.what());
    return 0;
  } catch (const RecordTooLarge&) {
    return 0;
  }
  if (program.qubit_count > kMaxRunQubits || program.work > kMaxWork ||
      program.measurement_count > kMaxWork || program.detector_count + program.observable_count > kMaxWork) {
    return 0;
  }
  run_and_check(program);
  return 0;
}
