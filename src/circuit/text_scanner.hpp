// The circuit reader's cursor over the text: characters, blanks, comments
// and line ends, decimal integers and numbers, instruction names, tags and
// the parens arguments, with the source position of every place, and the
// wording of refusals as "line L, column C: <problem>" (columns count
// bytes from 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "circuit/program.hpp"

namespace ordavine::circuit::reading {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_digit(c) || c == '_';
}
constexpr char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// How a byte is shown in a message: printable ASCII as itself, anything
// else (NUL, control characters, bytes of non-ASCII text) by its code.
std::string describe_byte(char c);

// A name as shown in a message: long ones are cut.
std::string shown_name(std::string_view name);

// Refuses the text (InvalidInput) at `at`.
[[noreturn]] void read_error(SourcePosition at, const std::string& problem);

// Refuses a count whose record could not be held (RecordTooLarge), at `at`:
// "the <what> would hold more than ... entries".
[[noreturn]] void record_too_large(SourcePosition at, const char* what);

// One parens argument and where it stands.
struct Argument {
  double value;
  SourcePosition at;
};

class TextScanner {
 public:
  explicit TextScanner(std::string_view text) : text_(text) {}

  std::string_view text() const { return text_; }
  // Where the cursor stands, as a byte offset into the text.
  std::size_t offset() const { return position_; }
  // Moves the cursor within the current line (never across a newline).
  void move_to(std::size_t offset) { position_ = offset; }
  void advance(std::size_t bytes = 1) { position_ += bytes; }

  SourcePosition here() const { return position_of(position_); }
  // The position of an offset on the current line.
  SourcePosition position_of(std::size_t offset) const { return {line_, offset - line_start_ + 1}; }
  [[noreturn]] void error_here(const std::string& problem) const { read_error(here(), problem); }

  bool at_end() const { return position_ >= text_.size(); }
  char peek() const { return at_end() ? '\n' : text_[position_]; }
  // The end of a line's content: its newline, a comment, or the end of text.
  bool at_line_end() const { return at_end() || text_[position_] == '\n' || text_[position_] == '#'; }

  void skip_blanks() {
    while (!at_end() && is_blank(text_[position_])) ++position_;
  }

  // Whether the text goes on with `word` here; if so the cursor moves past it.
  bool skip_word(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) return false;
    position_ += word.size();
    return true;
  }

  // Skips a comment, if any, and the newline; anything else is refused.
  void finish_line() {
    skip_blanks();
    if (!at_end() && text_[position_] == '#') skip_comment();
    if (at_end()) return;
    if (text_[position_] != '\n') error_here("unexpected " + describe_byte(text_[position_]));
    ++position_;
    ++line_;
    line_start_ = position_;
  }

  // Non-negative decimal integer, at most `limit`; `beyond` is added to the
  // message of a larger one.
  std::uint64_t read_integer(std::uint64_t limit, const char* what, const std::string& beyond = "") {
    const SourcePosition start = here();
    if (!is_digit(peek())) error_here("expected " + std::string(what) + ", found " + describe_byte(peek()));
    // Below limit / 10 another digit cannot pass the limit; only near it
    // does the exact check run.
    const std::uint64_t safe = limit / 10;
    std::uint64_t value = 0;
    while (!at_end() && is_digit(text_[position_])) {
      const std::uint64_t digit = static_cast<std::uint64_t>(text_[position_] - '0');
      if (value >= safe && value > (limit - digit) / 10)
        read_error(start, std::string(what) + " is too large" + beyond);
      value = value * 10 + digit;
      ++position_;
    }
    return value;
  }

  // The run of name characters from the cursor (an instruction name).
  std::string_view read_name() {
    const std::size_t begin = position_;
    while (!at_end() && is_name_char(text_[position_])) ++position_;
    return text_.substr(begin, position_ - begin);
  }

  // A tag right after the name, NAME[text]: accepted and ignored.  It runs
  // to the first ']' on the line and may hold anything but a newline;
  // a backslash must start one of the escapes \n, \r, \B (backslash) or
  // \C (']').
  void skip_tag();

  // The parens arguments after a name, if any, into `arguments` (cleared
  // first).  Without them the cursor stays right after the name, since the
  // blanks there separate the first target.
  void read_arguments(std::vector<Argument>& arguments) {
    arguments.clear();
    const std::size_t after_name = position_;
    skip_blanks();
    if (peek() != '(') {
      position_ = after_name;  // the blanks separate the first target
      return;
    }
    read_parenthesised(arguments);
  }

 private:
  // Moves to the newline that ends the comment here (or to the end of text).
  void skip_comment();
  // From the '(': the numbers separated by ',' up to the ')'.
  void read_parenthesised(std::vector<Argument>& arguments);

  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t line_start_ = 0;
  std::uint64_t line_ = 1;
};

}  // namespace ordavine::circuit::reading
