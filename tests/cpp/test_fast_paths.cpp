// The core's graph updates against the plain algorithms, side by side: every
// neighbour list (order included), every VOP and every result must agree
// after every operation, on graphs with hubs and dense neighbourhoods where
// the fast paths take over.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "measure/measure.hpp"
#include "measure/peek.hpp"
#include "register/local_complement.hpp"
#include "register/single_qubit.hpp"
#include "register/toggle_batch.hpp"
#include "register/two_qubit.hpp"
#include "support/plain_algorithms.hpp"

namespace ordavine {
namespace {

// Words from a seeded engine; two sources with one seed give one stream.
class SeededSource final : public RandomSource {
 public:
  explicit SeededSource(unsigned seed) : engine_(seed) {}
  std::uint32_t next_word() override { return static_cast<std::uint32_t>(engine_()); }

 private:
  std::mt19937 engine_;
};

void expect_same(const Register& fast, const Register& plain, const std::string& context) {
  ASSERT_EQ(fast.size(), plain.size());
  for (Qubit q = 0; q < fast.size(); ++q) {
    ASSERT_EQ(fast[q].neighbors, plain[q].neighbors) << context << ": list of " << q;
    ASSERT_EQ(fast[q].vop, plain[q].vop) << context << ": VOP of " << q;
  }
}

// A random graph with every VOP random, a hub joined to everything and a
// few dense clusters, so that neighbourhoods are large and overlap.
Register random_graph(std::size_t n, double density, std::mt19937& rng) {
  Register reg(n);
  std::uniform_int_distribution<int> vop_of(0, 23);
  std::bernoulli_distribution joined(density);
  std::vector<std::pair<Qubit, Qubit>> pairs;
  for (Qubit a = 0; a < n; ++a) {
    for (Qubit b = a + 1; b < n; ++b) {
      if (a == 0 || joined(rng)) pairs.emplace_back(a, b);
    }
  }
  std::shuffle(pairs.begin(), pairs.end(), rng);  // so list order is not sorted
  for (const auto& [a, b] : pairs) add_edge(reg, a, b);
  for (Qubit q = 0; q < n; ++q) reg[q].vop = static_cast<Vop>(vop_of(rng));
  return reg;
}

// One random step on both registers: controlled-Z for kind below
// `cz_below`, a single-qubit gate below `gate_below`, else a measurement on
// an axis chosen by the kind, whose results must agree.
void random_step_on_both(Register& fast, Register& plain, Qubit a, Qubit b, int kind, int cz_below,
                         int gate_below, RandomSource& fast_words, RandomSource& plain_words) {
  if (kind < cz_below) {
    cz(fast, a, b);
    plain::cz(plain, a, b);
  } else if (kind < gate_below) {
    const Vop gate = std::array<Vop, 6>{1, 2, 3, 5, 6, 10}[static_cast<std::size_t>(kind % 6)];
    apply_single_qubit_gate(fast, b, gate);
    apply_single_qubit_gate(plain, b, gate);
  } else {
    const Axis axis = static_cast<Axis>(kind % 3);
    ASSERT_EQ(measure(fast, b, axis, fast_words).result, plain::measure(plain, b, axis, plain_words).result);
  }
}

TEST(FastPaths, LocalComplementAndReductionMatchThePlainToggles) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    const std::size_t n = 5 + round * 2;
    Register fast = random_graph(n, 0.1 + 0.02 * (round % 20), rng);
    Register plain = fast;
    std::uniform_int_distribution<Qubit> qubit(0, n - 1);
    for (int step = 0; step < 30; ++step) {
      const Qubit w = qubit(rng);
      if (step % 2 == 0) {
        local_complement(fast, w);
        plain::local_complement(plain, w);
      } else {
        const Qubit avoid = qubit(rng);
        if (fast[w].neighbors.empty()) continue;
        // VOP 0 takes the shortcut of four complementations about w.
        if (step % 4 == 1) {
          fast[w].vop = 0;
          plain[w].vop = 0;
        }
        remove_vop(fast, w, avoid);
        plain::remove_vop(plain, w, avoid);
      }
      expect_same(fast, plain, "round " + std::to_string(round) + " step " + std::to_string(step));
    }
  }
}

