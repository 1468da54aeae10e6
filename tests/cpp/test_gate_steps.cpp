// The instruction records' gate actions on the register, against the
// format's definitions as dense matrices, and the state vector export.
#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

#include "circuit/instructions.hpp"
#include "register/gate_steps.hpp"
#include "register/state_vector.hpp"
#include "support/dense_state.hpp"
#include "support/gate_matrices.hpp"
#include "support/random_gates.hpp"

namespace ordavine {
namespace {

using circuit::InstructionRecord;
using circuit::Kind;

Register random_register(std::size_t n, std::mt19937& gen, int gates) {
  Register reg(n);
  for (int i = 0; i < gates && n > 0; ++i) test_gates::random_gate(reg, gen, test_gates::any_vop);
  return reg;
}

TEST(GateSteps, EveryTwoQubitRecordActsAsItsMatrixWithSigns) {
  std::mt19937 gen(7);
  for (const InstructionRecord& record : circuit::kInstructions) {
    if (record.kind != Kind::two_qubit) continue;
    for (int trial = 0; trial < 20; ++trial) {
      Register reg = random_register(4, gen, 12);
      const Qubit a = gen() % 4, b = (a + 1 + gen() % 3) % 4;
      oracle::DenseState expected = oracle::state_of(reg);
      expected.apply(a, b, oracle::gate_matrix(record.gate));
      apply_gate_steps(reg, record.steps, a, b);
      ASSERT_TRUE(oracle::same_up_to_phase(oracle::state_of(reg), expected))
          << record.name << " on (" << a << ", " << b << ")";
    }
  }
}

TEST(GateSteps, BadOperandsAreRefusedBeforeAnythingChanges) {
  std::mt19937 gen(3);
  const circuit::NamedInstruction iswap = *circuit::find_instruction("ISWAP");
  Register reg = random_register(3, gen, 10);
  const Register before = reg;
  EXPECT_THROW(apply_gate_steps(reg, iswap.record->steps, 1, 3), Failure);
  EXPECT_THROW(apply_gate_steps(reg, iswap.record->steps, 2, 2), Failure);
  for (Qubit q = 0; q < 3; ++q) {
    EXPECT_EQ(reg[q].vop, before[q].vop);
    EXPECT_TRUE(std::equal(reg[q].neighbors.begin(), reg[q].neighbors.end(), before[q].neighbors.begin(),
                           before[q].neighbors.end()));
  }
}

TEST(StateVector, IsTheDenseStateWithItsFirstAmplitudeRealPositiveAndExact) {
  std::mt19937 gen(11);
  for (std::size_t n = 0; n <= 7; ++n) {
    for (int trial = 0; trial < 25; ++trial) {
      const Register reg = random_register(n, gen, static_cast<int>(4 * n + 3));
      std::vector<std::complex<float>> out(std::size_t{1} << n);
      write_state_vector(reg, out);
      const oracle::DenseState dense = oracle::state_of(reg);
      oracle::DenseState ours(n);
      for (std::size_t i = 0; i < out.size(); ++i) ours.amplitudes()[i] = out[i];
      ASSERT_NEAR(ours.norm_squared(), 1.0, 1e-6);
      ASSERT_TRUE(oracle::same_up_to_phase(ours, dense, 1e-6)) << n << " qubits, trial " << trial;
      std::size_t first = 0;
      while (out[first] == std::complex<float>(0, 0)) ++first;
      EXPECT_GT(out[first].real(), 0.0f);
      EXPECT_EQ(out[first].imag(), 0.0f);
      for (const auto a : out) {
        // 0, or one magnitude times a power of i, written without rounding.
        EXPECT_TRUE(a == std::complex<float>(0, 0) || a.real() == 0.0f || a.imag() == 0.0f);
        if (a != std::complex<float>(0, 0)) {
          EXPECT_EQ(std::abs(a.real()) + std::abs(a.imag()), out[first].real());
        }
      }
    }
  }
}

}  // namespace
}  // namespace ordavine
