// The peek: outcomes for a set of qubits measured one after another on a
// copy, checked against a dense state-vector oracle that replays them in the
// reported order; the register itself must come out untouched.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "failure/failure.hpp"
#include "measure/peek.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"
#include "support/random_gates.hpp"

namespace ordavine {
namespace {

using oracle::DenseState;
using oracle::measure_pauli;
using oracle::state_of;
using test_gates::random_gate;

class Mt19937Words final : public RandomSource {
 public:
  explicit Mt19937Words(std::uint32_t seed) : gen_(seed) {}
  std::uint32_t next_word() override {
    ++drawn;
    return static_cast<std::uint32_t>(gen_());
  }
  int drawn = 0;

 private:
  std::mt19937 gen_;
};

class NoDraws final : public RandomSource {
 public:
  std::uint32_t next_word() override { throw std::logic_error("a word was drawn"); }
};

bool same_register(const Register& a, const Register& b) {
  if (a.size() != b.size()) return false;
  for (Qubit q = 0; q < a.size(); ++q) {
    if (a[q].vop != b[q].vop || a[q].neighbors != b[q].neighbors) return false;
  }
  return true;
}

Axis axis_of(const PeekOutcome& outcome) { return static_cast<Axis>(outcome.info & PeekOutcome::kAxisMask); }

bool determined(const PeekOutcome& outcome) { return (outcome.info & PeekOutcome::kDeterminedFlag) != 0; }

// Replays the outcomes on the oracle in order: each reported axis and
// result must be possible, with probability 1 exactly when the outcome is
// flagged determined and 1/2 otherwise, and a qubit that was isolated (the
// only kind with a certain outcome) must have been measured on its certain
// axis.  Returns the number of random outcomes.
int expect_consistent_with_oracle(const Register& reg, const std::vector<PeekOutcome>& outcomes) {
  DenseState state = state_of(reg);
  int random_outcomes = 0;
  for (const PeekOutcome& outcome : outcomes) {
    EXPECT_LE(outcome.info, 6);
    EXPECT_NE(axis_of(outcome), Axis::none);
    EXPECT_LE(outcome.result, 1);
    bool some_axis_certain = false;
    for (Axis axis : {Axis::x, Axis::y, Axis::z}) {
      const double p = measure_pauli(state, outcome.qubit, axis, 0).probability;
      some_axis_certain |= p < 1e-9 || p > 1 - 1e-9;
    }
    EXPECT_EQ(determined(outcome), some_axis_certain) << "qubit " << outcome.qubit;
    auto projected = measure_pauli(state, outcome.qubit, axis_of(outcome), outcome.result);
    EXPECT_NEAR(projected.probability, determined(outcome) ? 1.0 : 0.5, 1e-9) << "qubit " << outcome.qubit;
    random_outcomes += !determined(outcome);
    state = std::move(projected.after);
  }
  return random_outcomes;
}

TEST(Peek, EmptySetCopiesAndDrawsNothing) {
  Register reg(3);
  NoDraws no_draws;
  EXPECT_TRUE(peek_measure_set(reg, {}, no_draws).empty());
}

TEST(Peek, NewRegisterIsDeterminedPlusOneOnZEverywhere) {
  Register reg(4);
  NoDraws no_draws;
  const auto outcomes = peek_measure_set(reg, {3, 0, 2}, no_draws);
  ASSERT_EQ(outcomes.size(), 3u);
  const Qubit expected_order[] = {0, 2, 3};
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_EQ(outcomes[i].qubit, expected_order[i]);
    EXPECT_EQ(outcomes[i].result, 0);
    EXPECT_EQ(axis_of(outcomes[i]), Axis::z);
    EXPECT_TRUE(determined(outcomes[i]));
  }
}

// In a Bell pair the lower qubit is measured first, at random; that fixes
// its partner, which the peek then reports as determined on a matching axis.
TEST(Peek, BellPairPartnerIsDeterminedByTheFirstOutcome) {
  for (std::uint32_t seed = 0; seed < 20; ++seed) {
    Register reg(2);
    h(reg, 0);
    cx(reg, 0, 1);
    const Register before = reg;
    Mt19937Words words(seed);
    const auto outcomes = peek_measure_set(reg, {1, 0}, words);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].qubit, 0u);
    EXPECT_EQ(outcomes[1].qubit, 1u);
    EXPECT_FALSE(determined(outcomes[0]));
    EXPECT_TRUE(determined(outcomes[1]));
    EXPECT_EQ(expect_consistent_with_oracle(reg, outcomes), 1);
    EXPECT_TRUE(same_register(reg, before));
  }
}

TEST(Peek, DuplicateIndicesYieldOneOutcome) {
  Register reg(3);
  NoDraws no_draws;
  const auto outcomes = peek_measure_set(reg, {1, 1, 1}, no_draws);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].qubit, 1u);
}

TEST(Peek, IndexFailureDrawsNothingAndReportsTheSmallestBadIndex) {
  Register reg(3);
  h(reg, 0);
  cz(reg, 0, 1);
  const Register before = reg;
  NoDraws no_draws;
  try {
    peek_measure_set(reg, {7, 0, 3, 1}, no_draws);
    FAIL() << "expected a failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 3 but the index is 3");
  }
  EXPECT_TRUE(same_register(reg, before));
}

TEST(Peek, RandomStatesGiveJointlyConsistentOutcomesAndStayUnchanged) {
  std::mt19937 gen(99);
  int random_outcomes = 0;
  for (int trial = 0; trial < 150; ++trial) {
    const std::size_t n = 1 + trial % 7;
    Register reg(n);
    for (int step = 0; step < 25; ++step) random_gate(reg, gen);
    std::vector<Qubit> qubits;
    for (Qubit q = 0; q < n; ++q) {
      if (gen() % 3 != 0) qubits.push_back(q);
    }
    std::shuffle(qubits.begin(), qubits.end(), gen);
    const Register before = reg;
    Mt19937Words words(static_cast<std::uint32_t>(trial));
    const auto outcomes = peek_measure_set(reg, qubits, words);
    ASSERT_TRUE(same_register(reg, before)) << "trial " << trial;
    ASSERT_EQ(outcomes.size(), qubits.size());
    for (std::size_t i = 1; i < outcomes.size(); ++i) {
      ASSERT_LT(outcomes[i - 1].qubit, outcomes[i].qubit);
    }
    const int drawn_outcomes = expect_consistent_with_oracle(reg, outcomes);
    random_outcomes += drawn_outcomes;
    // One word per random axis (rarely two) plus one per random outcome;
    // determined outcomes draw nothing.
    EXPECT_GE(words.drawn, 2 * drawn_outcomes);
    EXPECT_LE(words.drawn, 3 * drawn_outcomes);
  }
  EXPECT_GT(random_outcomes, 100);
}

}  // namespace
}  // namespace ordavine
