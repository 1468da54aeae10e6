// The checked noise calls: refusals by index and by equal pair, made before
// any draw, and otherwise the very draws and Paulis of the unchecked calls.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "measure/pauli_noise.hpp"
#include "support/word_sources.hpp"

namespace ordavine {
namespace {

using test_words::FixedWord;

std::vector<Vop> vops_of(const Register& reg) {
  std::vector<Vop> vops;
  for (const Node& node : reg.nodes()) vops.push_back(node.vop);
  return vops;
}

std::string failure_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return failure.message();
  }
  return "no failure";
}

TEST(CheckedNoise, RefusesIndicesThenEqualPairsBeforeAnyDraw) {
  Register reg(3);
  const std::vector<Vop> before = vops_of(reg);
  FixedWord word(0);  // fires every channel it is asked about
  const auto index = [](unsigned i) {
    return "index out of bounds: the len is 3 but the index is " + std::to_string(i);
  };
  EXPECT_EQ(failure_of([&] { checked_pauli_error(reg, 3, Axis::y, kAlways, word); }), index(3));
  EXPECT_EQ(failure_of([&] { checked_depolarize1(reg, 5, kAlways, word); }), index(5));
  EXPECT_EQ(failure_of([&] { checked_depolarize2(reg, 4, 7, kAlways, word); }), index(4));
  EXPECT_EQ(failure_of([&] { checked_depolarize2(reg, 0, 9, kAlways, word); }), index(9));
  EXPECT_EQ(failure_of([&] { checked_depolarize2(reg, 9, 9, kAlways, word); }), index(9));
  EXPECT_EQ(failure_of([&] { checked_depolarize2(reg, 2, 2, kAlways, word); }),
            "a and b must be different qubits, both are 2");
  EXPECT_EQ(word.drawn, 0);
  EXPECT_EQ(vops_of(reg), before);
}

TEST(CheckedNoise, AcceptedCallsDrawAndApplyAsTheUncheckedOnes) {
  Register checked(3), unchecked(3);
  FixedWord checked_words(0x9000'0000u), unchecked_words(0x9000'0000u);
  checked_pauli_error(checked, 0, Axis::y, kAlways, checked_words);
  pauli_error(unchecked, 0, Axis::y, kAlways, unchecked_words);
  checked_depolarize1(checked, 1, kAlways, checked_words);
  depolarize1(unchecked, 1, kAlways, unchecked_words);
  checked_depolarize2(checked, 2, 0, kAlways, checked_words);
  depolarize2(unchecked, 2, 0, kAlways, unchecked_words);
  EXPECT_EQ(vops_of(checked), vops_of(unchecked));
  EXPECT_NE(vops_of(checked), vops_of(Register(3)));
  EXPECT_EQ(checked_words.drawn, unchecked_words.drawn);
}

}  // namespace
}  // namespace ordavine
