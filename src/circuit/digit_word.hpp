// Reading up to eight decimal digits at once: eight bytes of text as one
// 64-bit word, the length of the run of digits it starts with, and the
// value of that run, each in a handful of word operations instead of a
// multiply-add and a branch per digit.
//
// The word holds the first byte in its lowest bits on every machine, so
// the arithmetic below never depends on the byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace ordavine::circuit {

// The eight bytes from `p` on; all eight must lie inside the text.  On a
// little-endian machine that is the word in memory; elsewhere (and in
// constant evaluation) it is assembled byte by byte.
constexpr std::uint64_t load_word(const char* p) {
  if constexpr (std::endian::native == std::endian::little) {
    if (!std::is_constant_evaluated()) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      return word;
    }
  }
  std::uint64_t word = 0;
  for (unsigned i = 0; i < 8; ++i) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return word;
}

// The bytes that are not ASCII digits '0'..'9', as a nonzero high nibble
// in each: a byte is a digit when its high nibble is 3 both as it is and
// after adding 6 (which carries 0x3A..0x3F into 0x40..0x45).  An addition
// that overflows a byte (0xFA and above, not a digit) carries only into
// later bytes, so every byte up to and including the first non-digit is
// judged exactly (bytes after it may not be).
constexpr std::uint64_t non_digit_bytes(std::uint64_t word) {
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0;
  constexpr std::uint64_t kThrees = 0x3030303030303030;
  constexpr std::uint64_t kSixes = 0x0606060606060606;
  return ((word & kHigh) ^ kThrees) | (((word + kSixes) & kHigh) ^ kThrees);
}

// How many bytes, from the first, are digits: 0 to 8.
constexpr unsigned leading_digits(std::uint64_t word) {
  return static_cast<unsigned>(std::countr_zero(non_digit_bytes(word))) / 8;  // 64 / 8 when all are
}

// The value of the word's first `count` bytes as a decimal number, for
// 1 <= count <= 8 bytes that are all digits.  The digits are shifted to
// the top of the word, zeros (leading zero digits) fill in below, and then
// neighbouring digits, pairs and quadruples are combined by multiply-shift.
constexpr std::uint64_t digits_value(std::uint64_t word, unsigned count) {
  std::uint64_t digits = (word & 0x0F0F0F0F0F0F0F0F) << (8 * (8 - count));
  digits = (digits * (10 * 256 + 1)) >> 8;
  digits = ((digits & 0x00FF00FF00FF00FF) * (100 * 65536 + 1)) >> 16;
  return ((digits & 0x0000FFFF0000FFFF) * (10000 * (std::uint64_t{1} << 32) + 1)) >> 32;
}

static_assert(load_word("\x01\x02\x03\x04\x05\x06\x07\x08") == 0x0807060504030201);
static_assert(leading_digits(load_word("12345678")) == 8);
static_assert(leading_digits(load_word("1234567 ")) == 7);
static_assert(leading_digits(load_word("0/:90\xff"
                                       "55")) == 1);  // '/' and ':' flank the digits
static_assert(leading_digits(load_word("90\xfa"
                                       "12345")) == 2);
static_assert(leading_digits(load_word(" 1234567")) == 0);
static_assert(digits_value(load_word("12345678"), 8) == 12345678);
static_assert(digits_value(load_word("99999999"), 8) == 99999999);
static_assert(digits_value(load_word("0070xxxx"), 4) == 70);
static_assert(digits_value(load_word("9#######"), 1) == 9);

}  // namespace ordavine::circuit
