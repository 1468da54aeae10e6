// Pauli products against the dense oracle: the expectation test, the
// product measurement with both outcomes chosen and drawn, and the product
// rotation, on random states of up to 7 qubits and random signed products.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "failure/failure.hpp"
#include "measure/product_measurement.hpp"
#include "register/export.hpp"
#include "register/graph_import.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"
#include "support/random_gates.hpp"
#include "support/word_sources.hpp"

namespace ordavine {
namespace {

using oracle::Amplitude;
using oracle::DenseState;
using oracle::same_up_to_phase;
using oracle::state_of;
using test_gates::any_vop;
using test_words::FixedWord;

Register random_state(std::size_t n, std::mt19937& gen) {
  Register reg(n);
  const int steps = static_cast<int>(gen() % 30);
  for (int i = 0; i < steps; ++i) test_gates::random_gate(reg, gen, any_vop);
  return reg;
}

struct SignedProduct {
  bool negative = false;
  std::vector<PauliFactor> factors;
};

SignedProduct random_product(std::size_t n, std::mt19937& gen) {
  std::vector<Qubit> qubits(n);
  for (Qubit q = 0; q < n; ++q) qubits[q] = q;
  std::shuffle(qubits.begin(), qubits.end(), gen);
  SignedProduct p;
  p.negative = gen() % 2 == 0;
  const std::size_t k = gen() % (n + 1);
  for (std::size_t i = 0; i < k; ++i) p.factors.push_back({qubits[i], static_cast<Axis>(gen() % 3)});
  return p;
}

// P|psi>, the sign included.
DenseState applied(const DenseState& state, const SignedProduct& p) {
  DenseState out = state;
  for (const PauliFactor& f : p.factors) out.apply(f.qubit, oracle::gates::pauli(f.axis));
  if (p.negative) {
    for (auto& a : out.amplitudes()) a = -a;
  }
  return out;
}

// a |psi> + b P|psi>.
DenseState combined(const DenseState& psi, Amplitude a, const DenseState& p_psi, Amplitude b) {
  DenseState out = psi;
  for (std::size_t i = 0; i < out.amplitudes().size(); ++i) {
    out.amplitudes()[i] = a * psi.amplitudes()[i] + b * p_psi.amplitudes()[i];
  }
  return out;
}

double overlap_real(const DenseState& a, const DenseState& b) {
  Amplitude sum{0.0};
  for (std::size_t i = 0; i < a.amplitudes().size(); ++i)
    sum += std::conj(a.amplitudes()[i]) * b.amplitudes()[i];
  return sum.real();
}

void normalise(DenseState& state) {
  const double scale = 1.0 / std::sqrt(state.norm_squared());
  for (auto& a : state.amplitudes()) a *= scale;
}

TEST(PauliProduct, ExpectationMeasurementAndRotationAgreeWithTheOracle) {
  std::mt19937 gen(77031);
  int determined = 0, random = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t n = 1 + trial % 7;
    Register reg = random_state(n, gen);
    const SignedProduct p = random_product(n, gen);
    const DenseState psi = state_of(reg);
    const DenseState p_psi = applied(psi, p);
    const double value = overlap_real(psi, p_psi);
    SCOPED_TRACE("trial " + std::to_string(trial));

    const int e = expectation(reg, p.factors, p.negative);
    ASSERT_NEAR(static_cast<double>(e), value, 1e-9);

    // Measurement, each outcome chosen and then drawn with a fixed word.
    for (std::uint8_t wanted : {0, 1}) {
      Register chosen = reg;
      const Measurement m = measure_product_with_outcome(chosen, p.factors, p.negative, wanted);
      ASSERT_EQ(m.determined, e != 0);
      if (m.determined) {
        ASSERT_EQ(m.result, e < 0 ? 1 : 0);
        ASSERT_TRUE(same_up_to_phase(state_of(chosen), psi));
        continue;
      }
      ASSERT_EQ(m.result, wanted);
      DenseState projected = combined(psi, 0.5, p_psi, wanted == 0 ? 0.5 : -0.5);
      normalise(projected);
      ASSERT_TRUE(same_up_to_phase(state_of(chosen), projected));
      ASSERT_NEAR(expectation(chosen, p.factors, p.negative), wanted == 0 ? 1 : -1, 0);
    }
    if (e == 0) {
      ++random;
      for (std::uint32_t word : {0u, 0x80000000u}) {
        Register drawn = reg;
        FixedWord source(word);
        const Measurement m = measure_product(drawn, p.factors, p.negative, source);
        ASSERT_EQ(source.drawn, 1);
        Register chosen = reg;
        measure_product_with_outcome(chosen, p.factors, p.negative, m.result);
        ASSERT_TRUE(same_up_to_phase(state_of(drawn), state_of(chosen)));
      }
    } else {
      ++determined;
      FixedWord source(0);
      Register copy = reg;
      measure_product(copy, p.factors, p.negative, source);
      ASSERT_EQ(source.drawn, 0);
    }

    // Rotation: the -1 eigenspace phased by i (or -i).
    for (bool dagger : {false, true}) {
      Register rotated = reg;
      rotate_product(rotated, p.factors, p.negative, dagger);
      const Amplitude phase = dagger ? Amplitude{0, -1} : Amplitude{0, 1};
      const DenseState expected = combined(psi, 0.5 * (1.0 + phase), p_psi, 0.5 * (1.0 - phase));
      ASSERT_TRUE(same_up_to_phase(state_of(rotated), expected)) << "dagger " << dagger;
    }
  }
  EXPECT_GT(determined, 500);
  EXPECT_GT(random, 500);
}

// Products of more than eight factors, and products around dense
// neighbourhoods, take the expectation test's marked path; short products
// around few neighbours the searched one.  Both against the oracle.
TEST(PauliProduct, ExpectationOfLongProductsAndDenseGraphs) {
  std::mt19937 gen(5150);
  int long_products = 0, crowded = 0, fixed = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const bool dense_graph = trial % 2 == 1;
    const std::size_t n = dense_graph ? 12 : 9 + trial % 4;
    // Odd trials: a nearly complete graph with random VOPs.
    std::vector<std::int64_t> ends;
    for (std::size_t a = 0; a < n && trial % 2 == 1; ++a) {
      for (std::size_t b = a + 1; b < n; ++b) {
        if (gen() % 20 != 0)
          ends.insert(ends.end(), {static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)});
      }
    }
    std::vector<std::uint8_t> vops(n);
    for (auto& v : vops) v = static_cast<std::uint8_t>(gen() % 24);
    Register reg = graph_register<std::int64_t>(n, ends, std::span<const std::uint8_t>(vops));
    const int steps = dense_graph ? 0 : static_cast<int>(20 + gen() % 200);
    for (int i = 0; i < steps; ++i) test_gates::random_gate(reg, gen, any_vop);
    SignedProduct p;
    p.negative = gen() % 2 == 0;
    if (gen() % 2 == 0) {
      // An element of the stabilizer group: +-1, never 0.
      std::vector<PauliFactor> written;
      for (Qubit a = 0; a < n; ++a) {
        if (gen() % 2 != 0) continue;
        const SparseStabilizer g = stabilizer_of(reg, a);
        written.insert(written.end(), g.factors.begin(), g.factors.end());
        p.negative ^= g.negative;
      }
      ASSERT_TRUE(reduce_product(written, p.negative, p.factors));
    } else {
      std::vector<Qubit> qubits(n);
      for (Qubit q = 0; q < n; ++q) qubits[q] = q;
      std::shuffle(qubits.begin(), qubits.end(), gen);
      const std::size_t k = dense_graph ? 8 : 9 + gen() % (n - 8);
      for (std::size_t i = 0; i < k; ++i) p.factors.push_back({qubits[i], static_cast<Axis>(gen() % 3)});
    }
    const std::size_t k = p.factors.size();
    std::size_t touched = k;
    for (const PauliFactor& f : p.factors) touched += reg[f.qubit].neighbors.size();
    long_products += k > 8;
    crowded += k <= 8 && touched > 80;
    const DenseState psi = state_of(reg);
    const int e = expectation(reg, p.factors, p.negative);
    ASSERT_NEAR(static_cast<double>(e), overlap_real(psi, applied(psi, p)), 1e-9) << "trial " << trial;
    fixed += e != 0 && (k > 8 || touched > 80);
  }
  EXPECT_GT(long_products, 150);
  EXPECT_GT(crowded, 100);
  EXPECT_GT(fixed, 150);
}

