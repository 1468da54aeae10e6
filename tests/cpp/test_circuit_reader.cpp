// The circuit reader: what a text compiles to, and how it refuses the rest.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "circuit/reader.hpp"
#include "failure/failure.hpp"
#include "support/clifford_matrices.hpp"

namespace ordavine::circuit {
namespace {

using test_matrices::Complex;
using test_matrices::Mat2;

TEST(CircuitReader, CountsRepeatsNestedBlocksAndLargestQubit) {
  const Program p = read_circuit(
      "# a comment line\n"
      "QUBIT_COORDS(1, 2.5) 3\n"
      "r 0 1   # names in any case\n"
      "REPEAT 3 {\n"
      "  CX 0 1\n"
      "  MR 1\n"
      "  REPEAT 2 {\n"
      "    M !0 7\n"
      "    DETECTOR(0, 1) rec[-1] rec[-2]\n"
      "  }\n"
      "  TICK\n"
      "}\n"
      "MX 0\n"
      "OBSERVABLE_INCLUDE(4) rec[-1]\n"
      "SHIFT_COORDS(0, 0, 1)\n"
      "\r\n"
      "X_ERROR(0) 9\n");
  EXPECT_EQ(p.measurement_count, 3u * (1 + 2 * 2) + 1);
  EXPECT_EQ(p.detector_count, 3u * 2);
  EXPECT_EQ(p.observable_count, 5u);
  EXPECT_EQ(p.qubit_count, 10u);  // X_ERROR(0) draws nothing, but its qubit counts
  EXPECT_EQ(p.largest_qubit_at.line, 17u);
  EXPECT_EQ(p.largest_qubit_at.column, 12u);
  // R, REPEAT, CX, MR, REPEAT, M, DETECTOR, MX, OBSERVABLE_INCLUDE; the
  // zero-probability channel and the annotations leave nothing.
  ASSERT_EQ(p.instructions.size(), 9u);
  EXPECT_EQ(p.instructions[1].code, Opcode::repeat);
  EXPECT_EQ(p.instructions[1].body, 5u);
  EXPECT_EQ(p.instructions[4].body, 2u);
  const Instruction& m = p.instructions[5];
  ASSERT_EQ(m.target_count, 2u);
  EXPECT_EQ(p.targets[m.first_target], kInvertedFlag | 0);
  EXPECT_EQ(p.targets[m.first_target + 1], Target{7});
}

// Stim's unitaries (times 2 or sqrt 2, any phase) for every single-qubit
// Clifford name; the compiled VOP must be the same operator.
TEST(CircuitReader, SingleQubitCliffordsAreTheOperatorsTheFormatDefines) {
  const Complex i{0, 1};
  const std::vector<std::pair<const char*, Mat2>> gates{
      {"C_NXYZ", {{1. + i, 1. - i, -1. - i, 1. - i}}},
      {"C_NZYX", {{1. + i, -1. - i, 1. - i, 1. - i}}},
      {"C_XNYZ", {{1. + i, -1. + i, 1. + i, 1. - i}}},
      {"C_XYNZ", {{1. - i, 1. + i, -1. + i, 1. + i}}},
      {"C_XYZ", {{1. - i, -1. - i, 1. - i, 1. + i}}},
      {"C_ZNYX", {{1. - i, 1. - i, -1. - i, 1. + i}}},
      {"C_ZYNX", {{1. - i, -1. + i, 1. + i, 1. + i}}},
      {"C_ZYX", {{1. + i, 1. + i, -1. + i, 1. - i}}},
      {"H", {{1, 1, 1, -1}}},
      {"H_XZ", {{1, 1, 1, -1}}},
      {"H_NXY", {{0, 1. + i, 1. - i, 0}}},
      {"H_NXZ", {{-1, 1, 1, 1}}},
      {"H_NYZ", {{-1, -i, i, 1}}},
      {"H_XY", {{0, 1. - i, 1. + i, 0}}},
      {"H_YZ", {{1, -i, i, -1}}},
      {"S", {{1, 0, 0, i}}},
      {"SQRT_Z", {{1, 0, 0, i}}},
      {"S_DAG", {{1, 0, 0, -i}}},
      {"SQRT_Z_DAG", {{1, 0, 0, -i}}},
      {"SQRT_X", {{1. + i, 1. - i, 1. - i, 1. + i}}},
      {"SQRT_X_DAG", {{1. - i, 1. + i, 1. + i, 1. - i}}},
      {"SQRT_Y", {{1. + i, -1. - i, 1. + i, 1. + i}}},
      {"SQRT_Y_DAG", {{1. - i, 1. - i, -1. + i, 1. - i}}},
      {"X", {{0, 1, 1, 0}}},
      {"Y", {{0, -i, i, 0}}},
      {"Z", {{1, 0, 0, -1}}},
  };
  for (const auto& [name, matrix] : gates) {
    const Program p = read_circuit(std::string(name) + " 0");
    ASSERT_EQ(p.instructions.size(), 1u) << name;
    ASSERT_EQ(p.instructions[0].code, Opcode::single_qubit) << name;
    EXPECT_EQ(test_matrices::identify(matrix), std::optional<int>(p.instructions[0].vop)) << name;
  }
  EXPECT_TRUE(read_circuit("I 0 1 2").instructions.empty());
}

std::string refusal(const std::string& text) {
  try {
    read_circuit(text);
  } catch (const InvalidInput& invalid) {
    return invalid.what();
  }
  return "accepted";
}

TEST(CircuitReader, RefusesWithLineColumnAndProblem) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"H 0\nT 0", "line 2, column 1: unknown or unsupported instruction 'T'"},
      {"H 0 q1", "line 1, column 5: malformed target starting with 'q'"},
      {"H 0 x1", "line 1, column 5: H takes qubit targets, not Pauli targets such as X0"},
      {"H 0,1", "line 1, column 4: unexpected ',' in a target"},
      {"H 0\nM 0\nCX rec[-2] 1", "line 3, column 4: rec[-2] reaches before the first measurement"},
      {"REPEAT 2 {\n M 0\n DETECTOR rec[-2]\n}", "line 3, column 11: rec[-2] reaches before"},
      {"M 0\nCX 1 rec[-1]", "line 2, column 6: a measurement record can only stand where CX reads Z"},
      {"M 0\nCX rec[-1] rec[-1]", "line 2, column 12: a measurement record can only stand where CX reads Z"},
      {"CX 0 sweep[2]", "line 1, column 6: a sweep bit can only stand where CX reads Z"},
      {"H sweep[2]", "line 1, column 3: H takes no sweep[k] targets"},
      {"CX 0 1 2", "line 1, column 8: CX takes targets in pairs"},
      {"CZ 3 3", "line 1, column 6: CZ acts on qubit 3 twice in one pair"},
      {"X_ERROR(1.5) 0", "line 1, column 9: probability 1.500000 is outside [0, 1]"},
      {"DEPOLARIZE1(-0.1) 0", "line 1, column 13: probability"},
      {"PAULI_CHANNEL_1(0.5, 0.5, 0.5) 0", "add up to more than 1"},
      {"X_ERROR 0", "line 1, column 1: X_ERROR takes 1 argument, found 0"},
      {"X_ERROR(nan) 0", "line 1, column 9: expected a number"},
      {"H(0.1) 0", "H takes 0 arguments"},
      {"R !0", "line 1, column 3: R takes no inverted (!) targets"},
      {"DETECTOR 0", "DETECTOR takes only measurement record targets"},
      {"OBSERVABLE_INCLUDE(0.5)", "observable index must be a non-negative integer"},
      {"REPEAT 0 {\n}", "REPEAT 0 is not allowed"},
      {"REPEAT 2 {\nH 0", "line 1, column 1: REPEAT block is never closed"},
      {"}", "line 1, column 1: '}' without an open REPEAT block"},
      {"REPEAT 2 H 0", "expected '{' after the repeat count"},
      {"REPEAT 99999999999999999999 {\n}", "repeat count is too large"},
      {"H 99999999999",
       "line 1, column 3: qubit index is too large (the largest a register holds is 4294967294)"},
      {"X_ERROR(1e400) 0", "line 1, column 9: the number 1e400 is too large"},
      {std::string("H 0\nH \0 1", 9), "line 2, column 3: malformed target starting with byte 0x00"},
      {"H 0 # caf\xc3\xa9 is fine here\nH \xc3\xa9",
       "line 2, column 3: malformed target starting with byte 0xC3 (non-ASCII)"},
      {"\xef\xbb\xbfH 0", "line 1, column 1: expected an instruction name, found byte 0xEF"},
      {"TICK 0", "TICK takes no targets"},
      {"MPP X0*Z0", "line 1, column 5: this product in MPP is anti-Hermitian"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_NE(refusal(text).find(expected), std::string::npos)
        << "text: " << text << "\nmessage: " << refusal(text);
  }
}