TEST(FastPaths, ToggleBatchMatchesTogglesOneByOne) {
  std::mt19937 rng(11);
  for (int round = 0; round < 50; ++round) {
    const std::size_t n = 3 + round;
    Register batched = random_graph(n, 0.3, rng);
    Register single = batched;
    ToggleBatch batch;
    std::uniform_int_distribution<Qubit> qubit(0, n - 1);
    // Repeated pairs are common: a pair toggled twice must move to the end.
    for (int i = 0; i < 200; ++i) {
      const Qubit a = qubit(rng), b = qubit(rng);
      if (a == b) continue;
      batch.toggle(a, b);
      toggle_edge(single, a, b);
    }
    batch.apply(batched);
    expect_same(batched, single, "round " + std::to_string(round));
  }
}

TEST(FastPaths, MeasurementsMatchThePlainUpdates) {
  std::mt19937 rng(13);
  for (int round = 0; round < 60; ++round) {
    const std::size_t n = 6 + round;
    Register fast = random_graph(n, 0.05 + 0.01 * (round % 40), rng);
    Register plain = fast;
    SeededSource fast_words(round), plain_words(round);
    std::uniform_int_distribution<Qubit> qubit(0, n - 1);
    for (int step = 0; step < 25; ++step) {
      const Qubit q = step == 0 ? 0 : qubit(rng);  // the hub first: the largest case
      const Axis axis = static_cast<Axis>(step % 3);
      const Measurement a = measure(fast, q, axis, fast_words);
      const Measurement b = plain::measure(plain, q, axis, plain_words);
      ASSERT_EQ(a.result, b.result);
      ASSERT_EQ(a.determined, b.determined);
      expect_same(fast, plain, "round " + std::to_string(round) + " step " + std::to_string(step));
    }
  }
}

TEST(FastPaths, LongGateAndMeasurementSequencesWithHubsMatch) {
  std::mt19937 rng(17);
  for (int round = 0; round < 6; ++round) {
    const std::size_t n = 60;
    Register fast(n), plain(n);
    SeededSource fast_words(100 + round), plain_words(100 + round);
    std::uniform_int_distribution<Qubit> qubit(0, n - 1);
    std::uniform_int_distribution<int> kind(0, 99);
    for (int step = 0; step < 3000; ++step) {
      const int k = kind(rng);
      // Gates from two hubs build high degrees; a few measurements cut them.
      const Qubit a = k < 30 ? static_cast<Qubit>(step % 2) : qubit(rng);
      Qubit b = qubit(rng);
      if (b == a) b = (a + 1) % n;
      random_step_on_both(fast, plain, a, b, k, 70, 95, fast_words, plain_words);
      if (HasFatalFailure()) return;
      expect_same(fast, plain, "round " + std::to_string(round) + " step " + std::to_string(step));
    }
  }
}

// Sparse registers of many small components, the everyday case: chains and
// small clusters where the short-list paths of the updates run, and peeks
// that copy only the components they reach.
TEST(FastPaths, SparseRegistersGatesMeasurementsAndPeeksMatch) {
  std::mt19937 rng(19);
  for (int round = 0; round < 20; ++round) {
    const std::size_t n = 40;
    Register fast(n);
    // A chain over the first half, as a cluster state; the rest separate.
    for (Qubit q = 0; q < n; ++q) h(fast, q);
    for (Qubit q = 0; q + 1 < n / 2; ++q) cz(fast, q, q + 1);
    Register plain = fast;
    SeededSource fast_words(300 + round), plain_words(300 + round);
    // Gates stay within blocks of eight, so components stay small.
    std::uniform_int_distribution<Qubit> offset(0, 7), block(0, n / 8 - 1);
    std::uniform_int_distribution<int> kind(0, 99);
    for (int step = 0; step < 400; ++step) {
      const Qubit base = 8 * block(rng);
      const Qubit a = base + offset(rng);
      Qubit b = base + offset(rng);
      if (b == a) b = base + (a - base + 1) % 8;
      const int k = kind(rng);
      const std::string where = "round " + std::to_string(round) + " step " + std::to_string(step);
      // The other two-qubit gates are cz framed by single-qubit gates, so
      // the two together cover their graph work.
      if (k < 60) {
        cz(fast, a, b);
        plain::cz(plain, a, b);
      } else if (k < 80) {
        const Vop gate = std::array<Vop, 6>{1, 2, 3, 5, 6, 10}[static_cast<std::size_t>(k % 6)];
        apply_single_qubit_gate(fast, a, gate);
        apply_single_qubit_gate(plain, a, gate);
      } else if (k < 90) {
        const Axis axis = static_cast<Axis>(k % 3);
        const Measurement x = measure(fast, a, axis, fast_words);
        const Measurement y = plain::measure(plain, a, axis, plain_words);
        ASSERT_EQ(x.result, y.result) << where;
        ASSERT_EQ(x.determined, y.determined) << where;
      } else {
        std::vector<Qubit> set{a, b, 8 * block(rng) + offset(rng)};
        const auto x = peek_measure_set(fast, set, fast_words);
        const auto y = plain::peek_measure_set(plain, set, plain_words);
        ASSERT_EQ(x.size(), y.size()) << where;
        for (std::size_t i = 0; i < x.size(); ++i) {
          ASSERT_EQ(x[i].qubit, y[i].qubit) << where;
          ASSERT_EQ(x[i].result, y[i].result) << where;
          ASSERT_EQ(x[i].info, y[i].info) << where;
        }
      }
      expect_same(fast, plain, where);
    }
  }
}

