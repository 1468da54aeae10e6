// Single-qubit measurement: worked examples with the outcome bit forced both
// ways (exact lists, VOPs and results), the deterministic axis of every VOP,
// what is drawn when, the outcome chosen instead of drawn, and a dense state-vector oracle on random
// circuits.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "failure/failure.hpp"
#include "measure/measure.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"
#include "support/random_gates.hpp"
#include "support/word_sources.hpp"

namespace ordavine {
namespace {

using List = std::vector<Qubit>;
using oracle::DenseState;
using oracle::measure_pauli;
using oracle::same_up_to_phase;
using oracle::state_of;
using test_gates::random_gate;
using test_words::FixedWord;
using test_words::forced;
using test_words::NoDraws;

std::vector<Vop> vops_of(const Register& reg) {
  std::vector<Vop> vops;
  for (const Node& node : reg.nodes()) vops.push_back(node.vop);
  return vops;
}

std::vector<List> lists_of(const Register& reg) {
  std::vector<List> lists;
  for (const Node& node : reg.nodes()) lists.push_back(node.neighbors);
  return lists;
}

// `count` qubits with VOP 0 (every qubit in |+>) and the listed edges added
// in order: the register that h on every qubit and cz on each pair gives.
Register graph_state(std::size_t count, std::vector<std::pair<Qubit, Qubit>> edges) {
  Register reg(count);
  for (Qubit q = 0; q < count; ++q) h(reg, q);
  for (const auto& [a, b] : edges) add_edge(reg, a, b);
  return reg;
}

struct Expected {
  std::uint8_t result;
  std::vector<Vop> vops;
  std::vector<List> lists;
};

void expect_measurement(Register reg, Qubit q, Axis axis, const Expected& r0, const Expected& r1) {
  for (int r : {0, 1}) {
    SCOPED_TRACE("r = " + std::to_string(r));
    const Expected& expected = r == 0 ? r0 : r1;
    Register copy = reg;
    FixedWord word = forced(r);
    const Measurement m = measure(copy, q, axis, word);
    EXPECT_EQ(m.result, expected.result);
    EXPECT_FALSE(m.determined);
    EXPECT_EQ(word.drawn, 1);
    EXPECT_EQ(vops_of(copy), expected.vops);
    EXPECT_EQ(lists_of(copy), expected.lists);
  }
}

TEST(Measure, NewQubitZIsDeterminedPlusOneAndDrawsNothing) {
  Register reg(2);
  NoDraws no_draws;
  const Measurement m = measure(reg, 1, Axis::z, no_draws);
  EXPECT_EQ(m.result, 0);
  EXPECT_TRUE(m.determined);
  EXPECT_EQ(vops_of(reg), (std::vector<Vop>{10, 10}));
}

TEST(Measure, NewQubitXIsRandomAndThenRepeatsDetermined) {
  for (int r : {0, 1}) {
    Register reg(1);
    FixedWord word = forced(r);
    const Measurement first = measure(reg, 0, Axis::x, word);
    EXPECT_EQ(first.result, r);
    EXPECT_FALSE(first.determined);
    EXPECT_EQ(reg[0].vop, r == 0 ? 0 : 3);
    NoDraws no_draws;
    const Measurement again = measure(reg, 0, Axis::x, no_draws);
    EXPECT_EQ(again.result, r);
    EXPECT_TRUE(again.determined);
  }
}

TEST(Measure, NewQubitYCarriesTheSignOfTheVop) {
  expect_measurement(Register(1), 0, Axis::y, {1, {19}, {{}}}, {0, {16}, {{}}});
}

TEST(Measure, XOnAnEdgeWorksAboutTheNeighbour) {
  expect_measurement(graph_state(2, {{0, 1}}), 0, Axis::x, {0, {0, 11}, {{}, {}}}, {1, {3, 9}, {{}, {}}});
}

TEST(Measure, ZOnTheMiddleOfAPathCutsItOut) {
  expect_measurement(graph_state(3, {{0, 1}, {0, 2}}), 0, Axis::z, {0, {10, 0, 0}, {{}, {}, {}}},
                     {1, {9, 3, 3}, {{}, {}, {}}});
}

TEST(Measure, YOnTheMiddleOfAPathJoinsItsEnds) {
  expect_measurement(graph_state(3, {{0, 1}, {0, 2}}), 0, Axis::y, {0, {6, 6, 6}, {{}, {2}, {1}}},
                     {1, {5, 5, 5}, {{}, {2}, {1}}});
}

TEST(Measure, XOnATriangleRestoresTheOppositeEdge) {
  expect_measurement(graph_state(3, {{0, 1}, {0, 2}, {1, 2}}), 0, Axis::x, {0, {0, 11, 0}, {{}, {2}, {1}}},
                     {1, {3, 9, 0}, {{}, {2}, {1}}});
}

// q = 0 with neighbours 1, 2, 3, where 2 and 3 are also neighbours of b = 1.
// The cross pairs toggle 0-1, 1-2, 1-3, 0-2, 2-3 and 0-3 once each (2-3 is
// met twice, as (2,3) and (3,2)); the common pair 2-3 is toggled again;
// finally 1-2 and 1-3 are added.
TEST(Measure, XWithTwoCommonNeighboursTogglesEachPairOnce) {
  expect_measurement(graph_state(4, {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}}), 0, Axis::x,
                     {0, {0, 11, 0, 0}, {{}, {2, 3}, {1}, {1}}}, {1, {3, 9, 0, 0}, {{}, {2, 3}, {1}, {1}}});
}

TEST(Measure, IndexFailureDrawsAndChangesNothing) {
  Register reg = graph_state(3, {{0, 1}});
  const auto before = lists_of(reg);
  for (Axis axis : {Axis::x, Axis::y, Axis::z}) {
    FixedWord word = forced(0);
    try {
      measure(reg, 3, axis, word);
      FAIL() << "expected a failure";
    } catch (const Failure& f) {
      EXPECT_EQ(f.message(), "index out of bounds: the len is 3 but the index is 3");
    }
    EXPECT_EQ(word.drawn, 0);
  }
  EXPECT_EQ(lists_of(reg), before);
  EXPECT_EQ(vops_of(reg), (std::vector<Vop>{0, 0, 0}));
  EXPECT_THROW(find_deterministic(reg, 3), Failure);
}

// For an isolated qubit with VOP v, the oracle finds the one axis whose
// outcome is certain in the state v|+>; a qubit with a neighbour has none.
TEST(FindDeterministic, IsolatedQubitOfEveryVopAgreesWithTheOracle) {
  for (Vop v = 0; v < 24; ++v) {
    SCOPED_TRACE("vop " + std::to_string(v));
    Register reg(1);
    reg[0].vop = v;
    const DenseState state = state_of(reg);
    int certain_axes = 0;
    for (Axis axis : {Axis::x, Axis::y, Axis::z}) {
      const double p0 = measure_pauli(state, 0, axis, 0).probability;
      const bool certain = p0 < 1e-9 || p0 > 1 - 1e-9;
      certain_axes += certain;
      EXPECT_EQ(find_deterministic(reg, 0) == axis, certain);
      if (certain) {
        NoDraws no_draws;
        const Measurement m = measure(reg, 0, axis, no_draws);
        EXPECT_TRUE(m.determined);
        EXPECT_EQ(m.result, p0 > 0.5 ? 0 : 1);
      }
    }
    EXPECT_EQ(certain_axes, 1);

    Register pair(2);
    add_edge(pair, 0, 1);
    pair[0].vop = v;
    EXPECT_EQ(find_deterministic(pair, 0), Axis::none);
  }
}

// Symmetric adjacency, no self-loops, no duplicate entries.
void expect_invariants(const Register& reg) {
  for (Qubit a = 0; a < reg.size(); ++a) {
    const List& list = reg[a].neighbors;
    for (std::size_t i = 0; i < list.size(); ++i) {
      ASSERT_LT(list[i], reg.size());
      ASSERT_NE(list[i], a);
      ASSERT_TRUE(has_edge(reg, list[i], a));
      for (std::size_t j = i + 1; j < list.size(); ++j) ASSERT_NE(list[i], list[j]);
    }
  }
}

// Every measurement on random states of 1 to 8 qubits, with both forced
// outcome bits: a determined outcome is certain, a drawn one has
// probability 1/2, the two bits give opposite results, and the register
// afterwards represents the projected state.
TEST(MeasureOracle, RandomCircuitsAgreeWithProjectiveMeasurement) {
  std::mt19937 gen(20240611);
  int determined_seen = 0, random_seen = 0;
  for (int circuit = 0; circuit < 400; ++circuit) {
    const std::size_t n = 1 + circuit % 8;
    Register reg(n);
    for (int step = 0; step < 40; ++step) {
      if (gen() % 4 != 0) {
        random_gate(reg, gen);
        continue;
      }
      const Qubit q = gen() % n;
      const Axis axis = static_cast<Axis>(gen() % 3);
      const DenseState before = state_of(reg);
      std::array<Register, 2> outcomes{reg, reg};
      std::array<Measurement, 2> results{};
      for (int r : {0, 1}) {
        FixedWord word = forced(r);
        results[r] = measure(outcomes[r], q, axis, word);
        ASSERT_EQ(word.drawn, results[r].determined ? 0 : 1);
        expect_invariants(outcomes[r]);
        const auto projected = measure_pauli(before, q, axis, results[r].result);
        ASSERT_NEAR(projected.probability, results[r].determined ? 1.0 : 0.5, 1e-9)
            << "circuit " << circuit << " step " << step;
        ASSERT_TRUE(same_up_to_phase(state_of(outcomes[r]), projected.after))
            << "circuit " << circuit << " step " << step << " r " << r;
        if (!results[r].determined) {
          ASSERT_TRUE(outcomes[r][q].neighbors.empty());
        }
        // Choosing the result instead of drawing it: the same update as the
        // draw that gives that result, or the determined result untouched.
        for (std::uint8_t wanted : {0, 1}) {
          Register chosen = reg;
          const Measurement m = measure_with_outcome(chosen, q, axis, wanted);
          ASSERT_EQ(m.determined, results[r].determined);
          if (m.determined) {
            ASSERT_EQ(m.result, results[r].result);
            ASSERT_EQ(lists_of(chosen), lists_of(reg));
            ASSERT_EQ(vops_of(chosen), vops_of(reg));
          } else if (wanted == results[r].result) {
            ASSERT_EQ(m.result, wanted);
            ASSERT_EQ(lists_of(chosen), lists_of(outcomes[r]));
            ASSERT_EQ(vops_of(chosen), vops_of(outcomes[r]));
          }
        }
      }
      ASSERT_EQ(results[0].determined, results[1].determined);
      if (results[0].determined) {
        ++determined_seen;
        ASSERT_EQ(results[0].result, results[1].result);
      } else {
        ++random_seen;
        ASSERT_NE(results[0].result, results[1].result);
      }
      reg = outcomes[gen() % 2];
    }
  }
  EXPECT_GT(determined_seen, 50);
  EXPECT_GT(random_seen, 50);
}

}  // namespace
}  // namespace ordavine
