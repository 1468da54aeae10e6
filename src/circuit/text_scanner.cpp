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

void TextScanner::finish_line() {
  skip_blanks();
  if (!at_end() && text_[position_] == '#') {
    const void* newline = std::memchr(text_.data() + position_, '\n', text_.size() - position_);
    position_ =
        newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text_.data()) : text_.size();
  }
  if (at_end()) return;
  if (text_[position_] != '\n') error_here("unexpected " + describe_byte(text_[position_]));
  ++position_;
  ++line_;
  line_start_ = position_;
}

std::string_view TextScanner::read_name() {
  const std::size_t begin = position_;
  while (!at_end() && is_name_char(text_[position_])) ++position_;
  return text_.substr(begin, position_ - begin);
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

double TextScanner::read_number() {
  const SourcePosition at = here();
  const char* begin = text_.data() + position_;
  const char* end = text_.data() + text_.size();
  const char* digits = begin;
  if (digits != end && *digits == '+' && digits + 1 != end && *(digits + 1) != '-') ++digits;
  double value = 0;
  const auto [stop, code] = std::from_chars(digits, end, value);
  if (stop == digits || (code != std::errc() && code != std::errc::result_out_of_range)) {
    read_error(at, "expected a number, found " + describe_byte(peek()));
  }
  if (code == std::errc::result_out_of_range) {
    if (magnitude_is_large(digits, stop)) {
      read_error(
          at, "the number " + std::string(begin, std::min<std::size_t>(stop - begin, 40)) + " is too large");
    }
    value = 0.0;
  }
  if (!std::isfinite(value)) read_error(at, "expected a number, found " + describe_byte(peek()));
  position_ += static_cast<std::size_t>(stop - begin);
  return value;
}

void TextScanner::read_arguments(std::vector<Argument>& arguments) {
  arguments.clear();
  const std::size_t after_name = position_;
  skip_blanks();
  if (peek() != '(') {
    position_ = after_name;  // the blanks separate the first target
    return;
  }
  ++position_;
  skip_blanks();
  if (peek() == ')') {
    ++position_;
    return;
  }
  while (true) {
    skip_blanks();
    const SourcePosition at = here();
    const double value = read_number();
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