// A source whose every word gives the same bit: the plain update then
// measures with a chosen outcome, as measure_with_outcome does.
class FixedBit final : public RandomSource {
 public:
  explicit FixedBit(std::uint8_t bit) : word_(bit ? 0x80000000u : 0u) {}
  std::uint32_t next_word() override { return word_; }

 private:
  std::uint32_t word_;
};

// The axis whose measurement is an X measurement on the bare graph.
Axis axis_measuring_x(const Register& reg, Qubit q) {
  for (const Axis axis : {Axis::x, Axis::y, Axis::z}) {
    if (conj_axis(ADJOINT_TABLE[reg[q].vop], axis) == Axis::x) return axis;
  }
  return Axis::none;  // never: the VOP carries some axis onto X
}

// Two sides joined at random, with random VOPs: a graph without odd
// cycles, so no member of q's list is joined to its first entry b and X
// measurements meet disjoint neighbourhoods.  Some vertices get a leaf as
// their first neighbour, so that b's list is sometimes q alone.
Register random_two_sided_graph(std::size_t left, std::size_t right, double density, std::mt19937& rng) {
  const std::size_t leaves = 20, n = left + right + leaves;
  Register reg(n);
  for (std::size_t i = 0; i < leaves; ++i) add_edge(reg, 3 * i, left + right + i);
  std::bernoulli_distribution joined(density);
  std::vector<std::pair<Qubit, Qubit>> pairs;
  for (Qubit a = 0; a < left; ++a) {
    for (Qubit b = left; b < left + right; ++b) {
      if (joined(rng)) pairs.emplace_back(a, b);
    }
  }
  std::shuffle(pairs.begin(), pairs.end(), rng);  // entries to remove anywhere in a list
  for (const auto& [a, b] : pairs) add_edge(reg, a, b);
  std::uniform_int_distribution<int> vop_of(0, 23);
  for (Qubit q = 0; q < n; ++q) reg[q].vop = static_cast<Vop>(vop_of(rng));
  return reg;
}

