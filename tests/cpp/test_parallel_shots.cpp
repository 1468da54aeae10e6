// Shots on several threads: the same bytes as one thread for every thread
// count and shot range, and a stop asked on the calling thread (or a
// failure on another) ends every thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "circuit/reader.hpp"
#include "frames/parallel_shots.hpp"
#include "random/seeded_stream.hpp"

namespace ordavine::frames {
namespace {

// A noisy repetition-code memory with feed-forward, products and heralds:
// every kind of record a share writes.
const std::string kCircuit = R"(
R 0 1 2 3 4
REPEAT 6 {
  CX 0 1 2 3
  DEPOLARIZE2(0.05) 0 1 2 3
  CX 2 1 4 3
  HERALDED_ERASE(0.02) 0
  MR(0.01) 1 3
  CZ rec[-1] 4
  MPP(0.02) X0*X2 Z2*Z4
  DETECTOR rec[-1] rec[-3]
  DETECTOR rec[-2] rec[-4]
}
M 0 2 4
OBSERVABLE_INCLUDE(0) rec[-1]
OBSERVABLE_INCLUDE(2) rec[-3]
)";

const std::uint8_t kSeed[] = {7};

struct Rows {
  std::vector<std::uint8_t> measurements, detectors, observables;
  bool operator==(const Rows&) const = default;
};

Rows sample(const circuit::Program& program, bool detectors, bool packed, std::uint64_t first,
            std::uint64_t count, unsigned threads, CancelCheck* cancel = nullptr) {
  FrameSampler sizes(program, detectors, packed);
  Rows rows{std::vector<std::uint8_t>(count * sizes.measurement_row_bytes()),
            std::vector<std::uint8_t>(count * sizes.detector_row_bytes()),
            std::vector<std::uint8_t>(count * sizes.observable_row_bytes())};
  ThreadedSampler sampler(program, detectors, packed, nullptr, threads);
  sampler.run_shots(key_from_seed(kSeed), first, count, {rows.measurements, rows.detectors, rows.observables},
                    cancel);
  return rows;
}

TEST(ParallelShots, EveryThreadCountGivesTheBytesOfOne) {
  const circuit::Program program = circuit::read_circuit(kCircuit);
  for (const bool detectors : {false, true}) {
    for (const bool packed : {false, true}) {
      for (const auto& [first, count] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
               {0, 3000}, {300, 700}, {255, 2}, {1000, 1}, {100, kProbeBlocks * kBlockShots + 900}}) {
        const Rows one = sample(program, detectors, packed, first, count, 1);
        for (const unsigned threads : {2u, 3u, 8u}) {
          EXPECT_EQ(sample(program, detectors, packed, first, count, threads), one)
              << "detectors " << detectors << " packed " << packed << " first " << first << " count " << count
              << " threads " << threads;
        }
      }
    }
  }
}

// Threads whose shares are too short to look for gauges take the finding
// of the call's look: a detector that depends on a gauge stays random on
// every thread.
TEST(ParallelShots, ThreadsShareTheLookForGauges) {
  const circuit::Program program = circuit::read_circuit("RX 0\nM 0\nDETECTOR rec[-1]");
  const std::uint64_t count = kProbeBlocks * kBlockShots + 900;
  const Rows one = sample(program, true, false, 0, count, 1);
  EXPECT_EQ(sample(program, true, false, 0, count, 3), one);
  const auto ones = std::count(one.detectors.begin(), one.detectors.end(), 1);
  EXPECT_GT(ones, static_cast<std::ptrdiff_t>(count * 45 / 100));
  EXPECT_LT(ones, static_cast<std::ptrdiff_t>(count * 55 / 100));
}

// Says stop at its n-th poll.
class StopAt final : public CancelCheck {
 public:
  explicit StopAt(int n) : left_(n) {}
  bool cancelled() override { return --left_ <= 0; }

 private:
  int left_;
};

TEST(ParallelShots, AStopOnTheCallingThreadEndsEveryThread) {
  const circuit::Program program = circuit::read_circuit(kCircuit);
  StopAt stop(1);
  EXPECT_THROW(sample(program, true, true, 0, 4'000'000, 4, &stop), Cancelled);
}

TEST(ParallelShots, AvailableCoresIsAtLeastOne) { EXPECT_GE(available_cores(), 1u); }

}  // namespace
}  // namespace ordavine::frames
