// One sampling call: stretches of any size give the rows of one direct run,
// and the key is drawn only once every refusal has been met.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "circuit/reader.hpp"
#include "failure/failure.hpp"
#include "frames/sample_shots.hpp"
#include "register/out_of_memory.hpp"
#include "support/word_sources.hpp"

namespace ordavine::frames {
namespace {

constexpr const char* kNoisy = R"(R 0 1 2
H 0
CX 0 1
DEPOLARIZE1(0.1) 0 1 2
M 0 1
MX 2
DETECTOR rec[-1] rec[-2]
OBSERVABLE_INCLUDE(0) rec[-3]
X_ERROR(0.2) 2
M(0.05) 2
DETECTOR rec[-1]
OBSERVABLE_INCLUDE(1) rec[-1] rec[-4]
)";

constexpr ChaChaKey kKey{3, 1, 4, 1, 5, 9, 2, 6};

struct Rows {
  std::vector<std::uint8_t> measurements, detectors, observables;
  bool operator==(const Rows&) const = default;

  Rows(const FrameSampler& sampler, std::uint64_t count)
      : measurements(count * sampler.measurement_row_bytes()),
        detectors(count * sampler.detector_row_bytes()),
        observables(count * sampler.observable_row_bytes()) {}
  SampleOutputs outputs() { return {measurements, detectors, observables}; }
};

// The words 1, 2, 3, ... counted as they are drawn.
class CountingWords final : public RandomSource {
 public:
  std::uint32_t next_word() override { return ++drawn; }
  std::uint32_t drawn = 0;
};

// Appends each stretch's rows, checking that stretches come in order and
// of the size asked for.
class Collect final : public StretchSink {
 public:
  Collect(Rows& rows, std::uint64_t first, std::uint64_t stretch)
      : rows_(rows), next_(first), stretch_(stretch) {}
  void take(const Stretch& s) override {
    EXPECT_EQ(s.first, next_);
    EXPECT_LE(s.count, stretch_);
    if (s.count < stretch_) {
      EXPECT_FALSE(short_seen_) << "only the last stretch is short";
    }
    short_seen_ = s.count < stretch_;
    next_ += s.count;
    const auto append = [](std::vector<std::uint8_t>& to, std::span<std::uint8_t> from) {
      to.insert(to.end(), from.begin(), from.end());
    };
    append(rows_.measurements, s.rows.measurements);
    append(rows_.detectors, s.rows.detectors);
    append(rows_.observables, s.rows.observables);
  }
  std::uint64_t next() const { return next_; }

 private:
  Rows& rows_;
  std::uint64_t next_, stretch_;
  bool short_seen_ = false;
};

TEST(SampleShots, StretchesOfAnySizeGiveTheRowsOfOneDirectRun) {
  const circuit::Program program = circuit::read_circuit(kNoisy);
  const std::uint64_t first = 100, count = 700;
  test_words::NoDraws no_draws;
  const ShotCall call{kKey, &no_draws, first, count};
  for (const bool detectors : {false, true}) {
    for (const bool packed : {false, true}) {
      FrameSampler direct_sampler(program, detectors, packed);
      Rows direct(direct_sampler, count);
      direct_sampler.run_shots(kKey, first, count, direct.outputs());

      FrameSampler in_memory_sampler(program, detectors, packed);
      Rows in_memory(in_memory_sampler, count);
      sample_shots(in_memory_sampler, call, in_memory.outputs());
      EXPECT_EQ(in_memory, direct) << detectors << packed;

      for (const std::uint64_t stretch : {1, 37, 256, 300, 512, 700, 5000}) {
        FrameSampler sampler(program, detectors, packed);
        Rows streamed(sampler, 0);
        Collect sink(streamed, first, stretch);
        sample_shots(sampler, call, stretch, sink);
        EXPECT_EQ(sink.next(), first + count);
        EXPECT_EQ(streamed, direct) << "stretch " << stretch << " detectors " << detectors << " packed "
                                    << packed;
      }
    }
  }
}

TEST(SampleShots, AnUnseededCallDrawsEightWordsAfterPreparationAndARefusedOneNone) {
  const circuit::Program program = circuit::read_circuit(kNoisy);
  FrameSampler sampler(program, false, false);
  CountingWords words;
  {
    Rows rows(sampler, 300);
    sample_shots(sampler, {std::nullopt, &words, 0, 300}, rows.outputs());
    EXPECT_EQ(words.drawn, 8u);
    Rows direct(sampler, 300);
    sampler.run_shots({1, 2, 3, 4, 5, 6, 7, 8}, 0, 300, direct.outputs());
    EXPECT_EQ(rows, direct);
    Rows none(sampler, 0);
    sample_shots(sampler, {std::nullopt, &words, 0, 0}, none.outputs());
    EXPECT_EQ(words.drawn, 16u) << "a call of no shots draws its key too";
  }
  words.drawn = 0;
  const std::uint64_t near_end = ~std::uint64_t{0} - 9;  // 20 shots would pass 2^64 - 1
  Rows twenty(sampler, 20);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, near_end, 20}, twenty.outputs()), Failure);
  Collect sink(twenty, near_end, 8);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, near_end, 20}, 8, sink), Failure);
  Rows wrong(sampler, 19);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, 0, 20}, wrong.outputs()), Failure);
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, 0, 20}, 0, sink), Failure);
  const std::uint64_t huge = std::uint64_t{1} << 62;  // rows of 4 bytes: past every address
  EXPECT_THROW(sample_shots(sampler, {std::nullopt, &words, 0, huge}, huge, sink), OutOfMemory);
  EXPECT_EQ(words.drawn, 0u);
  EXPECT_EQ(sink.next(), near_end) << "no stretch was handed over";
}

}  // namespace
}  // namespace ordavine::frames