// X measurements on two-sided graphs with fronts of hundreds, where q's
// and b's neighbourhoods share no vertex: drawn outcomes and chosen ones,
// b a leaf or a hub, b's list longer than one word of bits.  Late in each
// run controlled-Z gates complement neighbourhoods and make odd cycles, so
// that the shared-vertex updates run in between.
TEST(FastPaths, DisjointNeighbourhoodsOnTwoSidedFrontsMatch) {
  std::mt19937 rng(31);
  std::size_t disjoint = 0, widest_a = 0, widest_b = 0, lone_b = 0;
  for (int round = 0; round < 3; ++round) {
    Register fast = random_two_sided_graph(150, 200, 0.3 + 0.25 * round, rng);
    Register plain = fast;
    const std::size_t n = fast.size();
    SeededSource fast_words(600 + round), plain_words(600 + round);
    std::uniform_int_distribution<Qubit> qubit(0, n - 1);
    std::uniform_int_distribution<int> kind(0, 99);
    for (int step = 0; step < 300; ++step) {
      const std::string where = "round " + std::to_string(round) + " step " + std::to_string(step);
      const Qubit q = qubit(rng);
      const int k = kind(rng);
      if (step >= 200 && k < 15) {
        Qubit other = qubit(rng);
        if (other == q) other = (q + 1) % n;
        cz(fast, q, other);
        plain::cz(plain, q, other);
        expect_same(fast, plain, where);
        continue;
      }
      const NeighbourList& a = fast[q].neighbors;
      const Axis axis = axis_measuring_x(fast, q);
      if (a.size() >= 2) {
        const NeighbourList& b = fast[a.front()].neighbors;
        const bool shared = std::any_of(a.begin(), a.end(),
                                        [&](Qubit v) { return std::find(b.begin(), b.end(), v) != b.end(); });
        if (!shared) {
          ++disjoint;
          widest_a = std::max(widest_a, a.size());
          widest_b = std::max(widest_b, b.size());
          lone_b += b.size() == 1;
        }
      }
      if (k < 50) {
        ASSERT_EQ(measure(fast, q, axis, fast_words).result,
                  plain::measure(plain, q, axis, plain_words).result)
            << where;
      } else {
        const std::uint8_t wanted = k % 2;
        const std::uint8_t sign = conj_sign_negative(ADJOINT_TABLE[plain[q].vop], axis) ? 1 : 0;
        FixedBit graph_outcome(wanted ^ sign);
        const Measurement x = measure_with_outcome(fast, q, axis, wanted);
        const Measurement y = plain::measure(plain, q, axis, graph_outcome);
        ASSERT_EQ(x.result, y.result) << where;
        ASSERT_EQ(x.determined, y.determined) << where;
        if (!x.determined) {
          ASSERT_EQ(x.result, wanted) << where;
        }
      }
      expect_same(fast, plain, where);
    }
  }
  // The sequences reached what they are for.
  EXPECT_GE(disjoint, 300u);
  EXPECT_GE(widest_a, 100u);
  EXPECT_GT(widest_b, 64u);
  EXPECT_GE(lone_b, 1u);
}

// The lists and VOPs of q, its neighbours and its first neighbour's
// neighbours: all that a measurement of q can change.
std::vector<Qubit> reach_of_measurement(const Register& reg, Qubit q) {
  std::vector<Qubit> reach{q};
  const NeighbourList& around = reg[q].neighbors;
  reach.insert(reach.end(), around.begin(), around.end());
  if (!around.empty()) {
    const NeighbourList& second = reg[around.front()].neighbors;
    reach.insert(reach.end(), second.begin(), second.end());
  }
  return reach;
}

void expect_same_at(const Register& fast, const Register& plain, const std::vector<Qubit>& qubits,
                    const std::string& context) {
  for (const Qubit q : qubits) {
    ASSERT_EQ(fast[q].neighbors, plain[q].neighbors) << context << ": list of " << q;
    ASSERT_EQ(fast[q].vop, plain[q].vop) << context << ": VOP of " << q;
  }
}

