// Whole-register export and the cut entropy: generators checked against the
// dense state-vector oracle, edge order and widths, and entropies of states
// whose value is known from their structure.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "register/entanglement_entropy.hpp"
#include "register/export.hpp"
#include "register/register.hpp"
#include "support/dense_state.hpp"
#include "support/plain_cut_rank.hpp"

namespace ordavine {
namespace {

using oracle::DenseState;

Register random_register(std::mt19937_64& rng, std::size_t qubits, double edge_probability) {
  Register reg(qubits);
  std::bernoulli_distribution joined(edge_probability);
  for (Qubit a = 0; a < qubits; ++a)
    for (Qubit b = a + 1; b < qubits; ++b)
      if (joined(rng)) add_edge(reg, b, a);  // lists in a scrambled order
  for (Qubit q = 0; q < qubits; ++q) reg[q].vop = static_cast<Vop>(rng() % 24);
  return reg;
}

TEST(Stabilizer, EveryGeneratorFixesTheDenseStateWithItsSign) {
  std::mt19937_64 rng(7);
  for (std::size_t qubits = 1; qubits <= 7; ++qubits) {
    for (int trial = 0; trial < 40; ++trial) {
      const Register reg = random_register(rng, qubits, 0.45);
      const DenseState state = oracle::state_of(reg);
      std::string text(qubits + 1, '?');
      for (Qubit a = 0; a < qubits; ++a) {
        const SparseStabilizer generator = stabilizer_of(reg, a);
        ASSERT_EQ(generator.factors.size(), reg[a].neighbors.size() + 1);
        DenseState image = state;
        std::string expected(qubits + 1, '_');
        expected[0] = generator.negative ? '-' : '+';
        for (const PauliFactor& factor : generator.factors) {
          image.apply(factor.qubit, oracle::gates::pauli(factor.axis));
          expected[factor.qubit + 1] = "XYZ"[static_cast<int>(factor.axis)];
        }
        const double sign = generator.negative ? -1.0 : 1.0;
        for (std::size_t i = 0; i < image.amplitudes().size(); ++i) {
          ASSERT_LT(std::abs(sign * image.amplitudes()[i] - state.amplitudes()[i]), 1e-9)
              << qubits << " qubits, trial " << trial << ", generator of " << a;
        }
        write_stabilizer_text(reg, a, text);
        EXPECT_EQ(text, expected);
      }
    }
  }
}

TEST(Stabilizer, TextTableIsRefusedPastItsLimit) {
  EXPECT_NO_THROW(check_stabilizer_table_size(Register(kMaxStabilizerTableQubits)));
  EXPECT_THROW(check_stabilizer_table_size(Register(kMaxStabilizerTableQubits + 1)), InvalidInput);
}

TEST(Edges, EachEdgeOnceFromItsLowerEndInListOrderAtBothWidths) {
  Register reg(5);
  add_edge(reg, 0, 3);
  add_edge(reg, 4, 2);
  add_edge(reg, 2, 0);
  add_edge(reg, 0, 1);
  ASSERT_EQ(edge_count(reg), 4u);
  std::vector<std::uint32_t> narrow(8);
  std::vector<std::uint64_t> wide(8);
  write_edges<std::uint32_t>(reg, narrow);
  write_edges<std::uint64_t>(reg, wide);
  EXPECT_EQ(narrow, (std::vector<std::uint32_t>{0, 3, 0, 2, 0, 1, 2, 4}));
  EXPECT_EQ(wide, (std::vector<std::uint64_t>{0, 3, 0, 2, 0, 1, 2, 4}));
  EXPECT_FALSE(edges_need_64_bits(std::size_t{1} << 32));
  EXPECT_TRUE(edges_need_64_bits((std::size_t{1} << 32) + 1));
  reg[3].neighbors.clear();  // an edge listed on one side only
  std::vector<std::uint32_t> short_buffer(2 * edge_count(reg));
  EXPECT_THROW(write_edges<std::uint32_t>(reg, short_buffer), Failure);
}

// An L x L cluster, qubit r * L + c.
Register cluster(std::size_t side) {
  Register reg(side * side);
  for (Qubit q = 0; q < side * side; ++q) {
    if (q % side + 1 < side) add_edge(reg, q, q + 1);
    if (q + side < side * side) add_edge(reg, q, q + side);
  }
  return reg;
}

std::vector<Qubit> range(Qubit begin, Qubit end) {
  std::vector<Qubit> out;
  for (Qubit q = begin; q < end; ++q) out.push_back(q);
  return out;
}

TEST(EntanglementEntropy, ClusterCutsCountTheBoundaryAcrossWordEdges) {
  const std::size_t side = 70;  // more than 64 boundary qubits: several words per row
  const Register reg = cluster(side);
  EXPECT_EQ(entanglement_entropy(reg, range(0, side * side / 2)), side);
  EXPECT_EQ(entanglement_entropy(reg, range(side, 3 * side)), 2 * side);  // a strip: two cuts
  EXPECT_EQ(entanglement_entropy(reg, range(0, side * side)), 0u);
  EXPECT_EQ(entanglement_entropy(reg, {}), 0u);
  // A corner square of 5 x 5 qubits: 9 qubits on its edge, 10 cut edges (two at
  // the square's inner corner), 9 independent rows.
  std::vector<Qubit> corner;
  for (Qubit r = 0; r < 5; ++r)
    for (Qubit c = 0; c < 5; ++c) corner.push_back(r * side + c);
  EXPECT_EQ(entanglement_entropy(reg, corner), 9u);
}

TEST(EntanglementEntropy, SumsOverComponentsAndEqualsTheComplementsValue) {
  Register pairs(40);  // 20 Bell-pair graphs (2i, 2i + 1), plus a star on the last 8
  for (Qubit q = 0; q < 32; q += 2) add_edge(pairs, q, q + 1);
  for (Qubit leaf = 33; leaf < 40; ++leaf) add_edge(pairs, 32, leaf);
  std::vector<Qubit> evens;
  for (Qubit q = 0; q < 32; q += 2) evens.push_back(q);
  EXPECT_EQ(entanglement_entropy(pairs, evens), 16u);
  EXPECT_EQ(entanglement_entropy(pairs, std::vector<Qubit>{33, 34, 35}), 1u);  // a GHZ state: one bit
  EXPECT_EQ(entanglement_entropy(pairs, std::vector<Qubit>{0, 1, 32}), 1u);

  std::mt19937_64 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t qubits = 2 + rng() % 90;
    const double edge_probability = std::min(1.0, 3.0 / static_cast<double>(qubits));
    const Register reg = random_register(rng, qubits, edge_probability);
    std::vector<Qubit> inside, outside;
    for (Qubit q = 0; q < qubits; ++q) (rng() % 2 ? inside : outside).push_back(q);
    const std::size_t entropy = entanglement_entropy(reg, inside);
    EXPECT_EQ(entropy, entanglement_entropy(reg, outside)) << "trial " << trial;
    EXPECT_LE(entropy, std::min(inside.size(), outside.size()));
  }
}

// Leaf removal and the per-piece basis against one dense elimination of the
// whole cut: sparse graphs (all leaves), dense ones (all core) and between,
// cuts of a few words, and shapes whose core is known.
TEST(EntanglementEntropy, AgreesWithThePlainRankOfTheWholeCut) {
  std::mt19937_64 rng(23);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t qubits = 2 + rng() % 300;
    const double mean_degree = 0.5 + static_cast<double>(rng() % 400) / 10.0;
    const Register reg =
        random_register(rng, qubits, std::min(1.0, mean_degree / static_cast<double>(qubits)));
    std::vector<Qubit> inside;
    const std::uint64_t keep = 1 + rng() % 7;  // sets of every share of the register
    for (Qubit q = 0; q < qubits; ++q) {
      if (rng() % 8 < keep) inside.push_back(q);
    }
    ASSERT_EQ(entanglement_entropy(reg, inside), plain::entanglement_entropy(reg, inside))
        << "trial " << trial;
  }

  Register complete(200);  // K(70, 130) across the cut: rank 1, and no leaf
  std::vector<Qubit> left;
  for (Qubit a = 0; a < 70; ++a) {
    left.push_back(a);
    for (Qubit b = 70; b < 200; ++b) add_edge(complete, a, b);
  }
  EXPECT_EQ(entanglement_entropy(complete, left), 1u);

  Register cycle(400);  // a ring alternating sides: every end of degree 2, rank 200 - 1
  std::vector<Qubit> evens;
  for (Qubit q = 0; q < 400; ++q) {
    add_edge(cycle, q, (q + 1) % 400);
    if (q % 2 == 0) evens.push_back(q);
  }
  EXPECT_EQ(entanglement_entropy(cycle, evens), 199u);
}

TEST(EntanglementEntropy, AnIndexOutOfRangeFailsForTheSmallestOne) {
  const Register reg = cluster(3);
  try {
    entanglement_entropy(reg, std::vector<Qubit>{1, 9, 12});
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(), "index out of bounds: the len is 9 but the index is 9");
  }
}

}  // namespace
}  // namespace ordavine
