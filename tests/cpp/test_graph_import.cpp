// Registers built straight from a graph: the same lists as the gates that
// make the graph state, the VOPs as given, and every refusal of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "register/graph_import.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"

namespace ordavine {
namespace {

using NoVops = std::optional<std::span<const std::uint8_t>>;

// A random simple graph's edges, each in a random orientation, in random order.
std::vector<std::int64_t> random_edges(std::size_t n, std::size_t m, std::mt19937& gen) {
  std::set<std::pair<std::int64_t, std::int64_t>> seen;
  std::vector<std::int64_t> ends;
  while (seen.size() < m) {
    std::int64_t a = gen() % n, b = gen() % n;
    if (a == b || !seen.insert({std::min(a, b), std::max(a, b)}).second) continue;
    ends.push_back(a);
    ends.push_back(b);
  }
  return ends;
}

std::string refusal(const std::function<void()>& build) {
  try {
    build();
  } catch (const InvalidInput& refused) {
    return refused.what();
  }
  return "accepted";
}

TEST(GraphImport, ListsFollowTheEdgeOrderAndHoldTheGraphState) {
  std::mt19937 gen(515);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t n = 2 + gen() % (trial % 2 == 0 ? 9 : 60);
    const std::size_t m = std::min<std::size_t>(gen() % (3 * n), n * (n - 1) / 2);
    const std::vector<std::int64_t> ends = random_edges(n, m, gen);
    const Register built = graph_register<std::int64_t>(n, ends, NoVops{});
    std::vector<std::vector<Qubit>> lists(n);
    for (std::size_t i = 0; i < ends.size(); i += 2) {
      lists[static_cast<Qubit>(ends[i])].push_back(static_cast<Qubit>(ends[i + 1]));
      lists[static_cast<Qubit>(ends[i + 1])].push_back(static_cast<Qubit>(ends[i]));
    }
    for (Qubit q = 0; q < n; ++q) {
      ASSERT_EQ(built[q].vop, vop::identity);
      ASSERT_EQ(built[q].neighbors, lists[q]) << "trial " << trial << " qubit " << q;
    }
    if (n > 10) continue;
    // The plain graph state by gates: H everywhere, then CZ per edge.
    Register gates(n);
    for (Qubit q = 0; q < n; ++q) h(gates, q);
    for (std::size_t i = 0; i < ends.size(); i += 2)
      cz(gates, static_cast<Qubit>(ends[i]), static_cast<Qubit>(ends[i + 1]));
    ASSERT_TRUE(oracle::same_up_to_phase(oracle::state_of(built), oracle::state_of(gates)))
        << "trial " << trial;
  }
}

TEST(GraphImport, TakesTheGivenVopsAndEveryIndexType) {
  const std::vector<std::uint8_t> vops{3, 23, 0, 10};
  const auto check = [&](const Register& reg) {
    ASSERT_EQ(reg.size(), 4u);
    for (Qubit q = 0; q < 4; ++q) EXPECT_EQ(reg[q].vop, vops[q]);
    EXPECT_EQ(reg[0].neighbors, (std::vector<Qubit>{1, 3}));
    EXPECT_EQ(reg[1].neighbors, (std::vector<Qubit>{0}));
    EXPECT_EQ(reg[3].neighbors, (std::vector<Qubit>{0}));
    EXPECT_TRUE(reg[2].neighbors.empty());
  };
  const std::span<const std::uint8_t> given(vops);
  check(graph_register<std::int8_t>(4, std::vector<std::int8_t>{0, 1, 3, 0}, given));
  check(graph_register<std::uint8_t>(4, std::vector<std::uint8_t>{0, 1, 3, 0}, given));
  check(graph_register<std::int16_t>(4, std::vector<std::int16_t>{0, 1, 3, 0}, given));
  check(graph_register<std::uint16_t>(4, std::vector<std::uint16_t>{0, 1, 3, 0}, given));
  check(graph_register<std::int32_t>(4, std::vector<std::int32_t>{0, 1, 3, 0}, given));
  check(graph_register<std::uint32_t>(4, std::vector<std::uint32_t>{0, 1, 3, 0}, given));
  check(graph_register<std::int64_t>(4, std::vector<std::int64_t>{0, 1, 3, 0}, given));
  check(graph_register<std::uint64_t>(4, std::vector<std::uint64_t>{0, 1, 3, 0}, given));
  EXPECT_EQ(graph_register<std::int64_t>(0, {}, NoVops{}).size(), 0u);
  // A hub of high degree: its list moves to the heap in edge order.
  std::vector<std::uint32_t> star;
  for (std::uint32_t leaf = 200; leaf-- > 1;) star.insert(star.end(), {leaf, 0});
  const Register hub = graph_register<std::uint32_t>(200, star, NoVops{});
  ASSERT_EQ(hub[0].neighbors.size(), 199u);
  EXPECT_EQ(hub[0].neighbors[0], 199u);
  EXPECT_EQ(hub[0].neighbors[198], 1u);
}

TEST(GraphImport, RefusesBadInputNamingIt) {
  const std::vector<std::uint8_t> three{0, 0, 0};
  const auto build = [](std::size_t n, std::vector<std::int64_t> ends, std::vector<std::uint8_t> vops,
                        bool with_vops) {
    return [n, ends, vops, with_vops] {
      graph_register<std::int64_t>(n, ends,
                                   with_vops ? NoVops(std::span<const std::uint8_t>(vops)) : NoVops{});
    };
  };
  EXPECT_EQ(refusal(build(3, {0, 1, 2, 2}, {}, false)), "invalid graph: edge 1 is (2, 2), a self loop");
  EXPECT_EQ(refusal(build(3, {0, 1, 1, 2, 1, 0}, {}, false)),
            "invalid graph: edge 2 is (1, 0), which repeats edge 0 (0, 1)");
  EXPECT_EQ(refusal(build(4, {0, 1, 2, 3, 3, 2}, {}, false)),
            "invalid graph: edge 2 is (3, 2), which repeats edge 1 (2, 3)");
  EXPECT_EQ(refusal(build(3, {0, 1, 1, 3}, {}, false)),
            "invalid graph: edge 1 is (1, 3), but qubits are numbered 0 to 2");
  EXPECT_EQ(refusal(build(3, {-1, 1}, {}, false)),
            "invalid graph: edge 0 is (-1, 1), but qubits are numbered 0 to 2");
  EXPECT_EQ(refusal(build(0, {0, 1}, {}, false)), "invalid graph: edge 0 is (0, 1), but there are no qubits");
  EXPECT_EQ(refusal(build(3, {}, {0, 0}, true)), "invalid graph: vops has 2 bytes for 3 nodes");
  EXPECT_EQ(refusal(build(3, {}, {0, 24, 0}, true)), "invalid graph: VOP 24 of qubit 1 is not below 24");
  // The first fault in edge order is the one named.
  EXPECT_EQ(refusal(build(3, {0, 0, 0, 5}, {}, false)), "invalid graph: edge 0 is (0, 0), a self loop");
  // A list that would outgrow every other qubit: the repeat is found at once.
  std::vector<std::int64_t> full;
  for (std::int64_t leaf = 1; leaf < 5; ++leaf) full.insert(full.end(), {0, leaf});
  full.insert(full.end(), {4, 0});
  EXPECT_EQ(refusal(build(5, full, {}, false)),
            "invalid graph: edge 4 is (4, 0), which repeats edge 3 (0, 4)");
  // The largest unsigned values, shown as they are.
  EXPECT_EQ(refusal([] {
              graph_register<std::uint64_t>(3, std::vector<std::uint64_t>{0, UINT64_MAX}, NoVops{});
            }),
            "invalid graph: edge 0 is (0, 18446744073709551615), but qubits are numbered 0 to 2");
  EXPECT_THROW(graph_register<std::int64_t>(kMaxQubits + 1, {}, NoVops{}), Failure);
}

TEST(GraphImport, RefusesBadEdgesBeforeAllocatingTheRegister) {
  // The largest register needs 128 GiB of nodes: these come back refused,
  // not as a failed allocation.
  const auto build = [](std::vector<std::int64_t> ends) {
    return [ends] { graph_register<std::int64_t>(kMaxQubits, ends, NoVops{}); };
  };
  EXPECT_EQ(refusal(build({0, 1, 5, 5})), "invalid graph: edge 1 is (5, 5), a self loop");
  EXPECT_EQ(refusal(build({0, static_cast<std::int64_t>(kMaxQubits)})),
            "invalid graph: edge 0 is (0, 4294967295), but qubits are numbered 0 to 4294967294");
  EXPECT_EQ(refusal(build({0, 1, 2, 3, 1, 0})),
            "invalid graph: edge 2 is (1, 0), which repeats edge 0 (0, 1)");
  // Small registers, where a list fills up before a later bad edge: the
  // refusal is the one of the building pass, in edge order.
  const auto small = [](std::size_t n, std::vector<std::int64_t> ends) {
    return [n, ends] { graph_register<std::int64_t>(n, ends, NoVops{}); };
  };
  EXPECT_EQ(refusal(small(3, {0, 1, 0, 2, 0, 1, 2, 2})),
            "invalid graph: edge 2 is (0, 1), which repeats edge 0 (0, 1)");
  EXPECT_EQ(refusal(small(3, {0, 1, 0, 1, 2, 2})), "invalid graph: edge 2 is (2, 2), a self loop");
  EXPECT_EQ(refusal(small(2, {0, 1, 0, 1, 0, 7})),
            "invalid graph: edge 1 is (0, 1), which repeats edge 0 (0, 1)");
}

TEST(GraphImport, ReadsEndsThroughStridesInEitherByteOrder) {
  // Pairs (0, 1), (1, 2), (3, 0) as big-endian 16-bit ends, each pair
  // followed by a junk word, read with the ends of a pair swapped back:
  // rows of 6 bytes, the second end first.
  const std::vector<unsigned char> memory{0, 1,    0,    0, 0xff, 0xff, 0, 2,    0,
                                          1, 0xff, 0xff, 0, 0,    0,    3, 0xff, 0xff};
  const StridedEnds<std::uint16_t> ends(memory.data() + 2, 6, 6, -2,
                                        std::endian::native == std::endian::little);
  const Register reg = graph_register<std::uint16_t>(4, ends, NoVops{});
  EXPECT_EQ(reg[0].neighbors, (std::vector<Qubit>{1, 3}));
  EXPECT_EQ(reg[1].neighbors, (std::vector<Qubit>{0, 2}));
  EXPECT_EQ(reg[3].neighbors, (std::vector<Qubit>{0}));
  // One pair read over and over (a zero stride between pairs): refused at
  // edge 1 however many edges the layout claims, or at edge 0 when that
  // one is bad already.
  const std::vector<std::int64_t> pair{2, 0};
  const auto claimed = [&](std::size_t n, std::ptrdiff_t end_stride) {
    return [n, end_stride, &pair] {
      const StridedEnds<std::int64_t> alike(reinterpret_cast<const unsigned char*>(pair.data()),
                                            std::size_t{1} << 40, 0, end_stride, false);
      graph_register<std::int64_t>(n, alike, NoVops{});
    };
  };
  EXPECT_EQ(refusal(claimed(1000000, 8)), "invalid graph: edge 1 is (2, 0), which repeats edge 0 (2, 0)");
  EXPECT_EQ(refusal(claimed(1000000, 0)), "invalid graph: edge 0 is (2, 2), a self loop");
  EXPECT_EQ(refusal(claimed(2, 8)), "invalid graph: edge 0 is (2, 0), but qubits are numbered 0 to 1");
}

}  // namespace
}  // namespace ordavine
