// The reduced state of a set of qubits and the fidelities built on it,
// against the dense oracle; the structure of the reduced group on large
// registers; and the register's growth and local complementation.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "failure/failure.hpp"
#include "measure/fidelity.hpp"
#include "measure/product_measurement.hpp"
#include "register/entanglement_entropy.hpp"
#include "register/graph_import.hpp"
#include "register/local_complement.hpp"
#include "register/reduced_state.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"
#include "support/plain_cut_rank.hpp"

namespace ordavine {
namespace {

using oracle::Amplitude;
using oracle::DenseState;

Register random_state(std::size_t n, std::mt19937& gen, std::size_t steps) {
  using TwoQubitGate = void (*)(Register&, Qubit, Qubit);
  static constexpr TwoQubitGate two_qubit[] = {cz, cx, cy, xcx, xcy, xcz, ycx, ycy, ycz};
  Register reg(n);
  for (std::size_t i = 0; i < steps; ++i) {
    if (n >= 2 && gen() % 2 == 0) {
      const Qubit a = gen() % n;
      two_qubit[gen() % std::size(two_qubit)](reg, a, (a + 1 + gen() % (n - 1)) % n);
    } else if (n > 0) {
      apply_single_qubit_gate(reg, gen() % n, static_cast<Vop>(gen() % 24));
    }
  }
  return reg;
}

// <phi|rho_A|phi> from the amplitudes: sum over the rest's basis states r of
// |sum_x conj(phi(x)) psi(x on A, r on the rest)|^2.
double dense_reduced_fidelity(const DenseState& psi, const std::vector<Qubit>& set, const DenseState& phi) {
  const std::size_t n = psi.qubits(), k = set.size();
  std::vector<Qubit> rest;
  for (Qubit q = 0; q < n; ++q) {
    if (std::find(set.begin(), set.end(), q) == set.end()) rest.push_back(q);
  }
  double total = 0.0;
  for (std::size_t r = 0; r < (std::size_t{1} << rest.size()); ++r) {
    std::size_t base = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
      if ((r >> i) & 1) base |= std::size_t{1} << rest[i];
    }
    Amplitude c{0.0};
    for (std::size_t x = 0; x < (std::size_t{1} << k); ++x) {
      std::size_t index = base;
      for (std::size_t i = 0; i < k; ++i) {
        if ((x >> i) & 1) index |= std::size_t{1} << set[i];
      }
      c += std::conj(phi.amplitudes()[x]) * psi.amplitudes()[index];
    }
    total += std::norm(c);
  }
  return total;
}

TEST(ReducedState, FidelitiesAgreeWithTheDenseOracle) {
  std::mt19937 gen(4242);
  int zero = 0, partial = 0, one = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t n = 1 + trial % 10;
    const Register reg = random_state(n, gen, gen() % (6 * n));
    std::vector<Qubit> set(n);
    std::iota(set.begin(), set.end(), Qubit{0});
    std::shuffle(set.begin(), set.end(), gen);
    set.resize(gen() % (n + 1));
    // The other state: random, or the set's own reduced state when pure
    // (then the fidelity is 1), by copying the register onto the set.
    const Register other = random_state(set.size(), gen, gen() % (4 * set.size() + 1));
    SCOPED_TRACE("trial " + std::to_string(trial));
    const double ours = reduced_fidelity(reg, set, other);
    const double dense = dense_reduced_fidelity(oracle::state_of(reg), set, oracle::state_of(other));
    ASSERT_NEAR(ours, dense, 1e-9);
    zero += ours == 0.0;
    one += ours == 1.0;
    partial += ours > 0.0 && ours < 1.0;
    // The whole register against another of its size.
    const Register whole = random_state(n, gen, gen() % (3 * n));
    Amplitude overlap{0.0};
    const DenseState a = oracle::state_of(reg), b = oracle::state_of(whole);
    for (std::size_t i = 0; i < a.amplitudes().size(); ++i)
      overlap += std::conj(a.amplitudes()[i]) * b.amplitudes()[i];
    ASSERT_NEAR(fidelity(reg, whole), std::norm(overlap), 1e-9);
    ASSERT_EQ(fidelity(reg, reg), 1.0);
  }
  EXPECT_GT(zero, 300);
  EXPECT_GT(one, 200);
  EXPECT_GT(partial, 300);
}

// Collects the generators the sink is handed.
class Collect final : public GeneratorSink {
 public:
  bool accept(bool negative, std::span<const PauliFactor> factors) override {
    generators.push_back({negative, std::vector<PauliFactor>(factors.begin(), factors.end())});
    return true;
  }
  struct Generator {
    bool negative;
    std::vector<PauliFactor> factors;
  };
  std::vector<Generator> generators;
};

