#include "frames/sample_shots.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "register/out_of_memory.hpp"

namespace ordavine::frames {
namespace {

// Whether `rows` holds `count` rows of `width` bytes (no product formed: it
// could wrap).
bool holds_rows(std::span<const std::uint8_t> rows, std::size_t width, std::uint64_t count) {
  if (width == 0) return rows.empty();
  return rows.size() % width == 0 && rows.size() / width == count;
}

// The stretch loop that both calls share.  `rows_of(offset, count)` gives
// the rows of the `count` shots `offset` shots into the call; `done` takes
// each stretch once it is written.  Nothing is drawn before preparation has
// met every refusal and allocation of the sampler.
template <class RowsOf, class Done>
void run_stretches(FrameSampler& sampler, const ShotCall& call, std::uint64_t stretch, RowsOf&& rows_of,
                   Done&& done) {
  sampler.prepare(call.first, call.count, call.cancel);
  const ChaChaKey key = call.seeded ? *call.seeded : key_from_source(*call.random);
  for (std::uint64_t offset = 0; offset < call.count;) {
    const std::uint64_t count = std::min(stretch, call.count - offset);
    const Stretch written{call.first + offset, count, rows_of(offset, count)};
    sampler.run_shots(key, written.first, written.count, written.rows, call.cancel);
    done(written);
    offset += count;
  }
}

void check_call(const ShotCall& call) {
  if (!call.seeded && call.random == nullptr) fail("an unseeded sampling call without a random source");
}

// Rows for `shots` shots of `width` bytes, for what `kind` names.
std::vector<std::uint8_t> stretch_rows(std::size_t width, std::uint64_t shots, const char* kind) {
  const auto what = [&] {
    return std::string("the ") + kind + " rows of a stretch of " + std::to_string(shots) + " shots";
  };
  if (width != 0 && shots > SIZE_MAX / width) {
    throw OutOfMemory("could not allocate " + what() + " (" + std::to_string(shots) + " rows of " +
                      std::to_string(width) + " bytes)");
  }
  const std::size_t bytes = width * static_cast<std::size_t>(shots);
  return allocate_for(bytes, what, [&] { return std::vector<std::uint8_t>(bytes); });
}

}  // namespace

ChaChaKey key_from_source(RandomSource& random) {
  ChaChaKey key{};
  for (auto& word : key) word = random.next_word();
  return key;
}

void sample_shots(FrameSampler& sampler, const ShotCall& call, SampleOutputs outputs) {
  check_call(call);
  if (!holds_rows(outputs.measurements, sampler.measurement_row_bytes(), call.count) ||
      !holds_rows(outputs.detectors, sampler.detector_row_bytes(), call.count) ||
      !holds_rows(outputs.observables, sampler.observable_row_bytes(), call.count)) {
    fail("shot rows sized differently from the program");
  }
  // One stretch of every shot, written where the caller wants them.
  const std::uint64_t stretch = std::max<std::uint64_t>(call.count, 1);
  run_stretches(
      sampler, call, stretch, [&](std::uint64_t, std::uint64_t) { return outputs; }, [](const Stretch&) {});
}

void sample_shots(FrameSampler& sampler, const ShotCall& call, std::uint64_t stretch, StretchSink& sink) {
  check_call(call);
  if (stretch == 0) fail("a stretch of no shots");
  const std::uint64_t shots = std::min(stretch, call.count);
  const std::size_t widths[] = {sampler.measurement_row_bytes(), sampler.detector_row_bytes(),
                                sampler.observable_row_bytes()};
  std::vector<std::uint8_t> measurements = stretch_rows(widths[0], shots, "measurement");
  std::vector<std::uint8_t> detectors = stretch_rows(widths[1], shots, "detector");
  std::vector<std::uint8_t> observables = stretch_rows(widths[2], shots, "observable");
  const auto rows_of = [&](std::uint64_t, std::uint64_t count) {
    const auto first = [count](std::vector<std::uint8_t>& rows, std::size_t width) {
      return std::span<std::uint8_t>(rows.data(), width * static_cast<std::size_t>(count));
    };
    return SampleOutputs{first(measurements, widths[0]), first(detectors, widths[1]),
                         first(observables, widths[2])};
  };
  run_stretches(sampler, call, stretch, rows_of, [&](const Stretch& written) { sink.take(written); });
}

}  // namespace ordavine::frames
