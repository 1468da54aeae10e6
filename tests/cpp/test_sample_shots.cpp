// One sampling call: stretches of any size give the rows of one direct run,
// and the key is drawn only once every refusal has been met.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "circuit/reader.hpp"
#include "failure/failure.hpp"
#include "frames/sample_shots.hpp"
#include "register/out_of_memory.hpp"
#include "support/word_sources.hpp"

namespace ordavine::frames {
namespace {

constexpr const char* kNoisy =
    "H 0\nCX 0 1\nDEPOLARIZE1(0.1) 0 1 2\nM 0 1\nMX 2\nDETECTOR rec[-1] rec[-2]\nX_ERROR(0.2) 2\n"
    "M(0.05) 2\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(1) rec[-1] rec[-4]\n";

struct Rows {
  Rows(const FrameSampler& sampler, std::uint64_t count)
      : measurements(count * sampler.measurement_row_bytes()),
        detectors(count * sampler.detector_row_bytes()),
        observables(count * sampler.observable_row_bytes()) {}
  SampleOutputs outputs() { return {measurements, detectors, observables}; }
  bool operator==(const Rows&) const = default;
  std::vector<std::uint8_t> measurements, detectors, observables;
};

// Appends each stretch's rows, checking that they come in shot order.
struct Collect final : StretchSink {
  Collect(Rows& rows, std::uint64_t first) : rows(rows), next(first) {}
  void take(const Stretch& s) override {
    EXPECT_EQ(s.first, next);
    next += s.count;
    const auto append = [](auto& to, auto from) { to.insert(to.end(), from.begin(), from.end()); };
    append(rows.measurements, s.rows.measurements);
    append(rows.detectors, s.rows.detectors);
    append(rows.observables, s.rows.observables);
  }
  Rows& rows;
  std::uint64_t next;
};

// The words 1, 2, 3, ... counted as they are drawn.
struct CountingWords final : RandomSource {
  std::uint32_t next_word() override { return ++drawn; }
  std::uint32_t drawn = 0;
};

TEST(SampleShots, StretchesOfAnySizeGiveTheRowsOfOneDirectRun) {
  const circuit::Program program = circuit::read_circuit(kNoisy);
  const ChaChaKey key{3, 1, 4, 1, 5, 9, 2, 6};
  test_words::NoDraws no_draws;
  const ShotCall call{key, &no_draws, 100, 700};
  for (const bool detectors : {false, true}) {
    for (const bool packed : {false, true}) {
      FrameSampler direct_sampler(program, detectors, packed);
      Rows direct(direct_sampler, 700);
      direct_sampler.run_shots(key, 100, 700, direct.outputs());
      FrameSampler in_memory_sampler(program, detectors, packed);
      Rows in_memory(in_memory_sampler, 700);
      sample_shots(in_memory_sampler, call, in_memory.outputs());
      EXPECT_EQ(in_memory, direct);
      for (const std::uint64_t stretch : {1, 37, 256, 300, 512, 700, 5000}) {
        FrameSampler sampler(program, detectors, packed);
        Rows streamed(sampler, 0);
        Collect sink(streamed, 100);
        sample_shots(sampler, call, stretch, sink);
        EXPECT_EQ(sink.next, 800u);
        EXPECT_EQ(streamed, direct) << "stretch " << stretch << " detectors " << detectors << packed;
      }
    }
  }
}

TEST(SampleShots, AnUnseededCallDrawsEightWordsAfterPreparationAndARefusedOneNone) {
  const circuit::Program program = circuit::read_circuit(kNoisy);  // the sampler keeps a reference
  FrameSampler sampler(program, false, false);
  CountingWords words;
  Rows rows(sampler, 300), direct(sampler, 300), none(sampler, 0);
  sample_shots(sampler, {std::nullopt, &words, 0, 300}, rows.outputs());
  sampler.run_shots({1, 2, 3, 4, 5, 6, 7, 8}, 0, 300, direct.outputs());
  EXPECT_EQ(rows, direct);
  sample_shots(sampler, {std::nullopt, &words, 0, 0}, none.outputs());
  EXPECT_EQ(words.drawn, 16u) << "a call of no shots draws its key too";

  words.drawn = 0;
  const std::uint64_t near_end = ~std::uint64_t{0} - 9;  // 20 shots would pass 2^64 - 1
  Rows twenty(sampler, 20), nineteen(sampler, 19);
  Collect sink(twenty, near_end);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, near_end, 20}, twenty.outputs()), Failure);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, near_end, 20}, 8, sink), Failure);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, 0, 20}, nineteen.outputs()), Failure);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, 0, 20}, 0, sink), Failure);
  const std::uint64_t huge = std::uint64_t{1} << 62;  // rows of 4 bytes: past every address
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, 0, huge}, huge, sink), OutOfMemory);
  EXPECT_EQ(words.drawn, 0u);
  EXPECT_EQ(sink.next, near_end) << "no stretch was handed over";
}

}  // namespace
}  // namespace ordavine::frames