// Measurement sweeps over a side x side cluster state, in the orders
// computations use: row by row, column by column, building row r+1 before
// measuring row r, anti-diagonal by anti-diagonal, and the anti-diagonals
// with each qubit followed by its first neighbour.  The measured front
// grows dense, so lists of length about the side lose and gain a few
// entries per measurement, near their front (rows) or near their back
// (diagonals).  Of ten measurements `x_in_ten` are on X, the rest on Y and
// Z.  Every measurement is checked where it can change the register, the
// whole register after every line of the sweep.  Returns the widest
// neighbourhood measured in each order.
std::array<std::size_t, 5> sweep_both_in_every_order(std::size_t side, int x_in_ten, unsigned seed) {
  const std::size_t n = side * side;
  std::mt19937 rng(seed);
  std::array<std::size_t, 5> widest{};
  for (int order = 0; order < 5; ++order) {
    const std::string name = std::array{"rows", "columns", "interleaved", "diagonals", "tailored"}[order];
    Register fast(n);
    Register plain(n);
    SeededSource fast_words(seed + order), plain_words(seed + order);
    const auto both_cz = [&](Qubit a, Qubit b) {
      cz(fast, a, b);
      plain::cz(plain, a, b);
    };
    const auto build_row = [&](std::size_t r) {
      for (Qubit q = r * side; q < (r + 1) * side; ++q) {
        h(fast, q);
        h(plain, q);
      }
      for (Qubit q = r * side; q + 1 < (r + 1) * side; ++q) both_cz(q, q + 1);
      if (r > 0) {
        for (Qubit q = (r - 1) * side; q < r * side; ++q) both_cz(q, q + side);
      }
    };
    std::uniform_int_distribution<int> basis(0, 9);
    std::size_t done = 0;
    const auto measure_both = [&](Qubit q) {
      const std::string where = name + ", qubit " + std::to_string(q);
      widest[order] = std::max(widest[order], fast[q].neighbors.size());
      const std::vector<Qubit> reach = reach_of_measurement(fast, q);
      const int b = basis(rng);
      const Axis axis = b < x_in_ten ? Axis::x : static_cast<Axis>(1 + b % 2);
      const Measurement x = measure(fast, q, axis, fast_words);
      const Measurement y = plain::measure(plain, q, axis, plain_words);
      ASSERT_EQ(x.result, y.result) << where;
      ASSERT_EQ(x.determined, y.determined) << where;
      expect_same_at(fast, plain, reach, where);
      if (++done % side == 0) expect_same(fast, plain, where);
    };
    if (name == "interleaved") {
      build_row(0);
      for (std::size_t r = 0; r < side; ++r) {
        if (r + 1 < side) build_row(r + 1);
        expect_same(fast, plain, "interleaved build of row " + std::to_string(r + 1));
        for (Qubit q = r * side; q < (r + 1) * side; ++q) {
          measure_both(q);
          if (testing::Test::HasFatalFailure()) return widest;
        }
      }
      continue;
    }
    for (std::size_t r = 0; r < side; ++r) build_row(r);
    std::vector<Qubit> sweep;
    for (std::size_t i = 0; i < n; ++i) sweep.push_back(name == "rows" ? i : (i % side) * side + i / side);
    if (order >= 3) {  // row r of anti-diagonal d holds column d - r
      sweep.clear();
      for (std::size_t d = 0; d + 1 < 2 * side; ++d) {
        for (std::size_t r = d < side ? 0 : d - side + 1; r <= std::min(d, side - 1); ++r) {
          sweep.push_back(r * side + d - r);
        }
      }
    }
    std::vector<char> measured(n);
    for (const Qubit q : sweep) {
      if (measured[q]) continue;
      const bool follow = name == "tailored" && !fast[q].neighbors.empty();
      const Qubit b = follow ? Qubit{fast[q].neighbors.front()} : q;
      measure_both(q);
      measured[q] = 1;
      if (follow && !measured[b]) {
        measure_both(b);
        measured[b] = 1;
      }
      if (testing::Test::HasFatalFailure()) return widest;
    }
    expect_same(fast, plain, name + ", the end");
  }
  return widest;
}

// Mostly X with Y and Z now and then, on a small lattice.
TEST(FastPaths, ClusterSweepsInEveryOrderMatch) {
  const auto widest = sweep_both_in_every_order(40, 8, 400);
  for (int order = 0; order < 4; ++order) EXPECT_GE(widest[order], 20u) << "order " << order;
}

// X only, as a computation's sweep is, on a lattice whose fronts reach
// about a hundred in every order but the tailored one, whose fronts stay
// narrow by design.
TEST(FastPaths, ClusterSweepsOfXInEveryOrderMatchOnWideFronts) {
  const auto widest = sweep_both_in_every_order(200, 10, 700);
  for (int order = 0; order < 4; ++order) EXPECT_GE(widest[order], 90u) << "order " << order;
}

// Long mixed sequences on graphs whose neighbourhoods have hundreds of
// members: measurements on every axis thin them out and controlled-Z gates
// from a few hubs build them up again.
TEST(FastPaths, LongSequencesOnFrontsOfHundredsMatch) {
  std::mt19937 rng(29);
  for (int round = 0; round < 2; ++round) {
    const std::size_t n = 300;
    Register fast = random_graph(n, 0.7, rng);
    Register plain = fast;
    SeededSource fast_words(500 + round), plain_words(500 + round);
    std::uniform_int_distribution<Qubit> qubit(0, n - 1);
    std::uniform_int_distribution<int> kind(0, 99);
    std::size_t widest = 0;
    for (int step = 0; step < 800; ++step) {
      const int k = kind(rng);
      const Qubit a = k < 40 ? static_cast<Qubit>(step % 3) : qubit(rng);
      Qubit b = qubit(rng);
      if (b == a) b = (a + 1) % n;
      widest = std::max(widest, fast[b].neighbors.size());
      random_step_on_both(fast, plain, a, b, k, 60, 80, fast_words, plain_words);
      if (HasFatalFailure()) return;
      expect_same(fast, plain, "round " + std::to_string(round) + " step " + std::to_string(step));
    }
    EXPECT_GE(widest, 150u);  // the fronts were as wide as intended
  }
}

}  // namespace
}  // namespace ordavine
