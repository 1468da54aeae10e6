// Stopping long computations: runs, reference runs, batches of shots and
// cut ranks poll their CancelCheck as work is done, however the work is
// shaped (repeat counts, heavy lines, big neighbourhoods, one batch), stop
// with Cancelled when it asks, and give the same results when it does not.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>
#include <vector>

#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "frames/frame_sampler.hpp"
#include "random/seeded_stream.hpp"
#include "register/entanglement_entropy.hpp"
#include "register/register.hpp"
#include "support/counting_check.hpp"

namespace ordavine {
namespace {

using test_checks::CountingCheck;

TEST(Cancellation, RunsStopOnEndlessRepeatsWhenAsked) {
  const circuit::Program forever = circuit::read_circuit("REPEAT 9223372036854775807 {\nH 0\nS 0\n}");
  Register reg(1);
  SeededStream words(ChaChaKey{1}, 0);
  CountingCheck check(3);
  EXPECT_THROW(circuit::run_program(forever, reg, words, {}, &check), Cancelled);
  EXPECT_EQ(check.polls, 3);  // it stopped when asked, not later

  // Repeats nested forever, noiseless: the reference run stops the same way.
  const circuit::Program nested =
      circuit::read_circuit("REPEAT 9223372036854775807 {\nREPEAT 9223372036854775807 {\nCX 0 1\n}\n}");
  Register two(2);
  CountingCheck reference_check(2);
  EXPECT_THROW(circuit::run_reference(nested, two, {}, &reference_check), Cancelled);
  EXPECT_EQ(reference_check.polls, 2);
}

// Two lines of many targets, and two gates on a qubit of a huge
// neighbourhood, are polled: the count is by work, not by line.
TEST(Cancellation, RunsCountTargetsAndNeighbourhoodsNotLines) {
  std::string wide = "X_ERROR(0.5)";
  for (int k = 0; k < (1 << 20); ++k) wide += " 0";
  const circuit::Program heavy = circuit::read_circuit(wide + "\n" + wide);
  Register one(1);
  SeededStream words(ChaChaKey{2}, 0);
  CountingCheck counting;
  circuit::run_program(heavy, one, words, {}, &counting);
  EXPECT_GE(counting.polls, 2);

  const Qubit leaves = 1500;  // a star: CZ on the centre toggles ~leaves^2 / 2 pairs
  Register star(leaves + 2);
  for (Qubit q = 1; q <= leaves; ++q) add_edge(star, 0, q);
  const circuit::Program few = circuit::read_circuit("H 0\nCZ 0 1501\nH 0\nCZ 0 1501");
  CountingCheck per_gate;
  circuit::run_program(few, star, words, {}, &per_gate);
  EXPECT_GE(per_gate.polls, 2);
}

TEST(Cancellation, PollingNeverChangesARunsRecordOrGraph) {
  std::string text =
      "H 0 1 2 3\nREPEAT 3000 {\nCX 0 1 1 2 2 3\nDEPOLARIZE1(0.3) 0 1 2 3\nMX 1\nMR 2\nMPP X0*Z3\nH 3\n}";
  const circuit::Program program = circuit::read_circuit(text);
  std::vector<std::uint8_t> plain(program.measurement_count), polled(program.measurement_count);
  Register a(4), b(4);
  SeededStream words_a(ChaChaKey{3}, 0), words_b(ChaChaKey{3}, 0);
  circuit::run_program(program, a, words_a, {plain});
  CountingCheck never;
  circuit::run_program(program, b, words_b, {polled}, &never);
  EXPECT_EQ(plain, polled);
  for (Qubit q = 0; q < 4; ++q) {
    EXPECT_EQ(a[q].vop, b[q].vop);
    EXPECT_EQ(a[q].neighbors, b[q].neighbors);
  }
}

struct Rows {
  std::vector<std::uint8_t> m, d, o;
};

Rows sampled(frames::FrameSampler& sampler, std::uint64_t shots, CancelCheck* check) {
  Rows rows{std::vector<std::uint8_t>(shots * sampler.measurement_row_bytes()),
            std::vector<std::uint8_t>(shots * sampler.detector_row_bytes()),
            std::vector<std::uint8_t>(shots * sampler.observable_row_bytes())};
  sampler.run_shots(ChaChaKey{4}, 0, shots, {rows.m, rows.d, rows.o}, check);
  return rows;
}

// One shot is one batch; it is polled inside, in its noise, its gates and
// its reference run alike.
TEST(Cancellation, SamplersPollInsideABatchAndInTheReferenceRun) {
  const circuit::Program noisy = circuit::read_circuit("REPEAT 3000000 {\nX_ERROR(0.01) 0\n}\nM 0");
  frames::FrameSampler detecting(noisy, true, false);
  CountingCheck stop(2);
  EXPECT_THROW(sampled(detecting, 1, &stop), Cancelled);
  EXPECT_EQ(stop.polls, 2);

  const circuit::Program long_reference = circuit::read_circuit("REPEAT 3000000 {\nH 0\n}\nM 0");
  frames::FrameSampler recording(long_reference, false, false);
  CountingCheck in_reference(1);
  EXPECT_THROW(recording.prepare(0, 1, &in_reference), Cancelled);
  CountingCheck counting;
  recording.prepare(0, 1, &counting);  // the reference is made again: none was kept
  EXPECT_GE(counting.polls, 2);
}

// A sampler of events looks once for gauges its detectors depend on; a
// look that is cancelled leaves no finding behind (and the output not in
// its looking state), so the next call looks again and samples as a
// sampler that never stopped.  The detector is a fair coin (the random Z
// bit of qubit 0 turned by H, read by M): a finding of "no gauges" left
// by the cancelled look would make every event 0.
TEST(Cancellation, ACancelledLookForGaugesIsMadeAgain) {
  const circuit::Program program =
      circuit::read_circuit("H 0\nREPEAT 600000 {\nCX 0 1\n}\nM 0\nDETECTOR rec[-1]");
  constexpr std::uint64_t kShots = 4096;  // enough blocks for the look
  frames::FrameSampler counted(program, true, true);
  CountingCheck in_look;
  EXPECT_TRUE(counted.events_need_gauges(&in_look));
  ASSERT_GE(in_look.polls, 1);  // the look is long enough to be polled

  frames::FrameSampler plain(program, true, true), stopped(program, true, true);
  CountingCheck stop(1);
  EXPECT_THROW(sampled(stopped, kShots, &stop), Cancelled);
  EXPECT_EQ(stop.polls, 1);
  const Rows a = sampled(plain, kShots, nullptr), b = sampled(stopped, kShots, nullptr);
  EXPECT_EQ(a.d, b.d);
  std::size_t ones = 0;
  for (const std::uint8_t byte : b.d) ones += std::popcount(byte);
  EXPECT_GT(ones, kShots / 4);
  EXPECT_LT(ones, 3 * kShots / 4);
}

TEST(Cancellation, PollingNeverChangesSampledRows) {
  const circuit::Program program = circuit::read_circuit(
      "H 0 1\nREPEAT 60000 {\nCX 0 1\nDEPOLARIZE2(0.05) 0 1\nM 1\nDETECTOR rec[-1]\n}\nOBSERVABLE_INCLUDE(0) "
      "rec[-1]");
  for (const bool detectors : {false, true}) {
    frames::FrameSampler plain(program, detectors, true), polled(program, detectors, true);
    CountingCheck never;
    const Rows a = sampled(plain, 1000, nullptr), b = sampled(polled, 1000, &never);
    EXPECT_GE(never.polls, 2);
    EXPECT_EQ(a.m, b.m);
    EXPECT_EQ(a.d, b.d);
    EXPECT_EQ(a.o, b.o);
  }
}

// A random graph of mean degree 24: most of its cut survives the leaf
// removal, and the elimination is polled (and the result the same).
TEST(Cancellation, CutRanksArePolledInTheElimination) {
  const Qubit n = 6000;
  Register reg(n);
  std::mt19937_64 rng(9);
  for (int e = 0; e < 72000; ++e) {
    const Qubit a = rng() % n, b = rng() % n;
    if (a != b) add_edge(reg, a, b);
  }
  std::vector<Qubit> half;
  for (Qubit q = 0; q < n / 2; ++q) half.push_back(q);
  CountingCheck never;
  EXPECT_EQ(entanglement_entropy(reg, half, &never), entanglement_entropy(reg, half));
  EXPECT_GE(never.polls, 2);
  CountingCheck stop(1);
  EXPECT_THROW(entanglement_entropy(reg, half, &stop), Cancelled);
}

}  // namespace
}  // namespace ordavine
