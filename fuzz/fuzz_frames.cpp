// Coverage-guided fuzzing of the frame sampler on circuit text.
//
// Every text the reader accepts (and that is small enough to run quickly)
// is sampled as Pauli frames, as measurement records (with the reference
// run on a register) and as detection events, 300 shots from shot 200 on
// (across a block boundary).  The target checks that:
//   - nothing but the reader's refusals escapes (no internal failure);
//   - every unpacked byte is 0 or 1;
//   - the same shots split into calls of 7, 250 and 43 at the widest
//     vector width, with the sampler's own batches, give the bytes of one
//     call at the portable width one block at a time;
//   - packed rows hold the unpacked bits, 8 a byte, with zero padding;
//   - detection events are the same bytes after the sampler has looked
//     for gauges they depend on (and skips the gauges if it found none).
// Any disagreement aborts, which libFuzzer reports as a crash with the input.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "circuit/reader.hpp"
#include "failure/failure.hpp"
#include "frames/frame_sampler.hpp"

namespace {

using namespace ordavine;
using namespace ordavine::circuit;
using namespace ordavine::frames;

constexpr std::uint64_t kMaxRunQubits = 256;
constexpr std::uint64_t kMaxWork = 50000;
constexpr std::uint64_t kFirst = 200;
constexpr std::uint64_t kShots = 300;

[[noreturn]] void fuzz_fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

struct Rows {
  std::vector<std::uint8_t> measurements, detectors, observables;
  std::size_t widths[3] = {0, 0, 0};
};

// `look`: first prepare for a call long enough that a sampler of detection
// events looks for gauges they depend on.
Rows sample(const Program& program, bool detectors, bool packed, const std::vector<std::uint64_t>& counts,
            SamplerOptions options, bool look = false) {
  FrameSampler sampler(program, detectors, packed, options);
  if (look) sampler.prepare(kFirst, kProbeBlocks * kBlockShots);
  Rows rows;
  rows.widths[0] = sampler.measurement_row_bytes();
  rows.widths[1] = sampler.detector_row_bytes();
  rows.widths[2] = sampler.observable_row_bytes();
  std::uint64_t first = kFirst;
  for (const std::uint64_t count : counts) {
    std::vector<std::uint8_t> m(count * rows.widths[0]), d(count * rows.widths[1]), o(count * rows.widths[2]);
    sampler.run_shots(ChaChaKey{3, 1, 4}, first, count, {m, d, o});
    rows.measurements.insert(rows.measurements.end(), m.begin(), m.end());
    rows.detectors.insert(rows.detectors.end(), d.begin(), d.end());
    rows.observables.insert(rows.observables.end(), o.begin(), o.end());
    first += count;
  }
  return rows;
}

void check_packed(const std::vector<std::uint8_t>& plain, std::size_t entries,
                  const std::vector<std::uint8_t>& packed, std::size_t row_bytes) {
  if (row_bytes != (entries + 7) / 8 || packed.size() != kShots * row_bytes) fuzz_fail("packed row size");
  for (std::size_t shot = 0; shot < kShots; ++shot) {
    for (std::size_t e = 0; e < 8 * row_bytes; ++e) {
      const bool bit = ((packed[shot * row_bytes + e / 8] >> (e % 8)) & 1) != 0;
      const bool expected = e < entries && plain[shot * entries + e] != 0;
      if (bit != expected) fuzz_fail("a packed bit differs from the unpacked byte (or padding is not zero)");
    }
  }
}

void run_and_check(const Program& program) {
  for (const bool detectors : {false, true}) {
    const Rows whole = sample(program, detectors, false, {kShots}, {VectorWidth::portable, 1});
    for (const auto* bytes : {&whole.measurements, &whole.detectors, &whole.observables}) {
      if (!std::all_of(bytes->begin(), bytes->end(), [](std::uint8_t b) { return b <= 1; })) {
        fuzz_fail("an unpacked byte other than 0 or 1");
      }
    }
    const Rows split = sample(program, detectors, false, {7, 250, 43}, {widest_width(), 0});
    if (split.measurements != whole.measurements || split.detectors != whole.detectors ||
        split.observables != whole.observables) {
      fuzz_fail("split calls, batches or vector width changed the rows");
    }
    if (detectors) {
      const Rows looked = sample(program, true, false, {kShots}, {}, /*look=*/true);
      if (looked.detectors != whole.detectors || looked.observables != whole.observables) {
        fuzz_fail("skipping the gauges changed the detection events");
      }
    }
    const Rows packed = sample(program, detectors, true, {kShots}, {});
    check_packed(whole.measurements, whole.widths[0], packed.measurements, packed.widths[0]);
    check_packed(whole.detectors, whole.widths[1], packed.detectors, packed.widths[1]);
    check_packed(whole.observables, whole.widths[2], packed.observables, packed.widths[2]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Program program;
  try {
    program = read_circuit(text);
  } catch (const InvalidInput&) {
    return 0;  // the reader fuzzer checks refusals
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