TEST(PauliProduct, ExpectationReadsOnlyTheNeighbourhoodsOfItsXPart) {
  // A long cluster: the generator of the middle qubit, read as a product,
  // is +1; dropping one of its Z factors makes it random.
  constexpr std::size_t n = 100'000;
  Register reg(n);
  for (Qubit q = 0; q < n; ++q) h(reg, q);
  for (Qubit q = 0; q + 1 < n; ++q) cz(reg, q, q + 1);
  const Qubit m = n / 2;
  const std::vector<PauliFactor> generator{{m - 1, Axis::z}, {m, Axis::x}, {m + 1, Axis::z}};
  EXPECT_EQ(expectation(reg, generator, false), 1);
  EXPECT_EQ(expectation(reg, generator, true), -1);
  const std::vector<PauliFactor> partial{{m, Axis::x}, {m + 1, Axis::z}};
  EXPECT_EQ(expectation(reg, partial, false), 0);
  // K_a K_(a+1) = (X Z)(Z X) with the middle pair each X Z = -iY: +Y Y.
  const std::vector<PauliFactor> pair{{m - 1, Axis::z}, {m, Axis::y}, {m + 1, Axis::y}, {m + 2, Axis::z}};
  EXPECT_EQ(expectation(reg, pair, false), 1);
}