TEST(ReducedState, LargeRegistersGiveTheGroupOfTheSet) {
  // Random sparse graphs with random VOPs; sets up to hundreds of qubits
  // (past the searched and the one-block cases).  The generators must be
  // k - E of them with E the cut's entanglement entropy, each +1 on the
  // register, supported on the set, commuting and independent.
  std::mt19937 gen(99);
  for (int trial = 0; trial < 60; ++trial) {
    const std::size_t n = 2000;
    std::vector<std::int64_t> ends;
    for (Qubit a = 0; a + 1 < n; ++a) {
      ends.insert(ends.end(), {static_cast<std::int64_t>(a), static_cast<std::int64_t>(a + 1)});
      if (gen() % 4 == 0) {
        const Qubit b = a + 2 + gen() % 30;
        if (b < n) ends.insert(ends.end(), {static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)});
      }
    }
    std::vector<std::uint8_t> vops(n);
    for (auto& v : vops) v = static_cast<std::uint8_t>(gen() % 24);
    const Register reg = graph_register<std::int64_t>(n, ends, std::span<const std::uint8_t>(vops));
    std::vector<Qubit> set;
    const std::size_t start = gen() % 1000, size = 1 + gen() % (trial % 3 == 0 ? 6 : 400);
    for (Qubit q = start; q < start + size; ++q) {
      if (gen() % 3 != 0) set.push_back(q);
    }
    std::shuffle(set.begin(), set.end(), gen);
    Collect sink;
    const std::size_t entropy = reduced_state_generators(reg, set, sink);
    std::vector<Qubit> sorted = set;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(entropy, entanglement_entropy(reg, sorted)) << "trial " << trial;
    ASSERT_EQ(sink.generators.size(), set.size() - entropy);
    // Each generator, mapped back to the register's qubits, is +1 there.
    std::vector<std::vector<std::uint64_t>> rows;
    const std::size_t words = (2 * set.size() + 63) / 64;
    for (const auto& g : sink.generators) {
      std::vector<PauliFactor> back;
      std::vector<std::uint64_t> row(words, 0);
      for (const PauliFactor& f : g.factors) {
        ASSERT_LT(f.qubit, set.size());
        back.push_back({set[f.qubit], f.axis});
        if (f.axis != Axis::z) row[f.qubit / 64] |= std::uint64_t{1} << (f.qubit % 64);
        const std::size_t z = set.size() + f.qubit;
        if (f.axis != Axis::x) row[z / 64] |= std::uint64_t{1} << (z % 64);
      }
      ASSERT_EQ(expectation(reg, back, g.negative), 1) << "trial " << trial;
      rows.push_back(std::move(row));
    }
    // Independent: full rank over GF(2).
    std::vector<std::uint64_t> matrix;
    for (const auto& row : rows) matrix.insert(matrix.end(), row.begin(), row.end());
    ASSERT_EQ(plain::gf2_rank(matrix, rows.size(), words, 2 * set.size()), rows.size());
  }
}

TEST(ReducedState, RefusesRepeatsAndIndicesOutOfRange) {
  Register reg(5);
  Collect sink;
  const std::vector<Qubit> repeated{3, 1, 3};
  try {
    reduced_state_generators(reg, repeated, sink);
    ADD_FAILURE() << "accepted";
  } catch (const InvalidInput& refused) {
    EXPECT_STREQ(refused.what(), "qubit 3 is listed twice (at positions 0 and 2)");
  }
  // Past the searched size, through the marks.
  std::vector<Qubit> long_repeat{0, 1, 2, 3, 4};
  Register big(40);
  for (Qubit q = 5; q < 20; ++q) long_repeat.push_back(q);
  long_repeat.push_back(7);
  EXPECT_THROW(reduced_state_generators(big, long_repeat, sink), InvalidInput);
  const std::vector<Qubit> outside{0, 5};
  EXPECT_THROW(reduced_state_generators(reg, outside, sink), Failure);
  EXPECT_TRUE(sink.generators.empty());
}

TEST(RegisterGrowth, NewQubitsStartInZeroAndTheRestStays) {
  std::mt19937 gen(31);
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t n = gen() % 6, added = gen() % 4;
    Register reg = random_state(n, gen, 4 * n);
    const Register before = reg;
    reg.add_qubits(added);
    ASSERT_EQ(reg.size(), n + added);
    for (Qubit q = 0; q < n; ++q) {
      ASSERT_EQ(reg[q].neighbors, before[q].neighbors);
      ASSERT_EQ(reg[q].vop, before[q].vop);
    }
    // The state is the old one times |0> on each new qubit: amplitudes with
    // any new qubit set are zero, the others are the old state's.
    const DenseState grown = oracle::state_of(reg), old = oracle::state_of(before);
    for (std::size_t i = 0; i < grown.amplitudes().size(); ++i) {
      const Amplitude expected = (i >> n) == 0 ? old.amplitudes()[i] : Amplitude{0.0};
      ASSERT_NEAR(std::abs(grown.amplitudes()[i] - expected), 0.0, 1e-9) << "trial " << trial;
    }
  }
  Register reg(3);
  EXPECT_THROW(reg.add_qubits(kMaxQubits), Failure);
  EXPECT_EQ(reg.size(), 3u);
  // Growing one at a time keeps amortised room.
  Register line(0);
  for (int i = 0; i < 1000; ++i) line.add_qubits(1);
  EXPECT_EQ(line.size(), 1000u);
}

TEST(LocalComplementation, KeepsTheStateAndComplementsTheNeighbourhood) {
  std::mt19937 gen(12);
  for (int trial = 0; trial < 1000; ++trial) {
    const std::size_t n = 1 + trial % 8;
    Register reg = random_state(n, gen, 6 * n);
    const Register before = reg;
    const Qubit w = gen() % n;
    local_complement(reg, w);
    ASSERT_TRUE(oracle::same_up_to_phase(oracle::state_of(reg), oracle::state_of(before)))
        << "trial " << trial;
    const auto& around = before[w].neighbors;
    for (Qubit a = 0; a < n; ++a) {
      for (Qubit b = a + 1; b < n; ++b) {
        const bool both = std::find(around.begin(), around.end(), a) != around.end() &&
                          std::find(around.begin(), around.end(), b) != around.end();
        ASSERT_EQ(has_edge(reg, a, b), has_edge(before, a, b) != both);
      }
    }
  }
}

}  // namespace
}  // namespace ordavine
