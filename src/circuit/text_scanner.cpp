#include "circuit/text_scanner.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "failure/failure.hpp"

namespace ordavine::circuit::reading {
namespace {

// For a number out of a double's range, whether it lies above it rather
// than below: the decimal exponent of its leading digit plus the written
// exponent is positive.  (The range ends near 1e308 and 1e-324, far from
// 1 on both sides.)
bool magnitude_is_large(const char* p, const char* end) {
  if (p != end && (*p == '-' || *p == '+')) ++p;
  long long leading = 0;
  long long integer_digits = 0;  // from the first nonzero one
  for (; p != end && is_digit(*p); ++p) {
    if (integer_digits > 0 || *p != '0') ++integer_digits;
  }
  if (integer_digits > 0) {
    leading = integer_digits - 1;
  } else if (p != end && *p == '.') {
    ++p;
    for (; p != end && is_digit(*p); ++p) {
      --leading;
      if (*p != '0') break;
    }
  }
  while (p != end && (is_digit(*p) || *p == '.')) ++p;
  long long exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    for (; p != end && is_digit(*p) && exponent < 1'000'000'000; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative) exponent = -exponent;
  }
  return leading + exponent > 0;
}

// A number of the format's parens arguments, from `begin` (at `at` in the
// text): decimal, with an optional sign and exponent.  A value too small
// for a double is 0; one too large is refused.  `stop` is left after it.
double read_number(const char* begin, const char* end, SourcePosition at, const char*& stop) {
  const char shown = begin != end ? *begin : '\n';  // what a message shows as found
  const char* digits = begin;
  if (digits != end && *digits == '+' && digits + 1 != end && *(digits + 1) != '-') ++digits;
  double value = 0;
  const auto [after, code] = std::from_chars(digits, end, value);
  if (after == digits || (code != std::errc() && code != std::errc::result_out_of_range)) {
    read_error(at, "expected a number, found " + describe_byte(shown));
  }
  if (code == std::errc::result_out_of_range) {
    if (magnitude_is_large(digits, after)) {
      read_error(
          at, "the number " + std::string(begin, std::min<std::size_t>(after - begin, 40)) + " is too large");
    }
    value = 0.0;
  }
  if (!std::isfinite(value)) read_error(at, "expected a number, found " + describe_byte(shown));
  stop = after;
  return value;
}

}  // namespace

std::string describe_byte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x21 && byte <= 0x7e) return std::string("'") + c + "'";
  char text[32];
  std::snprintf(text, sizeof text, "byte 0x%02X%s", byte, byte >= 0x80 ? " (non-ASCII)" : "");
  return text;
}

std::string shown_name(std::string_view name) {
  constexpr std::size_t kShown = 40;
  if (name.size() <= kShown) return std::string(name);
  return std::string(name.substr(0, kShown)) + "...";
}

void read_error(SourcePosition at, const std::string& problem) {
  throw InvalidInput("line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + ": " +
                     problem);
}

void record_too_large(SourcePosition at, const char* what) {
  throw RecordTooLarge("line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                       ": the " + what + " would hold more than " + std::to_string(kMaxRecordEntries) +
                       " entries");
}

void TextScanner::skip_comment() {
  const void* newline = std::memchr(text_.data() + position_, '\n', text_.size() - position_);
  position_ =
      newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text_.data()) : text_.size();
}

void TextScanner::skip_tag() {
  const SourcePosition open = here();
  ++position_;
  while (true) {
    if (at_end() || text_[position_] == '\n') read_error(open, "the tag opened here is never closed by ']'");
    const char c = text_[position_];
    if (c == ']') {
      ++position_;
      return;
    }
    if (c == '\\') {
      const char escaped = position_ + 1 < text_.size() ? text_[position_ + 1] : '\n';
      if (escaped != 'n' && escaped != 'r' && escaped != 'B' && escaped != 'C') {
        error_here("unknown escape in a tag: a backslash is followed by \\n, \\r, \\B or \\C, found " +
                   describe_byte(escaped));
      }
      ++position_;
    }
    ++position_;
  }
}

void TextScanner::read_parenthesised(std::vector<Argument>& arguments) {
  ++position_;
  skip_blanks();
  if (peek() == ')') {
    ++position_;
    return;
  }
  while (true) {
    skip_blanks();
    const SourcePosition at = here();
    const char* stop;
    const double value = read_number(text_.data() + position_, text_.data() + text_.size(), at, stop);
    position_ = static_cast<std::size_t>(stop - text_.data());
    arguments.push_back({value, at});
    skip_blanks();
    if (peek() == ',') {
      ++position_;
      continue;
    }
    if (peek() == ')') {
      ++position_;
      return;
    }
    error_here("expected ',' or ')', found " + describe_byte(peek()));
  }
}

}  // namespace ordavine::circuit::reading