// `name` and then `count` plain targets 0, 1, 2, ... separated by a cycle
// of different blanks, ending in a blank: the text a refused target follows.
std::string long_line(const std::string& name, std::size_t count) {
  const char* const blanks[] = {" ", "\t", "  \t ", "\r "};
  std::string text = name;
  for (std::size_t i = 0; i < count; ++i) text += blanks[i % 4] + std::to_string(i);
  return text + " ";
}

// A refused target late on a long line is named by its own column, whatever
// the blanks before it; the largest qubit is placed where it first stands.
TEST(CircuitReader, ColumnsOfTargetsLateOnLongLines) {
  for (const auto& [name, fault, problem] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"H", "rec[-1]", "H takes qubit targets, not measurement records"},
           {"R", "!3", "R takes no inverted (!) targets"},
           {"M", "12x", "unexpected 'x' in a target"},
           {"M", "4294967295", "qubit index is too large (the largest a register holds is 4294967294)"},
           {"CX", "5 rec[-1]",
            "a measurement record can only stand where CX reads Z (as in CX rec[-1] q or CZ q rec[-1])"},
           {"DEPOLARIZE2(0.1)", "7 7", "DEPOLARIZE2 acts on qubit 7 twice in one pair"},
           {"CZ", "9", "CZ takes targets in pairs; this one has no partner"},
           {"DETECTOR", "rec[-1] 4", "DETECTOR takes only measurement record targets rec[-k]"},
       }) {
    const bool records_first = name == "DETECTOR";
    const std::string head = "M 0\n" + (records_first ? name + " rec[-1]\t" : long_line(name, 1000));
    const std::string text = head + fault + "\n";
    std::size_t column = head.size() - head.rfind('\n');  // where `fault` starts
    if (fault == "12x") column += 2;
    if (fault == "5 rec[-1]" || fault == "7 7") column += 2;
    if (fault == "rec[-1] 4") column += 8;
    EXPECT_EQ(refusal(text), "line 2, column " + std::to_string(column) + ": " + problem) << name;
  }

  // Nine digits take the fast path, ten the general one; both count.
  // Records do not count as qubits, and `!q` stands where its `!` is.
  const std::string first = long_line("CZ", 2) + "999999999 7";
  const Program p = read_circuit(first + "\nM 0\nCX rec[-1] 4294967294 4294967294 3\n" +
                                 "MX 5 !4294967294\nH 4294967294\n");
  EXPECT_EQ(p.qubit_count, 4294967295u);
  EXPECT_EQ(p.largest_qubit_at.line, 3u);
  EXPECT_EQ(p.largest_qubit_at.column, 12u);
  const Program q = read_circuit(first + "\nMY 12 !999999999\nM 5 !999999999 999999999");
  EXPECT_EQ(q.qubit_count, 1000000000u);
  EXPECT_EQ(q.largest_qubit_at.line, 1u);
  EXPECT_EQ(q.largest_qubit_at.column, first.size() - 10);
  EXPECT_EQ(refusal(first + "\nM !999999999\nH 4294967294 1 4294967295"),
            "line 3, column 16: qubit index is too large (the largest a register holds is 4294967294)");
}