TEST(PauliProduct, RefusesRepeatedQubitsAndOutOfRangeIndices) {
  Register reg(3);
  const std::vector<PauliFactor> twice{{1, Axis::x}, {1, Axis::z}};
  EXPECT_THROW(expectation(reg, twice, false), Failure);
  const std::vector<PauliFactor> outside{{0, Axis::x}, {3, Axis::z}};
  EXPECT_THROW(expectation(reg, outside, false), Failure);
  std::vector<PauliFactor> long_twice;
  for (Qubit q = 0; q < 3; ++q) long_twice.push_back({q, Axis::z});
  Register big(20);
  for (Qubit q = 0; q < 20; ++q) long_twice.push_back({q, Axis::x});
  EXPECT_THROW(rotate_product(big, long_twice, false, false), Failure);
}

// Written products against the dense oracle: the reduced product times its
// sign is the written one as a matrix, or the written one is anti-Hermitian.
TEST(PauliProduct, ReductionKeepsTheOperator) {
  std::mt19937 gen(4411);
  int refused = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    const std::size_t n = 1 + trial % 3;
    // Long products (past the scan limit) use the index; short ones scan.
    const std::size_t length = trial % 10 == 0 ? 40 : gen() % 7;
    std::vector<PauliFactor> written;
    for (std::size_t i = 0; i < length; ++i)
      written.push_back({static_cast<Qubit>(gen() % n), static_cast<Axis>(gen() % 3)});
    Register reg(n);
    for (int step = 0; step < 12; ++step) test_gates::random_gate(reg, gen, any_vop);
    const DenseState psi = state_of(reg);
    DenseState by_written = psi;  // the leftmost factor acts last
    for (std::size_t i = written.size(); i-- > 0;)
      by_written.apply(written[i].qubit, oracle::gates::pauli(written[i].axis));
    bool negative = false;
    std::vector<PauliFactor> reduced;
    if (!reduce_product(written, negative, reduced)) {
      ++refused;
      // Anti-Hermitian: <psi|P|psi> is purely imaginary for every state.
      Amplitude value{0.0};
      for (std::size_t i = 0; i < psi.amplitudes().size(); ++i)
        value += std::conj(psi.amplitudes()[i]) * by_written.amplitudes()[i];
      ASSERT_NEAR(value.real(), 0.0, 1e-9);
      continue;
    }
    for (std::size_t i = 0; i < reduced.size(); ++i) {
      for (std::size_t j = i + 1; j < reduced.size(); ++j) ASSERT_NE(reduced[i].qubit, reduced[j].qubit);
    }
    const DenseState by_reduced = applied(psi, {negative, reduced});
    for (std::size_t i = 0; i < psi.amplitudes().size(); ++i) {
      ASSERT_NEAR(std::abs(by_reduced.amplitudes()[i] - by_written.amplitudes()[i]), 0.0, 1e-9)
          << "trial " << trial;
    }
  }
  EXPECT_GT(refused, 200);
}

}  // namespace
}  // namespace ordavine
