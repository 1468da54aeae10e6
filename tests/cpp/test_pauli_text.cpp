// Pauli products as text: both of Stim's forms read into factors and sign,
// every refusal with its column, and the canonical text reading back to the
// same product.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "register/pauli_text.hpp"

namespace ordavine {
namespace {

struct Read {
  bool negative;
  std::vector<std::pair<Qubit, char>> factors;
};

Read read(std::string_view text, std::size_t size) {
  bool negative = true;  // must be overwritten
  std::vector<PauliFactor> factors;
  read_pauli_product(text, size, negative, factors);
  Read out{negative, {}};
  for (const PauliFactor& f : factors)
    out.factors.emplace_back(f.qubit, "XYZ"[static_cast<unsigned>(f.axis)]);
  return out;
}

using Factors = std::vector<std::pair<Qubit, char>>;

TEST(PauliText, ReadsBothFormsWithSignsAndRepeats) {
  struct Case {
    const char* text;
    bool negative;
    Factors factors;
  };
  const Case cases[] = {
      {"X0*y12*Z7", false, {{0, 'X'}, {12, 'Y'}, {7, 'Z'}}},
      {"+Z3", false, {{3, 'Z'}}},
      {"-X0*X1", true, {{0, 'X'}, {1, 'X'}}},
      {"!X0*Z1", true, {{0, 'X'}, {1, 'Z'}}},
      {"-!X0*!Z1", true, {{0, 'X'}, {1, 'Z'}}},
      {"X007", false, {{7, 'X'}}},
      {"", false, {}},
      {"+", false, {}},
      {"-", true, {}},
      // Factors on one qubit multiply, as in the circuit format's products.
      {"X0*X0", false, {}},
      {"Z0*X1*Z0", false, {{1, 'X'}}},
      {"Y2*Y2*Y2", false, {{2, 'Y'}}},
      // The dense form: no digit, '*' or '!'.
      {"+XZ_I", false, {{0, 'X'}, {1, 'Z'}}},
      {"-__Y", true, {{2, 'Y'}}},
      {"Z", false, {{0, 'Z'}}},
      {"____", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Read r = read(c.text, 20);
    EXPECT_EQ(r.negative, c.negative);
    EXPECT_EQ(r.factors, c.factors);
  }
  // Phases +-i are refused: X Z = -iY; X Y = iZ, so X0*Y0*Z1 is i Z0 Z1;
  // X Y Z = i I.
  EXPECT_THROW(read("X0*Z0", 2), InvalidInput);
  EXPECT_THROW(read("X0*Y0*Z1", 2), InvalidInput);
  EXPECT_THROW(read("X1*Y1*Z1", 2), InvalidInput);
  // X Z X Z = (XZ)^2 = (-iY)^2 = -I: the identity with a minus sign.
  const Read minus = read("X0*Z0*X0*Z0", 1);
  EXPECT_TRUE(minus.negative);
  EXPECT_TRUE(minus.factors.empty());
}

TEST(PauliText, RefusesWithColumnAndReason) {
  struct Case {
    const char* text;
    std::size_t size;
    const char* message;
  };
  const Case cases[] = {
      {"Q1", 4, "Pauli product 'Q1', column 1: expected X, Y or Z, found 'Q'"},
      {"X0*", 4, "Pauli product 'X0*', column 4: expected X, Y or Z, found the end of the text"},
      {"X0 ", 4, "Pauli product 'X0 ', column 3: expected '*' or the end of the text, found ' '"},
      {"X0**Z1", 4, "Pauli product 'X0**Z1', column 4: expected X, Y or Z, found '*'"},
      {"X*Z1", 4, "Pauli product 'X*Z1', column 2: expected the qubit index, found '*'"},
      {"--X0", 4, "Pauli product '--X0', column 2: expected X, Y or Z, found '-'"},
      {"X0*-Z1", 4, "Pauli product 'X0*-Z1', column 4: expected X, Y or Z, found '-'"},
      {"X4", 4, "Pauli product 'X4', column 2: qubit 4 is outside the register of 4 qubits"},
      {"Z0*X99999999999999999999", 4,
       "Pauli product 'Z0*X99999999999999999999', column 5: qubit 99999999999999999999 is outside the "
       "register of 4 qubits"},
      {"X0\xff", 4, "Pauli product 'X0\\xff', column 3: expected '*' or the end of the text, found '\\xff'"},
      {"XZQ", 4, "Pauli product 'XZQ', column 3: expected _, I, X, Y or Z, found 'Q'"},
      {"xz", 4, "Pauli product 'xz', column 1: expected _, I, X, Y or Z, found 'x'"},
      {"+XYZ_Z", 4,
       "Pauli product '+XYZ_Z', column 6: a dense product of 5 letters is longer than the register "
       "of 4 qubits"},
      {"X0*Z0", 4,
       "Pauli product 'X0*Z0' is not Hermitian: its factors multiply to +-i times a Pauli product"},
      // A character outside ASCII is one letter, found with all its bytes;
      // columns stay in bytes.  A lone surrogate comes as its three bytes.
      {"X\xef\xbc\xb8", 2,
       "Pauli product 'X\\xef\\xbc\\xb8', column 2: expected _, I, X, Y or Z, found "
       "'\\xef\\xbc\\xb8'"},
      {"X\xef\xbc\xb8Z", 2,
       "Pauli product 'X\\xef\\xbc\\xb8Z', column 5: a dense product of 3 letters is longer "
       "than the register of 2 qubits"},
      {"X0\xed\xa0\x80", 4,
       "Pauli product 'X0\\xed\\xa0\\x80', column 3: expected '*' or the end of the text, "
       "found '\\xed\\xa0\\x80'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      read(c.text, c.size);
      ADD_FAILURE() << "accepted";
    } catch (const InvalidInput& refused) {
      EXPECT_EQ(std::string(refused.what()), c.message);
    }
  }
  // A long text is shown shortened.
  std::string long_text = "X0";
  for (int i = 1; i < 40; ++i) long_text += "*Z" + std::to_string(i);
  long_text += "*Q";
  try {
    read(long_text, 100);
    ADD_FAILURE() << "accepted";
  } catch (const InvalidInput& refused) {
    const std::string message = refused.what();
    EXPECT_EQ(message.rfind("Pauli product '" + long_text.substr(0, 60) + "...', column ", 0), 0u) << message;
  }
}

TEST(PauliText, CanonicalTextReadsBack) {
  std::mt19937 gen(9001);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::size_t n = 1 + gen() % 30;
    std::vector<PauliFactor> written;
    for (std::size_t i = gen() % 12; i-- > 0;) written.push_back({gen() % n, static_cast<Axis>(gen() % 3)});
    bool negative = gen() % 2 == 0;
    std::vector<PauliFactor> reduced;
    if (!reduce_product(written, negative, reduced)) continue;
    const std::string text = product_text(reduced, negative);
    bool back_negative = !negative;
    std::vector<PauliFactor> back;
    read_pauli_product(text, n, back_negative, back);
    ASSERT_EQ(back_negative, negative) << text;
    ASSERT_EQ(back.size(), reduced.size()) << text;
    for (std::size_t i = 0; i < back.size(); ++i) {
      ASSERT_EQ(back[i].qubit, reduced[i].qubit) << text;
      ASSERT_EQ(back[i].axis, reduced[i].axis) << text;
    }
  }
  EXPECT_EQ(product_text({}, false), "");
  EXPECT_EQ(product_text({}, true), "-");
}

}  // namespace
}  // namespace ordavine