TEST(CircuitReader, NestingCapAndRecordSizeAreCheckedBeforeAnythingIsBuilt) {
  std::string deep, closing;
  for (unsigned i = 0; i < kMaxNesting; ++i) deep += "REPEAT 1 {\n";
  for (unsigned i = 0; i < kMaxNesting; ++i) closing += "}\n";
  EXPECT_EQ(read_circuit(deep + "M 0\n" + closing).measurement_count, 1u);
  EXPECT_EQ(refusal(deep + "REPEAT 1 {\nM 0\n}\n" + closing),
            "line " + std::to_string(kMaxNesting + 1) + ", column 1: REPEAT blocks nested deeper than " +
                std::to_string(kMaxNesting));

  // 2^20 * 2^20 measurements reach the cap; one more block of them passes it.
  EXPECT_EQ(read_circuit("REPEAT 1048576 {\nREPEAT 1048576 {\nM 0\n}\n}").measurement_count,
            kMaxRecordEntries);
  try {
    read_circuit("M 0\nREPEAT 1048576 {\n REPEAT 1048576 {\n  M 0\n }\n}");
    ADD_FAILURE() << "a record beyond the cap was accepted";
  } catch (const RecordTooLarge& error) {
    EXPECT_STREQ(error.what(), ("line 2, column 1: the measurement record would hold more than " +
                                std::to_string(kMaxRecordEntries) + " entries")
                                   .c_str());
  }
  EXPECT_THROW(read_circuit("OBSERVABLE_INCLUDE(1099511627776)"), RecordTooLarge);
  EXPECT_THROW(read_circuit("M 0\nREPEAT 4000000000000 {\nDETECTOR rec[-1]\n}"), RecordTooLarge);
}

}  // namespace
}  // namespace ordavine::circuit
