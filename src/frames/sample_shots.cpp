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

struct RowWidths {
  std::size_t measurements, detectors, observables;
};

RowWidths widths_of(const FrameSampler& sampler) {
  return {sampler.measurement_row_bytes(), sampler.detector_row_bytes(), sampler.observable_row_bytes()};
}

// The rows of the first `count` shots of `rows`.
SampleOutputs first_rows(const SampleOutputs& rows, const RowWidths& widths, std::uint64_t count) {
  const auto n = static_cast<std::size_t>(count);
  return {rows.measurements.first(widths.measurements * n), rows.detectors.first(widths.detectors * n),
          rows.observables.first(widths.observables * n)};
}

// The stretch loop that both calls share: each stretch is written into the
// first rows of `rows` (which hold a stretch) and handed to `sink`, if any.
// Nothing is drawn before preparation has met every refusal and allocation
// of the sampler.
void run_stretches(FrameSampler& sampler, const ShotCall& call, std::uint64_t stretch,
                   const SampleOutputs& rows, StretchSink* sink) {
  sampler.prepare(call.first, call.count, call.cancel);
  const ChaChaKey key = call.seeded ? *call.seeded : key_from_source(*call.random);
  const RowWidths widths = widths_of(sampler);
  for (std::uint64_t offset = 0; offset < call.count;) {
    const std::uint64_t count = std::min(stretch, call.count - offset);
    const Stretch written{call.first + offset, count, first_rows(rows, widths, count)};
    sampler.run_shots(key, written.first, written.count, written.rows, call.cancel);
    if (sink != nullptr) sink->take(written);
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
  const RowWidths widths = widths_of(sampler);
  if (!holds_rows(outputs.measurements, widths.measurements, call.count) ||
      !holds_rows(outputs.detectors, widths.detectors, call.count) ||
      !holds_rows(outputs.observables, widths.observables, call.count)) {
    fail("shot rows sized differently from the program");
  }
  // One stretch of every shot, written where the caller wants them.
  run_stretches(sampler, call, std::max<std::uint64_t>(call.count, 1), outputs, nullptr);
}

void sample_shots(FrameSampler& sampler, const ShotCall& call, std::uint64_t stretch, StretchSink& sink) {
  check_call(call);
  if (stretch == 0) fail("a stretch of no shots");
  const std::uint64_t shots = std::min(stretch, call.count);
  const RowWidths widths = widths_of(sampler);
  std::vector<std::uint8_t> measurements = stretch_rows(widths.measurements, shots, "measurement");
  std::vector<std::uint8_t> detectors = stretch_rows(widths.detectors, shots, "detector");
  std::vector<std::uint8_t> observables = stretch_rows(widths.observables, shots, "observable");
  run_stretches(sampler, call, stretch, {measurements, detectors, observables}, &sink);
}

}  // namespace ordavine::frames
