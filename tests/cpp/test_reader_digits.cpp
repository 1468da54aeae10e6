// Plain qubit indices read a word at a time, against what the text itself
// implies: the word helpers against byte-by-byte reading, and random lines
// of indices of every length, padding and ending against their values,
// their largest index and the errors with their columns.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "circuit/digit_word.hpp"
#include "circuit/reader.hpp"
#include "failure/failure.hpp"

namespace ordavine::circuit {
namespace {

TEST(ReaderDigits, WordHelpersAgreeWithReadingByteByByte) {
  std::mt19937_64 rng(11);
  for (int trial = 0; trial < 20000; ++trial) {
    char bytes[8];
    for (char& b : bytes) b = rng() % 3 ? static_cast<char>('0' + rng() % 10) : static_cast<char>(rng());
    if (trial < 8 * 256) {  // every byte after every run of digits
      for (int i = 0; i < trial / 256; ++i) bytes[i] = static_cast<char>('1' + i);
      bytes[trial / 256] = static_cast<char>(trial % 256);
    }
    unsigned digits = 0;
    std::uint64_t value = 0;
    while (digits < 8 && bytes[digits] >= '0' && bytes[digits] <= '9')
      value = value * 10 + (bytes[digits++] - '0');
    const std::uint64_t word = load_word(bytes);
    ASSERT_EQ(leading_digits(word), digits) << std::string(bytes, 8);
    if (digits > 0) {
      ASSERT_EQ(digits_value(word, digits), value) << std::string(bytes, 8);
    }
  }
}

std::string shown(char c) {  // as the reader shows a byte
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x21 && byte <= 0x7e) return std::string("'") + c + "'";
  char text[32];
  std::snprintf(text, sizeof text, "byte 0x%02X%s", byte, byte >= 0x80 ? " (non-ASCII)" : "");
  return text;
}

// "M" and 1 to 40 targets of 1 to 14 digits (one length mostly, so that
// runs form; zeros anywhere; the largest index or one above it now and
// then), single spaces mostly, a bad byte after the digits now and then,
// then every ending of a line or of the text.  The text is passed in an
// exactly sized buffer, so that reading past its end is a sanitizer error.
TEST(ReaderDigits, LinesOfIndicesOfEveryLengthInEveryContext) {
  std::mt19937_64 rng(3);
  const std::vector<std::string> blanks{" ", " ", " ", " ", "  ", "\t", " \r ", "\r"};
  const std::vector<std::string> endings{"", "\n", " ", "#c", " # c\n", "\t\n", "\r\n", "\nH 0"};
  const std::string junk = std::string("!,x:/(") + '\0' + "\xfa\xff";
  for (int trial = 0; trial < 3000; ++trial) {
    std::string text = "M", expected, targets;
    std::uint64_t count = 0;
    std::size_t largest_at = 0;
    const auto length = 1 + rng() % 12;
    for (auto n = 1 + rng() % 40; n > 0 && expected.empty(); --n) {
      text += blanks[rng() % blanks.size()];
      std::string index;
      for (auto d = rng() % 4 ? length : 1 + rng() % 12; d > 0; --d)
        index += rng() % 4 ? char('0' + rng() % 10) : '0';
      if (rng() % 60 == 0) index = rng() % 2 ? "4294967294" : "4294967295";
      const std::size_t column = text.size() + 1;
      text += index;
      const std::uint64_t value = std::stoull(index);
      if (value > kMaxQubitIndex) {
        expected = "line 1, column " + std::to_string(column) +
                   ": qubit index is too large (the largest a register holds is 4294967294)";
      } else if (rng() % 50 == 0) {
        text += junk[rng() % junk.size()];
        expected = "line 1, column " + std::to_string(text.size()) + ": unexpected " + shown(text.back()) +
                   " in a target";
      } else {
        targets += ' ' + std::to_string(value);
        if (value >= count) {
          count = value + 1;
          largest_at = column;
        }
      }
    }
    const std::string ending = endings[rng() % endings.size()];
    text += ending;
    if (expected.empty()) {
      if (ending == "\nH 0") targets += " 0";  // line 1 holds a target, so never the largest
      expected = std::to_string(count) + " at 1:" + std::to_string(largest_at) + targets;
    }
    const std::vector<char> exact(text.begin(), text.end());
    std::string outcome;
    try {
      const Program p = read_circuit(std::string_view(exact.data(), exact.size()));
      outcome = std::to_string(p.qubit_count) + " at " + std::to_string(p.largest_qubit_at.line) + ":" +
                std::to_string(p.largest_qubit_at.column);
      for (const Target t : p.targets) outcome += ' ' + std::to_string(t);
    } catch (const InvalidInput& refused) {
      outcome = refused.what();
    }
    ASSERT_EQ(outcome, expected) << "text: " << text;
  }
}

}  // namespace
}  // namespace ordavine::circuit
