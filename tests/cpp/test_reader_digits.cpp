// Plain qubit indices read a word at a time: the word helpers against a
// byte-by-byte reading, and whole lines of indices of every length, in
// every context a target can end in, against the values and the errors the
// text itself implies.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "circuit/digit_word.hpp"
#include "circuit/reader.hpp"
#include "register/failure.hpp"

namespace ordavine::circuit {
namespace {

TEST(DigitWord, LeadingDigitsAndTheirValueMatchReadingByteByByte) {
  std::mt19937_64 rng(11);
  const std::string kBytes = std::string("0123456789 \t\r\n#!,x/:") + '\0' + "\x7f\x80\xb0\xf9\xfa\xff";
  for (int trial = 0; trial < 20000; ++trial) {
    char bytes[8];
    for (char& b : bytes) b = trial % 2 ? kBytes[rng() % kBytes.size()] : static_cast<char>(rng());
    // Mostly digits, so that long runs occur.
    for (char& b : bytes) {
      if (rng() % 3 != 0) b = static_cast<char>('0' + rng() % 10);
    }
    unsigned expected = 0;
    std::uint64_t value = 0;
    while (expected < 8 && bytes[expected] >= '0' && bytes[expected] <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(bytes[expected++] - '0');
    }
    const std::uint64_t word = load_word(bytes);
    ASSERT_EQ(leading_digits(word), expected) << std::string(bytes, 8);
    if (expected > 0) {
      ASSERT_EQ(digits_value(word, expected), value) << std::string(bytes, 8);
    }
  }
  // Every byte value right after each possible run of digits.
  for (unsigned length = 0; length < 8; ++length) {
    for (int byte = 0; byte < 256; ++byte) {
      char bytes[8] = {'9', '9', '9', '9', '9', '9', '9', '9'};
      bytes[length] = static_cast<char>(byte);
      const bool digit = byte >= '0' && byte <= '9';
      EXPECT_EQ(leading_digits(load_word(bytes)), digit ? 8u : length) << byte;
    }
  }
}

// How the reader shows a byte in a message.
std::string shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x21 && byte <= 0x7e) return std::string("'") + c + "'";
  char text[32];
  std::snprintf(text, sizeof text, "byte 0x%02X%s", byte, byte >= 0x80 ? " (non-ASCII)" : "");
  return text;
}

std::string outcome(const std::string& text) {
  // An exactly sized copy, so that reading past the end is a sanitizer error.
  const std::vector<char> exact(text.begin(), text.end());
  try {
    const Program p = read_circuit(std::string_view(exact.data(), exact.size()));
    std::string described = "count ";
    described += std::to_string(p.qubit_count);
    described += " at ";
    described += std::to_string(p.largest_qubit_at.line);
    described += ':';
    described += std::to_string(p.largest_qubit_at.column);
    described += " targets";
    for (const Target t : p.targets) {
      described += ' ';
      described += std::to_string(t);
    }
    return described;
  } catch (const InvalidInput& refused) {
    return refused.what();
  }
}

// One line "M" + targets: random indices of 1 to 14 digits (leading zeros
// included), single spaces mostly, other blanks sometimes, a bad byte after
// the digits now and then, and every ending of a line or of the text.  The
// expected outcome is worked out from the text as it is built.
TEST(ReaderDigits, LinesOfIndicesOfEveryLengthInEveryContext) {
  std::mt19937_64 rng(3);
  const std::vector<std::string> separators{" ", " ", " ", " ", "  ", "\t", " \r ", "\r"};
  const std::vector<std::string> endings{"", "\n", " ", "#c", " # c\n", "\t\n", "\r\n", "\nH 0"};
  const std::string junk = std::string("!,x:/") + '\0' + "\xfa\xff(";
  for (int trial = 0; trial < 3000; ++trial) {
    std::string text = "M";
    std::string expected;
    std::uint64_t count = 0;
    std::size_t largest_column = 0;
    std::string targets;
    const int n = static_cast<int>(rng() % 40) + 1;
    const unsigned length = 1 + static_cast<unsigned>(rng() % 14);  // one length mostly: runs
    for (int i = 0; i < n && expected.empty(); ++i) {
      text += separators[rng() % separators.size()];
      const unsigned digits = rng() % 4 == 0 ? 1 + static_cast<unsigned>(rng() % 14) : length;
      std::string index;
      for (unsigned d = 0; d < digits; ++d) {
        const bool zero = rng() % 4 == 0;
        const char digit = static_cast<char>('0' + rng() % 10);
        index += zero ? '0' : digit;
      }
      const std::size_t column = text.size() + 1;
      text += index;
      const std::uint64_t value = std::stoull(index);
      if (value > kMaxQubitIndex) {
        expected = "line 1, column " + std::to_string(column) + ": qubit index is too large";
      } else if (rng() % 50 == 0) {
        const char bad = junk[rng() % junk.size()];
        expected = "line 1, column " + std::to_string(text.size() + 1) + ": unexpected " + shown(bad) +
                   " in a target";
        text += bad;
      } else {
        targets += ' ';
        targets += std::to_string(value);
        if (value >= count) {
          count = value + 1;
          largest_column = column;
        }
      }
    }
    const std::string ending = endings[rng() % endings.size()];
    text += ending;
    if (expected.empty()) {
      if (ending == "\nH 0") targets += " 0";  // never the largest: line 1 has a target
      expected = "count " + std::to_string(count) + " at 1:" + std::to_string(largest_column) + " targets" + targets;
    }
    ASSERT_EQ(outcome(text), expected) << "text: " << text;
  }
}

// Indices of 1 to 13 digits, the largest index and one above it, after a
// run of short indices or none, at each place a run of digits can end: the
// very end of the text, a newline, a comment, other blanks.
TEST(ReaderDigits, EveryLengthAndTheLargestIndexAtTheEndOfTheText) {
  for (const std::string ending : {"", "\n", "#", "\t", "\r", " "}) {
    for (const auto& [before, zeros] : {std::pair{"", ""}, std::pair{"0 0 0 0 0 0 0 ", " 0 0 0 0 0 0 0"},
                                        std::pair{"00000 0000 ", " 0 0"}}) {
      const std::string head = std::string("H ") + before;
      const std::string at = " at 1:" + std::to_string(head.size() + 1) + " targets" + zeros + " ";
      for (std::string index = "1"; index.size() <= 13; index += "0") {
        EXPECT_EQ(outcome(head + index + ending), "count " + std::to_string(std::stoull(index) + 1) + at + index)
            << index << " then byte " << int(ending.empty() ? -1 : ending[0]);
      }
      EXPECT_EQ(outcome(head + "1099511627775" + ending), "count 1099511627776" + at + "1099511627775");
      EXPECT_EQ(outcome(head + "0000000000000001099511627775" + ending), "count 1099511627776" + at + "1099511627775");
      EXPECT_EQ(outcome(head + "1099511627776" + ending),
                "line 1, column " + std::to_string(head.size() + 1) + ": qubit index is too large");
    }
  }
}

}  // namespace
}  // namespace ordavine::circuit
