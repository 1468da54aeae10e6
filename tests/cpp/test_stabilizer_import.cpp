// Stabilizer generators to a graph state with local Cliffords, against the
// dense oracle: the register built from a state's generators -- as the
// register writes them, or mixed by row operations into another generating
// set -- holds that state; bad generating sets are refused by name.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "register/export.hpp"
#include "register/single_qubit.hpp"
#include "register/stabilizer_import.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"

namespace ordavine {
namespace {

using oracle::Amplitude;
using oracle::DenseState;

Register random_state(std::size_t n, std::mt19937& gen) {
  using TwoQubitGate = void (*)(Register&, Qubit, Qubit);
  static constexpr TwoQubitGate two_qubit[] = {cz, cx, cy, xcx, xcy, xcz, ycx, ycy, ycz};
  Register reg(n);
  const int steps = static_cast<int>(gen() % (8 * n + 1));
  for (int i = 0; i < steps; ++i) {
    if (n >= 2 && gen() % 2 == 0) {
      const Qubit a = gen() % n;
      const Qubit b = (a + 1 + gen() % (n - 1)) % n;
      two_qubit[gen() % std::size(two_qubit)](reg, a, b);
    } else {
      apply_single_qubit_gate(reg, gen() % n, static_cast<Vop>(gen() % 24));
    }
  }
  return reg;
}

std::vector<std::string> texts_of(const Register& reg) {
  std::vector<std::string> texts;
  for (Qubit a = 0; a < reg.size(); ++a) {
    std::string text(reg.size() + 1, '_');
    write_stabilizer_text(reg, a, text);
    texts.push_back(text);
  }
  return texts;
}

Register from_texts(const std::vector<std::string>& texts) {
  std::vector<std::string_view> views(texts.begin(), texts.end());
  return register_from_stabilizers(views);
}

// The product of two Pauli strings in text form (commuting, so Hermitian),
// computed from the single-qubit products written out here.
std::string times(const std::string& a, const std::string& b) {
  // letter index 0 = I, 1 = X, 2 = Y, 3 = Z; product letter and power of i.
  static constexpr int kLetter[4][4] = {{0, 1, 2, 3}, {1, 0, 3, 2}, {2, 3, 0, 1}, {3, 2, 1, 0}};
  static constexpr int kPower[4][4] = {{0, 0, 0, 0}, {0, 0, 1, 3}, {0, 3, 0, 1}, {0, 1, 3, 0}};
  const auto code = [](char c) { return std::string("_XYZ").find(c); };
  int power = (a[0] == '-' ? 2 : 0) + (b[0] == '-' ? 2 : 0);
  std::string out(a.size(), '_');
  for (std::size_t i = 1; i < a.size(); ++i) {
    const auto x = code(a[i]), y = code(b[i]);
    out[i] = "_XYZ"[kLetter[x][y]];
    power += kPower[x][y];
  }
  EXPECT_EQ(power % 2, 0) << a << " * " << b;
  out[0] = power % 4 == 2 ? '-' : '+';
  return out;
}

// P|psi> for a Pauli string in text form, sign included.
DenseState applied(const DenseState& psi, const std::string& text) {
  DenseState out = psi;
  for (std::size_t q = 0; q + 1 < text.size(); ++q) {
    const char c = text[q + 1];
    if (c == 'X' || c == 'Y' || c == 'Z') out.apply(q, oracle::gates::pauli(static_cast<Axis>(c - 'X')));
  }
  if (text[0] == '-') {
    for (auto& a : out.amplitudes()) a = -a;
  }
  return out;
}

bool fixes(const DenseState& psi, const std::string& text) {
  const DenseState image = applied(psi, text);
  for (std::size_t i = 0; i < psi.amplitudes().size(); ++i) {
    if (std::abs(image.amplitudes()[i] - psi.amplitudes()[i]) > 1e-9) return false;
  }
  return true;
}

TEST(StabilizerImport, RebuildsTheStateOfEveryGeneratingSet) {
  std::mt19937 gen(20240611);
  int mixed_sets = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    const std::size_t n = 1 + trial % 8;
    const Register reg = random_state(n, gen);
    std::vector<std::string> texts = texts_of(reg);
    // Another generating set of the same group: random row operations, a
    // random order, and the identity letter written as I now and then.
    if (trial % 2 == 1) {
      for (int op = 0; op < 3 * static_cast<int>(n); ++op) {
        const std::size_t i = gen() % n, j = gen() % n;
        if (i != j) texts[i] = times(texts[i], texts[j]);
      }
      std::shuffle(texts.begin(), texts.end(), gen);
      for (std::string& text : texts) {
        for (char& c : text) {
          if (c == '_' && gen() % 3 == 0) c = 'I';
        }
      }
      ++mixed_sets;
    }
    SCOPED_TRACE("trial " + std::to_string(trial));
    const Register back = from_texts(texts);
    ASSERT_EQ(back.size(), n);
    const DenseState psi = oracle::state_of(reg);
    ASSERT_TRUE(oracle::same_up_to_phase(oracle::state_of(back), psi));
    for (const std::string& text : texts) ASSERT_TRUE(fixes(oracle::state_of(back), text)) << text;
    // Lists ascending and symmetric.
    for (Qubit q = 0; q < n; ++q) {
      const auto& list = back[q].neighbors;
      ASSERT_TRUE(std::is_sorted(list.begin(), list.end()));
      for (const Qubit b : list) ASSERT_TRUE(has_edge(back, b, q));
    }
  }
  EXPECT_GT(mixed_sets, 500);
  EXPECT_EQ(from_texts({}).size(), 0u);
}

TEST(StabilizerImport, RefusesBadGeneratingSetsByName) {
  const auto refusal = [](std::vector<std::string> texts) -> std::string {
    try {
      from_texts(texts);
    } catch (const InvalidInput& refused) {
      return refused.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refusal({"+X", "+ZZ"}),
            "invalid stabilizers: generator 0 has 1 qubits, but 2 generators are given (one per qubit)");
  EXPECT_EQ(refusal({"+XQ", "+ZZ"}),
            "invalid stabilizers: generator 0, character 3: 'Q' is not one of _, I, X, Y, Z");
  EXPECT_EQ(refusal({"XX", "zz"}),
            "invalid stabilizers: generator 1, character 1: 'z' is not one of _, I, X, Y, Z");
  EXPECT_EQ(refusal({"+iXX", "+ZZ"}),
            "invalid stabilizers: generator 0 has an imaginary sign, so it is not Hermitian");
  EXPECT_EQ(refusal({"+X_", "+Z_"}), "invalid stabilizers: generators 0 and 1 anticommute");
  EXPECT_EQ(refusal({"+XX_", "+ZZ_", "+_YZ"}), "invalid stabilizers: generators 0 and 2 anticommute");
  EXPECT_EQ(refusal({"+Z_", "-Z_"}),
            "invalid stabilizers: generators are not independent: generator 1 is, up to sign, a product of "
            "generators before it");
  EXPECT_EQ(refusal({"+XX_", "+ZZ_", "-YY_"}),
            "invalid stabilizers: generators are not independent: generator 2 is, up to sign, a product of "
            "generators before it");
  EXPECT_EQ(refusal({"+Z_", "+__"}), "invalid stabilizers: generator 1 is the identity (up to sign)");
  EXPECT_EQ(refusal({"+\x01"}),
            "invalid stabilizers: generator 0, character 2: byte 0x01 is not one of _, I, X, Y, Z");
  // Lengths and positions count characters; one outside ASCII is named.
  EXPECT_EQ(
      refusal({"\xef\xbc\xb8"}),
      "invalid stabilizers: generator 0, character 1: '\xef\xbc\xb8' (U+FF38) is not one of _, I, X, Y, Z");
  EXPECT_EQ(refusal({"Z\xc3\xa9", "XX"}),
            "invalid stabilizers: generator 0, character 2: '\xc3\xa9' (U+00E9) is not one of _, I, X, Y, Z");
  EXPECT_EQ(
      refusal({"-\xed\xa0\x80"}),
      "invalid stabilizers: generator 0, character 2: U+D800 (a lone surrogate) is not one of _, I, X, Y, Z");
  EXPECT_EQ(refusal({"+\xff"}),
            "invalid stabilizers: generator 0, character 2: byte 0xff is not one of _, I, X, Y, Z");
  // Every generator is checked before rows for all of them are allocated:
  // 2^22 one-letter generators would need 4 TiB of rows.
  EXPECT_EQ(
      refusal(std::vector<std::string>(std::size_t{1} << 22, "X")),
      "invalid stabilizers: generator 0 has 1 qubits, but 4194304 generators are given (one per qubit)");
  // Accepted: signs optional, I for the identity.
  EXPECT_EQ(refusal({"XZ", "ZX"}), "accepted");
  EXPECT_EQ(refusal({"-ZI", "IY"}), "accepted");
}

}  // namespace
}  // namespace ordavine
