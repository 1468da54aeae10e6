#include <gtest/gtest.h>

#include <vector>

#include "register/register.hpp"
#include "register/single_qubit.hpp"

namespace ordavine {
namespace {

using List = std::vector<Qubit>;

TEST(Register, NewQubitsAreIsolatedWithHadamardVop) {
  Register reg(5);
  ASSERT_EQ(reg.size(), 5u);
  for (const Node& node : reg.nodes()) {
    EXPECT_TRUE(node.neighbors.empty());
    EXPECT_EQ(node.vop, 10);
  }
  EXPECT_EQ(Register(0).size(), 0u);
}

TEST(Register, CopyIsDeepAndKeepsOrder) {
  Register reg(3);
  add_edge(reg, 0, 2);
  add_edge(reg, 0, 1);
  Register copy = reg;
  toggle_edge(copy, 0, 2);
  EXPECT_EQ(reg[0].neighbors, (List{2, 1}));
  EXPECT_EQ(copy[0].neighbors, (List{1}));
}

TEST(Register, UnaddressableCountFailsWithCapacityOverflow) {
  // 2^32 is the first count whose indices a 32-bit list entry cannot hold.
  for (const std::size_t count : {kMaxQubits + 1, std::size_t{1} << 40, std::size_t{1} << 62}) {
    try {
      Register reg(count);
      FAIL() << "expected a failure for " << count;
    } catch (const Failure& f) {
      EXPECT_EQ(f.message(), "capacity overflow");
    }
  }
}

TEST(Register, CheckedAccessReportsLengthAndIndex) {
  Register reg(3);
  try {
    x(reg, 3);
    FAIL() << "expected a failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 3 but the index is 3");
  }
  for (const Node& node : reg.nodes()) EXPECT_EQ(node.vop, 10);
}

TEST(GraphPrimitives, AddEdgeAppendsOnlyWhenAbsent) {
  Register reg(3);
  add_edge(reg, 0, 1);
  add_edge(reg, 2, 0);
  add_edge(reg, 1, 0);
  EXPECT_EQ(reg[0].neighbors, (List{1, 2}));
  EXPECT_EQ(reg[1].neighbors, (List{0}));
  EXPECT_EQ(reg[2].neighbors, (List{0}));
  EXPECT_TRUE(has_edge(reg, 2, 0));
  EXPECT_FALSE(has_edge(reg, 1, 2));
}

TEST(GraphPrimitives, RemoveEdgeKeepsTheOrderOfTheRest) {
  Register reg(5);
  for (Qubit q : {1, 2, 3, 4}) add_edge(reg, 0, q);
  remove_edge(reg, 0, 2);
  EXPECT_EQ(reg[0].neighbors, (List{1, 3, 4}));
  EXPECT_TRUE(reg[2].neighbors.empty());
  remove_edge(reg, 0, 2);  // absent: nothing changes
  EXPECT_EQ(reg[0].neighbors, (List{1, 3, 4}));
}

TEST(GraphPrimitives, ToggleMovesAPresentEdgeAwayAndAppendsAnAbsentOne) {
  Register reg(4);
  add_edge(reg, 0, 1);
  add_edge(reg, 0, 2);
  add_edge(reg, 1, 3);
  const Register before = reg;
  toggle_edge(reg, 0, 3);  // absent: appended to both lists
  EXPECT_EQ(reg[0].neighbors, (List{1, 2, 3}));
  EXPECT_EQ(reg[3].neighbors, (List{1, 0}));
  toggle_edge(reg, 0, 3);  // and removed again: the lists are as before
  for (Qubit q = 0; q < 4; ++q) EXPECT_EQ(reg[q].neighbors, before[q].neighbors);
  toggle_edge(reg, 1, 0);  // present: gone from both, the rest in order
  EXPECT_EQ(reg[0].neighbors, (List{2}));
  EXPECT_EQ(reg[1].neighbors, (List{3}));
}

TEST(SingleQubitGates, UpdateOnlyTheVopByLeftMultiplication) {
  Register reg(2);
  add_edge(reg, 0, 1);
  h(reg, 0);
  EXPECT_EQ(reg[0].vop, 0);
  s(reg, 0);
  s(reg, 0);
  EXPECT_EQ(reg[0].vop, 3);
  sdag(reg, 0);
  s(reg, 0);
  EXPECT_EQ(reg[0].vop, 3);
  for (auto gate : {x, y, z}) {
    const Vop before = reg[1].vop;
    gate(reg, 1);
    EXPECT_NE(reg[1].vop, before);
    gate(reg, 1);
    EXPECT_EQ(reg[1].vop, before);
  }
  EXPECT_EQ(reg[0].neighbors, (List{1}));
}

}  // namespace
}  // namespace ordavine
