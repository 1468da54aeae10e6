// The saved form: exact round trips, the documented layout, and a named
// refusal for every kind of damage.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "register/register.hpp"
#include "register/serialise.hpp"

namespace ordavine {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes save(const Register& reg) {
  Bytes out(saved_size(reg));
  save_register(reg, out);
  return out;
}

// A register with random VOPs and edges made in a random order, so that
// list order differs from index order.
Register random_register(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Register reg(n);
  for (Qubit q = 0; q < n; ++q) reg[q].vop = static_cast<Vop>(gen() % 24);
  for (std::size_t k = 0; n > 1 && k < 3 * n; ++k) {
    const Qubit a = gen() % n, b = gen() % n;
    if (a != b) toggle_edge(reg, a, b);
  }
  return reg;
}

void expect_same(const Register& a, const Register& b) {
  ASSERT_EQ(a.size(), b.size());
  for (Qubit q = 0; q < a.size(); ++q) {
    EXPECT_EQ(a[q].vop, b[q].vop) << "qubit " << q;
    EXPECT_EQ(a[q].neighbors, b[q].neighbors) << "qubit " << q;
  }
}

std::string refusal(const Bytes& data) {
  try {
    load_register(data);
  } catch (const InvalidInput& invalid) {
    return invalid.what();
  }
  return "accepted";
}

TEST(SavedState, RoundTripKeepsListOrderAndVopsExactly) {
  for (const std::size_t n : {0u, 1u, 2u, 7u, 64u, 300u}) {
    const Register reg = random_register(n, static_cast<unsigned>(n));
    const Bytes data = save(reg);
    expect_same(load_register(data), reg);
    EXPECT_EQ(save(load_register(data)), data);
  }
}

// Layout for 3 qubits, VOPs 0, 5, 23, edges 0-1 and 0-2 with 0's list [2, 1].
Bytes small_saved() {
  Bytes out{'O', 'R', 'D', 'V', 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 5, 23};
  for (const std::uint32_t field : {2u, 2u, 1u, 1u, 0u, 1u, 0u}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(field >> (8 * i)));
  }
  return out;
}

TEST(SavedState, DocumentedLayout) {
  Register reg(3);
  reg[0].vop = 0;
  reg[1].vop = 5;
  reg[2].vop = 23;
  add_edge(reg, 0, 2);
  add_edge(reg, 0, 1);
  EXPECT_EQ(save(reg), small_saved());
}

// Field k (from 0) of the lists of small_saved() set to `value`.
Bytes with_field(std::size_t k, std::uint32_t value) {
  Bytes out = small_saved();
  for (int i = 0; i < 4; ++i) out[16 + 4 * k + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return out;
}

TEST(SavedState, EachKindOfDamageIsNamed) {
  const std::string p = "invalid saved state: ";
  Bytes data = small_saved();
  EXPECT_EQ(refusal(Bytes(data.begin(), data.begin() + 12)), p + "truncated header (12 bytes)");
  data[0] = 'X';
  EXPECT_EQ(refusal(data), p + "bad magic, not a saved Ordavine register");
  data = small_saved();
  data[4] = 2;
  EXPECT_EQ(refusal(data), p + "unsupported version 2");
  data = small_saved();
  data[15] = 24;
  EXPECT_EQ(refusal(data), p + "VOP 24 of qubit 2 is not below 24");
  data = small_saved();
  data.pop_back();
  EXPECT_EQ(refusal(data), p + "truncated in the neighbours of qubit 2 (degree 1)");
  data.resize(data.size() - 7);
  EXPECT_EQ(refusal(data), p + "truncated in the neighbours of qubit 1 (degree 1)");
  data = small_saved();
  data.push_back(0);
  EXPECT_EQ(refusal(data), p + "trailing bytes after the last neighbour list");
  EXPECT_EQ(refusal(with_field(1, 3)), p + "neighbour 3 of qubit 0 is not below the size 3");
  EXPECT_EQ(refusal(with_field(1, 0)), p + "qubit 0 lists itself as a neighbour");
  EXPECT_EQ(refusal(with_field(1, 1)), p + "qubit 0 lists neighbour 1 twice");
  EXPECT_EQ(refusal(with_field(0, 9)), p + "truncated in the neighbours of qubit 0 (degree 9)");
  // Qubit 2 names 1 instead of 0: 1-2 is one-sided, and so is 0-2.
  EXPECT_EQ(refusal(with_field(6, 1)), p + "edge 2-1 is listed by qubit 2 but not by qubit 1");
  // Qubit 1 names 2 instead of 0: 0-1 is one-sided.
  EXPECT_EQ(refusal(with_field(4, 2)), p + "edge 0-1 is listed by qubit 0 but not by qubit 1");
}

// A header claiming more qubits than the bytes could describe is refused
// before any memory is set aside for them, however large the claim.
TEST(SavedState, ImpossibleSizesAreRefusedBeforeAllocating) {
  for (const std::uint64_t n : {std::uint64_t{4}, std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
    Bytes data{'O', 'R', 'D', 'V', 1};
    for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    data.resize(data.size() + 15, 0);
    EXPECT_EQ(refusal(data).rfind("invalid saved state: truncated: ", 0), 0u) << n;
  }
}

}  // namespace
}  // namespace ordavine
