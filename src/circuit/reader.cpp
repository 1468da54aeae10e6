#include "circuit/reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "circuit/digit_word.hpp"
#include "circuit/instructions.hpp"
#include "failure/failure.hpp"
#include "register/pauli_product.hpp"

namespace ordavine::circuit {
namespace {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_digit(c) || c == '_';
}
// A plain index of at most this many digits is below kMaxQubitIndex, so the
// reader's fast path takes it without the overflow check.
constexpr std::ptrdiff_t kSafeDigits = 9;
static_assert(kSafeDigits >= 8);
static_assert(999'999'999 <= kMaxQubitIndex);

constexpr bool is_pauli_letter(char c) {
  return c == 'X' || c == 'Y' || c == 'Z' || c == 'x' || c == 'y' || c == 'z';
}
constexpr Axis axis_of_letter(char c) {
  return (c == 'X' || c == 'x') ? Axis::x : (c == 'Y' || c == 'y') ? Axis::y : Axis::z;
}
constexpr char letter_of(Axis axis) { return "XYZ"[static_cast<unsigned>(axis)]; }

// Words that stand only in a line's targets as read, never in a program:
// sweep[k] (k in the low bits) and the combiner '*' of Pauli products.
// Both sit above every index, inside the value bits.
constexpr Target kSweepMark = Target{1} << 59;
constexpr Target kCombinerMark = Target{1} << 58;
static_assert(kSweepMark <= kValueMask && kCombinerMark > kMaxQubitIndex);

// Disjoint probabilities may add up to a little more than 1, as rounded
// decimal text does; beyond this they are refused.
constexpr double kSumTolerance = 1e-7;

constexpr char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// How a byte is shown in a message: printable ASCII as itself, anything
// else (NUL, control characters, bytes of non-ASCII text) by its code.
std::string describe_byte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x21 && byte <= 0x7e) return std::string("'") + c + "'";
  char text[32];
  std::snprintf(text, sizeof text, "byte 0x%02X%s", byte, byte >= 0x80 ? " (non-ASCII)" : "");
  return text;
}

// A name as shown in a message: long ones are cut.
std::string shown_name(std::string_view name) {
  constexpr std::size_t kShown = 40;
  if (name.size() <= kShown) return std::string(name);
  return std::string(name.substr(0, kShown)) + "...";
}

struct Argument {
  double value;
  SourcePosition at;
};

// An open REPEAT block, with the running counts at its start.
struct Frame {
  std::size_t instruction;
  std::uint64_t count;
  std::uint64_t measurements;
  std::uint64_t detectors;
  std::uint64_t work;
  SourcePosition at;
};

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Program read() {
    while (position_ < text_.size()) read_line();
    if (!frames_.empty()) error(frames_.back().at, "REPEAT block is never closed");
    program_.measurement_count = measurements_;
    program_.detector_count = detectors_;
    program_.observable_count = observables_;
    program_.work = work_;
    return std::move(program_);
  }

 private:
  // ---- positions and errors ----------------------------------------------

  SourcePosition here() const { return {line_, position_ - line_start_ + 1}; }

  [[noreturn]] static void error(SourcePosition at, const std::string& problem) {
    throw InvalidInput("line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + ": " +
                       problem);
  }
  [[noreturn]] void error_here(const std::string& problem) const { error(here(), problem); }

  [[noreturn]] static void too_large(SourcePosition at, const char* what) {
    throw RecordTooLarge("line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                         ": the " + what + " would hold more than " + std::to_string(kMaxRecordEntries) +
                         " entries");
  }

  // ---- characters ------------------------------------------------------------

  bool at_end() const { return position_ >= text_.size(); }
  char peek() const { return at_end() ? '\n' : text_[position_]; }
  // The end of a line's content: its newline, a comment, or the end of text.
  bool at_line_end() const { return at_end() || text_[position_] == '\n' || text_[position_] == '#'; }

  void skip_blanks() {
    while (!at_end() && is_blank(text_[position_])) ++position_;
  }

  // Skips a comment, if any, and the newline; anything else is refused.
  void finish_line() {
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
        error(start, std::string(what) + " is too large" + beyond);
      value = value * 10 + digit;
      ++position_;
    }
    return value;
  }

  // ---- one line ----------------------------------------------------------------

  void read_line() {
    skip_blanks();
    if (at_line_end()) return finish_line();
    const SourcePosition start = here();
    if (peek() == '}') {
      ++position_;
      close_block(start);
      return finish_line();
    }
    if (!is_name_char(peek()) || is_digit(peek())) {
      error_here("expected an instruction name, found " + describe_byte(peek()));
    }
    const std::size_t name_begin = position_;
    while (!at_end() && is_name_char(text_[position_])) ++position_;
    const std::string_view name = text_.substr(name_begin, position_ - name_begin);
    std::optional<NamedInstruction> entry;
    constexpr std::size_t kLongestName = 24;
    if (name.size() <= kLongestName) {
      char upper[kLongestName];
      for (std::size_t i = 0; i < name.size(); ++i) upper[i] = to_upper(name[i]);
      entry = find_instruction(std::string_view(upper, name.size()));
    }
    if (!entry) error(start, "unknown or unsupported instruction '" + shown_name(name) + "'");
    if (peek() == '[') skip_tag();
    if (entry->record->kind == Kind::repeat) {
      open_block(start);
      return finish_line();
    }
    read_arguments();
    read_targets();
    emitted_ = false;
    compile(*entry, start);
    if (!emitted_) drop_line_targets();
    finish_line();
  }

  // A tag right after the name, NAME[text]: accepted and ignored.  It runs
  // to the first ']' on the line and may hold anything but a newline;
  // a backslash must start one of the escapes \n, \r, \B (backslash) or
  // \C (']').
  void skip_tag() {
    const SourcePosition open = here();
    ++position_;
    while (true) {
      if (at_end() || text_[position_] == '\n') error(open, "the tag opened here is never closed by ']'");
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

  // A number of the format's parens arguments: decimal, with an optional
  // sign and exponent.  A value too small for a double is 0; one too large
  // is refused.
  double read_number() {
    const SourcePosition at = here();
    const char* begin = text_.data() + position_;
    const char* end = text_.data() + text_.size();
    const char* digits = begin;
    if (digits != end && *digits == '+' && digits + 1 != end && *(digits + 1) != '-') ++digits;
    double value = 0;
    const auto [stop, code] = std::from_chars(digits, end, value);
    if (stop == digits || (code != std::errc() && code != std::errc::result_out_of_range)) {
      error(at, "expected a number, found " + describe_byte(peek()));
    }
    if (code == std::errc::result_out_of_range) {
      if (magnitude_is_large(digits, stop)) {
        error(at,
              "the number " + std::string(begin, std::min<std::size_t>(stop - begin, 40)) + " is too large");
      }
      value = 0.0;
    }
    if (!std::isfinite(value)) error(at, "expected a number, found " + describe_byte(peek()));
    position_ += static_cast<std::size_t>(stop - begin);
    return value;
  }

  // For a number out of a double's range, whether it lies above it rather
  // than below: the decimal exponent of its leading digit plus the written
  // exponent is positive.  (The range ends near 1e308 and 1e-324, far from
  // 1 on both sides.)
  static bool magnitude_is_large(const char* p, const char* end) {
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

  void read_arguments() {
    arguments_.clear();
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
      arguments_.push_back({value, at});
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

  // Targets go straight into the program's shared array; a line whose
  // instruction emits nothing gives its targets back (drop_line_targets).
  // No position is stored per target: the checks find a target's column by
  // scanning the line again (target_at), which only a refused line needs.
  // What the checks need of every target is gathered while reading: the
  // flags seen, and the largest qubit index with where it first stands.
  void read_targets() {
    line_first_target_ = program_.targets.size();
    line_targets_text_ = position_;
    line_flags_ = 0;
    const char* const data = text_.data();
    const char* const end = data + text_.size();
    const char* p = data + position_;
    reserve_for_line(p, end);
    LineLargest largest{0, data};
    while (true) {
      // Runs of plain indices of one length, a word at a time.
      if (const char* const after = read_runs(p, end, largest); after != p) {
        p = after;
        continue;
      }
      const char* const before = p;
      while (p != end && is_blank(*p)) ++p;
      if (p == end || *p == '\n' || *p == '#') break;
      // Any other plain qubit index of at most kSafeDigits digits, after
      // blanks and before a blank or the line's end.  Anything else is read
      // again from `before` by the general code, which also words the
      // errors.
      if (p != before && is_digit(*p)) {
        const char* const token = p;
        const std::uint64_t value = read_plain_index(p, end);
        if (p == end || is_blank(*p) || *p == '\n' || *p == '#') {
          program_.targets.push_back(value);
          largest.note(value, token);
          continue;
        }
      }
      position_ = static_cast<std::size_t>(before - data);
      read_general_target(largest);
      p = data + position_;
    }
    line_qubit_count_ = largest.count;
    line_largest_offset_ = static_cast<std::size_t>(largest.at - data);
    position_ = static_cast<std::size_t>(p - data);
  }

  // One more than the line's largest qubit index, and where that index
  // first stands.  A local of read_targets, not members, so that the
  // compiler keeps it in registers across the stores into the target
  // array; the update is written as selections, which compilers may make
  // branch-free (the index may grow, alternate, or wander at random).
  struct LineLargest {
    std::uint64_t count;
    const char* at;
    void note(std::uint64_t qubit, const char* token) {
      const bool larger = qubit >= count;
      count = larger ? qubit + 1 : count;
      at = larger ? token : at;
    }
  };

  // The bulk of a long line of qubit indices: from `p` at a blank, targets
  // that are each a single ' ', one to kRunDigits digits, and the ' ' that
  // begins the next target, taken in runs of targets with the same number
  // of digits.  Within a run one word holds a whole target and its
  // terminator, and the position moves by a constant, so the steps do not
  // wait on each other; a new run starts where the length changes.
  // Returns where reading stopped, at a blank (`p` itself when no such
  // target stands there).
  static constexpr std::ptrdiff_t kRunDigits = 7;
  const char* read_runs(const char* p, const char* end, LineLargest& largest) {
    while (end - p > 8 && *p == ' ') {
      const std::uint64_t word = load_word(p + 1);
      const unsigned digits = leading_digits(word);
      if (digits == 0 || digits > kRunDigits || static_cast<char>(word >> (8 * digits)) != ' ') break;
      const char* const after = read_run_of(digits, p, end, largest);
      if (after == p) break;  // the run always takes the target checked here; never loop on it
      p = after;
    }
    return p;
  }

  const char* read_run_of(unsigned digits, const char* p, const char* end, LineLargest& largest) {
    switch (digits) {
      case 1: return read_run<1>(p, end, largest);
      case 2: return read_run<2>(p, end, largest);
      case 3: return read_run<3>(p, end, largest);
      case 4: return read_run<4>(p, end, largest);
      case 5: return read_run<5>(p, end, largest);
      case 6: return read_run<6>(p, end, largest);
      default: return read_run<7>(p, end, largest);
    }
  }

  // One run of kDigits-digit targets.
  template <unsigned kDigits>
  const char* read_run(const char* p, const char* end, LineLargest& largest) {
    static_assert(kDigits >= 1 && kDigits <= kRunDigits && kRunDigits < 8);
    constexpr std::uint64_t kDigitBytes = (std::uint64_t{1} << (8 * kDigits)) - 1;
    constexpr std::uint64_t kTerminator = std::uint64_t{0xFF} << (8 * kDigits);
    constexpr std::uint64_t kBlank = std::uint64_t{' '} << (8 * kDigits);
    while (end - p > 8 && *p == ' ') {
      const std::uint64_t word = load_word(p + 1);
      if (((non_digit_bytes(word) & kDigitBytes) | ((word & kTerminator) ^ kBlank)) != 0) break;
      const std::uint64_t value = digits_value(word, kDigits);
      program_.targets.push_back(value);
      largest.note(value, p + 1);
      p += kDigits + 1;
    }
    return p;
  }

  // The digits from `p` (at least one) as a number, up to kSafeDigits of
  // them; `p` is left after the last digit taken.  Eight bytes at a time
  // while eight remain in the text, byte by byte near its end.
  static std::uint64_t read_plain_index(const char*& p, const char* end) {
    std::uint64_t value;
    const char* digits_end;
    if (end - p >= 8) {
      const std::uint64_t word = load_word(p);
      const unsigned digits = leading_digits(word);
      value = digits_value(word, digits);
      p += digits;
      if (digits < 8) return value;
      digits_end = end - p > kSafeDigits - 8 ? p + (kSafeDigits - 8) : end;
    } else {
      value = static_cast<std::uint64_t>(*p++ - '0');
      digits_end = end - p > kSafeDigits - 1 ? p + (kSafeDigits - 1) : end;
    }
    while (p != digits_end && is_digit(*p)) value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
    return value;
  }

  // Room for every target the rest of the line could hold (one per two
  // bytes, up to kReservedTargets), so a long line is read without the
  // array moving; the array still grows geometrically, so many short lines
  // cost no more than pushing.  Pages reserved but not written are never
  // touched.
  void reserve_for_line(const char* from, const char* end) {
    constexpr std::size_t kReservedTargets = std::size_t{1} << 24;
    const void* newline = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
    const auto length = static_cast<std::size_t>((newline ? static_cast<const char*>(newline) : end) - from);
    auto& targets = program_.targets;
    const std::size_t wanted = targets.size() + std::min(length / 2 + 1, kReservedTargets);
    if (wanted > targets.capacity()) targets.reserve(std::max(wanted, 2 * targets.capacity()));
  }

  // A qubit index, refused with the largest index allowed when above it.
  std::uint64_t read_qubit_index() {
    return read_integer(kMaxQubitIndex, "qubit index",
                        " (the largest a register holds is " + std::to_string(kMaxQubitIndex) + ")");
  }

  // One target of any form, from position_ (at the blanks before it): a
  // qubit index, !index, a Pauli target (X5, !Y2, lower case too), rec[-k],
  // sweep[k], or the combiner '*', which needs no blank on either side.
  void read_general_target(LineLargest& largest) {
    const std::size_t before = position_;
    skip_blanks();
    if (peek() == '*') {
      ++position_;
      program_.targets.push_back(kCombinerMark);
      line_flags_ |= kCombinerMark;
      return;
    }
    const bool after_combiner = line_target_count() > 0 && program_.targets.back() == kCombinerMark;
    if (position_ == before && !after_combiner) {
      error_here("expected a blank before the target, found " + describe_byte(peek()));
    }
    const SourcePosition at = here();
    const std::size_t token = position_;
    Target inverted = 0;
    if (peek() == '!') {
      ++position_;
      inverted = kInvertedFlag;
    }
    Target value;
    if (is_digit(peek())) {
      value = read_qubit_index();
    } else if (is_pauli_letter(peek())) {
      const Axis axis = axis_of_letter(peek());
      ++position_;
      if (!is_digit(peek())) {
        error_here(std::string("expected a qubit index right after the Pauli ") + letter_of(axis) +
                   ", found " + (at_line_end() ? std::string("the end of the line") : describe_byte(peek())));
      }
      value = pauli_target(read_qubit_index(), axis);
    } else if (inverted == 0 && text_.substr(position_, 5) == "rec[-") {
      position_ += 5;
      const std::uint64_t back = read_integer(kValueMask, "record look-back");
      if (peek() != ']') error_here("expected ']', found " + describe_byte(peek()));
      ++position_;
      if (back == 0) error(at, "rec[-0] is not a record entry; look-backs start at rec[-1]");
      value = back | kRecordFlag;
    } else if (inverted == 0 && text_.substr(position_, 6) == "sweep[") {
      position_ += 6;
      value = read_integer(kMaxQubitIndex, "sweep bit index") | kSweepMark;
      if (peek() != ']') error_here("expected ']', found " + describe_byte(peek()));
      ++position_;
    } else if (inverted != 0) {
      error_here("expected a qubit index or a Pauli target after '!', found " + describe_byte(peek()));
    } else {
      error(at, "malformed target starting with " + describe_byte(peek()));
    }
    if (!at_line_end() && !is_blank(peek()) && !(is_pauli(value) && peek() == '*')) {
      error_here("unexpected " + describe_byte(peek()) + " in a target");
    }
    value |= inverted;
    program_.targets.push_back(value);
    line_flags_ |= (value & ~kValueMask) | (value & kSweepMark);
    if (!is_record(value) && (value & kSweepMark) == 0) largest.note(value_of(value), text_.data() + token);
  }

  // The current line's targets, as read.
  std::span<const Target> line_targets() const {
    return std::span<const Target>(program_.targets).subspan(line_first_target_);
  }
  std::size_t line_target_count() const { return program_.targets.size() - line_first_target_; }
  void drop_line_targets() { program_.targets.resize(line_first_target_); }

  // Where the current line's target number `index` starts.  The line has
  // been read, so its targets are runs of non-blanks between blanks, a
  // combiner '*' being a target of its own wherever it stands.
  SourcePosition target_at(std::size_t index) const {
    std::size_t at = line_targets_text_;
    const auto ends_token = [&](std::size_t i) {
      return i >= text_.size() || is_blank(text_[i]) || text_[i] == '\n' || text_[i] == '#' ||
             text_[i] == '*';
    };
    for (std::size_t seen = 0;; ++seen) {
      while (at < text_.size() && is_blank(text_[at])) ++at;
      if (seen == index) break;
      if (at < text_.size() && text_[at] == '*') {
        ++at;
      } else {
        while (!ends_token(at)) ++at;
      }
    }
    return position_of(at);
  }

  SourcePosition position_of(std::size_t offset) const { return {line_, offset - line_start_ + 1}; }

  // ---- blocks ------------------------------------------------------------------

  void open_block(SourcePosition start) {
    skip_blanks();
    if (frames_.size() >= kMaxNesting) {
      error(start, "REPEAT blocks nested deeper than " + std::to_string(kMaxNesting));
    }
    const std::uint64_t count = read_integer(std::numeric_limits<std::int64_t>::max(), "repeat count");
    if (count == 0) error(start, "REPEAT 0 is not allowed: a block runs at least once");
    skip_blanks();
    if (peek() != '{') error_here("expected '{' after the repeat count, found " + describe_byte(peek()));
    ++position_;
    frames_.push_back({program_.instructions.size(), count, measurements_, detectors_, work_, start});
    program_.instructions.push_back({.code = Opcode::repeat, .repetitions = count});
  }

  void close_block(SourcePosition at) {
    if (frames_.empty()) error(at, "'}' without an open REPEAT block");
    const Frame frame = frames_.back();
    frames_.pop_back();
    const std::uint64_t body = program_.instructions.size() - frame.instruction - 1;
    if (body == 0) {  // nothing to run: drop the block
      program_.instructions.pop_back();
      return;
    }
    program_.instructions[frame.instruction].body = body;
    measurements_ = repeated(frame.measurements, measurements_, frame.count, frame.at, "measurement record");
    detectors_ = repeated(frame.detectors, detectors_, frame.count, frame.at, "detector record");
    if (detectors_ + observables_ > kMaxRecordEntries) too_large(frame.at, "detector record");
    work_ = saturating_add(frame.work, saturating_mul(work_ - frame.work, frame.count));
  }

  // The count after a block that added `now - before` once runs `count` times.
  static std::uint64_t repeated(std::uint64_t before, std::uint64_t now, std::uint64_t count,
                                SourcePosition at, const char* what) {
    const std::uint64_t body = now - before;
    if (body != 0 && count > (kMaxRecordEntries - before) / body) too_large(at, what);
    return before + body * count;
  }

  // ---- checks shared by the instructions -----------------------------------------

  void expect_arguments(const NamedInstruction& entry, SourcePosition start, std::size_t low,
                        std::size_t high) const {
    const std::size_t n = arguments_.size();
    if (n >= low && n <= high) return;
    std::string wanted =
        low == high ? std::to_string(low) : std::to_string(low) + " or " + std::to_string(high);
    error(n > 0 ? arguments_.front().at : start, std::string(entry.name) + " takes " + wanted + " argument" +
                                                     (high == 1 ? "" : "s") + ", found " + std::to_string(n));
  }

  void check_probabilities() const {
    for (const Argument& argument : arguments_) {
      if (!(argument.value >= 0.0 && argument.value <= 1.0)) {
        error(argument.at, "probability " + std::to_string(argument.value) + " is outside [0, 1]");
      }
    }
  }

  // Probabilities of disjoint alternatives: each in [0, 1], and their sum
  // at most 1 (within the rounding of decimal text).  Returns the sum.
  double check_disjoint(const NamedInstruction& entry) const {
    check_probabilities();
    double sum = 0.0;
    for (const Argument& argument : arguments_) sum += argument.value;
    if (sum > 1.0 + kSumTolerance) {
      error(arguments_.front().at,
            "the probabilities of " + std::string(entry.name) + " add up to more than 1");
    }
    return sum;
  }

  // The line's largest qubit index, once its targets have passed the checks.
  void note_line_qubits() {
    if (line_qubit_count_ > program_.qubit_count) {
      program_.qubit_count = line_qubit_count_;
      program_.largest_qubit_at = position_of(line_largest_offset_);
    }
  }

  // The kinds of target an instruction takes.
  struct Accepts {
    bool qubits = true;      // plain indices
    bool inverted = false;   // !q, !X0
    bool records = false;    // rec[-k]
    bool paulis = false;     // X0, Y1, Z2
    bool combiners = false;  // '*'
  };

  // Refuses every target of a kind the instruction does not take; the
  // scan runs only when the flags gathered while reading show one.
  void check_targets(const NamedInstruction& entry, Accepts accepts) const {
    const Target refused = (accepts.inverted ? 0 : kInvertedFlag) | (accepts.records ? 0 : kRecordFlag) |
                           (accepts.paulis ? 0 : kPauliBits) | (accepts.combiners ? 0 : kCombinerMark) |
                           kSweepMark;
    if ((line_flags_ & refused) == 0 && accepts.qubits) return;
    const std::string name(entry.name);
    const auto targets = line_targets();
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const Target t = targets[i];
      if (t == kCombinerMark) {
        if (!accepts.combiners)
          error(target_at(i), name + " takes no '*': it joins the Pauli targets of a product");
        continue;
      }
      if ((t & kSweepMark) != 0) error(target_at(i), name + " takes no sweep[k] targets");
      if (is_record(t)) {
        if (!accepts.records) {
          error(target_at(i),
                name + (accepts.paulis ? " takes Pauli targets such as X0, not measurement records"
                                       : " takes qubit targets, not measurement records"));
        }
        continue;
      }
      if (is_pauli(t)) {
        if (!accepts.paulis) error(target_at(i), name + " takes qubit targets, not Pauli targets such as X0");
      } else if (!accepts.qubits) {
        error(target_at(i),
              name + (accepts.records ? " takes measurement records rec[-k] and Pauli targets such as X0, "
                                        "not bare qubit indices"
                                      : " takes Pauli targets such as X0, not bare qubit indices"));
      }
      if (is_inverted(t) && !accepts.inverted) error(target_at(i), name + " takes no inverted (!) targets");
    }
  }

  // Qubit targets only; `!` only where `inverted_allowed`.
  void check_qubits(const NamedInstruction& entry, bool inverted_allowed) {
    check_targets(entry, {.inverted = inverted_allowed});
    note_line_qubits();
  }

  void check_look_back(Target target, std::size_t index) const {
    const std::uint64_t back = value_of(target);
    if (back > measurements_) {
      error(target_at(index), "rec[-" + std::to_string(back) + "] reaches before the first measurement (" +
                                  std::to_string(measurements_) + " made so far)");
    }
  }

  void check_records(const NamedInstruction& entry) const {
    const auto targets = line_targets();
    for (std::size_t i = 0; i < targets.size(); ++i) {
      if (!is_record(targets[i])) {
        error(target_at(i), std::string(entry.name) + " takes only measurement record targets rec[-k]");
      }
      check_look_back(targets[i], i);
    }
  }

  static bool is_classical(Target t) { return is_record(t) || (t & kSweepMark) != 0; }

  // Targets in pairs of distinct qubits.  A controlled gate takes a record
  // bit rec[-k] or a sweep bit sweep[k] where it reads Z; nothing else
  // takes either.
  void check_pairs(const NamedInstruction& entry, SourcePosition start, bool inverted_allowed = false) {
    const auto targets = line_targets();
    const std::string name(entry.name);
    if (targets.size() % 2 != 0) {
      error(targets.empty() ? start : target_at(targets.size() - 1),
            name + " takes targets in pairs; this one has no partner");
    }
    const bool controlled = entry.record->kind == Kind::two_qubit && entry.record->steps.is_controlled();
    if (line_flags_ != 0) {
      for (std::size_t k = 0; k < targets.size(); ++k) {
        const Target t = targets[k];
        if (t == kCombinerMark)
          error(target_at(k), name + " takes no '*': it joins the Pauli targets of a product");
        if (is_pauli(t)) error(target_at(k), name + " takes qubit targets, not Pauli targets such as X0");
        if (is_inverted(t) && !inverted_allowed) error(target_at(k), name + " takes no inverted (!) targets");
        if (!is_classical(t)) continue;
        const bool record = is_record(t);
        if (!controlled) {
          error(target_at(k), name + (record ? " takes qubit targets, not measurement records"
                                             : " takes no sweep[k] targets"));
        }
        const ControlLetters letters = entry.record->steps.letters();
        if ((k % 2 == 0 ? letters.first : letters.second) != Axis::z) {
          error(target_at(k), std::string(record ? "a measurement record" : "a sweep bit") +
                                  " can only stand where " + name +
                                  " reads Z (as in CX rec[-1] q or CZ q rec[-1])");
        }
        if (record) check_look_back(t, k);
      }
    }
    for (std::size_t i = 0; i < targets.size(); i += 2) {
      const Target a = targets[i], b = targets[i + 1];
      if (!is_classical(a) && !is_classical(b) && value_of(a) == value_of(b)) {
        error(target_at(i + 1),
              name + " acts on qubit " + std::to_string(value_of(a)) + " twice in one pair");
      }
    }
    note_line_qubits();
  }

  // ---- rewriting a line's targets ------------------------------------------------

  // The line's targets as read, taken out of the program so that the
  // compiled form can take their place.
  std::vector<Target> take_line_targets() {
    const auto targets = line_targets();
    std::vector<Target> raw(targets.begin(), targets.end());
    drop_line_targets();
    return raw;
  }

  // Pairs of a controlled gate with a sweep bit (sweep bits are 0 without
  // sweep data, so the gate does nothing) or with two classical bits
  // (nothing quantum to act on) are left out.
  void drop_classical_pairs() {
    if ((line_flags_ & (kRecordFlag | kSweepMark)) == 0) return;
    const std::vector<Target> raw = take_line_targets();
    for (std::size_t i = 0; i < raw.size(); i += 2) {
      const Target a = raw[i], b = raw[i + 1];
      if ((a & kSweepMark) != 0 || (b & kSweepMark) != 0 || (is_record(a) && is_record(b))) continue;
      program_.targets.push_back(a);
      program_.targets.push_back(b);
    }
  }

  // The Paulis written on a line (combiners and signs dropped), one factor
  // per qubit: what a noise channel or an observable needs of them.
  void compile_unsigned_paulis() {
    const std::vector<Target> raw = take_line_targets();
    std::vector<PauliFactor> written, reduced;
    for (const Target t : raw) {
      if (is_record(t)) {
        program_.targets.push_back(t);
      } else if (is_pauli(t)) {
        written.push_back({value_of(t), pauli_of(t)});
      }
    }
    bool negative = false;
    reduce_product(written, negative, reduced);
    for (const PauliFactor& f : reduced) program_.targets.push_back(pauli_target(f.qubit, f.axis));
  }

  // Products of Pauli targets joined by '*' (the line holds only those, as
  // checked), each written as a header and its reduced factors.  Returns
  // the number of products.
  std::size_t compile_products(const NamedInstruction& entry) {
    const std::vector<Target> raw = take_line_targets();
    std::vector<PauliFactor> written, reduced;
    std::size_t products = 0;
    const auto misplaced = [&](std::size_t at) {
      error(target_at(at), "'*' must stand between two Pauli targets");
    };
    for (std::size_t i = 0; i < raw.size();) {
      const std::size_t first = i;
      written.clear();
      bool negative = false;
      while (true) {
        if (raw[i] == kCombinerMark) misplaced(i);
        written.push_back({value_of(raw[i]), pauli_of(raw[i])});
        negative ^= is_inverted(raw[i]);
        ++i;
        if (i == raw.size() || raw[i] != kCombinerMark) break;
        if (++i == raw.size()) misplaced(i - 1);
      }
      if (!reduce_product(written, negative, reduced)) {
        error(target_at(first),
              "this product in " + std::string(entry.name) +
                  " is anti-Hermitian (as X0*Z0 = -iY0 is): it has no eigenvalues +1 and -1");
      }
      program_.targets.push_back(reduced.size() | (negative ? kInvertedFlag : 0));
      for (const PauliFactor& f : reduced) program_.targets.push_back(pauli_target(f.qubit, f.axis));
      ++products;
    }
    return products;
  }

  // MXX, MYY, MZZ: each pair becomes the product of the axis on both, its
  // sign flipped by each `!`.
  std::size_t compile_pair_products(Axis axis) {
    const std::vector<Target> raw = take_line_targets();
    for (std::size_t i = 0; i < raw.size(); i += 2) {
      const bool negative = is_inverted(raw[i]) != is_inverted(raw[i + 1]);
      program_.targets.push_back(2 | (negative ? kInvertedFlag : 0));
      program_.targets.push_back(pauli_target(value_of(raw[i]), axis));
      program_.targets.push_back(pauli_target(value_of(raw[i + 1]), axis));
    }
    return raw.size() / 2;
  }

  // ---- emitting ------------------------------------------------------------------

  // How an instruction's arguments are kept: not at all (coordinates),
  // each as its own threshold, or as running sums (disjoint alternatives).
  enum class Kept { none, each, cumulative };

  // Keeps the line's targets, and its arguments as `kept` says, as one
  // instruction: `instruction` with its opcode and the fields it uses.
  void emit(Instruction instruction, SourcePosition start, Kept kept = Kept::none) {
    if (program_.targets.size() > std::numeric_limits<std::uint32_t>::max() ||
        program_.probabilities.size() > std::numeric_limits<std::uint32_t>::max() - 16) {
      error(start, "the circuit has too many targets");
    }
    instruction.first_target = static_cast<std::uint32_t>(line_first_target_);
    instruction.target_count = static_cast<std::uint32_t>(line_target_count());
    instruction.first_argument = static_cast<std::uint32_t>(program_.probabilities.size());
    instruction.line = start.line;
    if (kept != Kept::none) {
      instruction.argument_count = static_cast<std::uint8_t>(arguments_.size());
      double running = 0.0;
      for (const Argument& argument : arguments_) {
        running = kept == Kept::cumulative ? std::min(1.0, running + argument.value) : argument.value;
        program_.probabilities.push_back(argument.value);
        program_.thresholds.push_back(threshold_of(running));
      }
    }
    program_.instructions.push_back(instruction);
    work_ = saturating_add(work_, line_target_count() + 1);
    emitted_ = true;
  }

  void add_measurements(SourcePosition start, std::uint64_t count) {
    measurements_ += count;
    if (measurements_ > kMaxRecordEntries) too_large(start, "measurement record");
  }

  // The parens arguments: how many, then what they must be, as the
  // instruction's record says.  Returns the sum of disjoint probabilities.
  double check_arguments(const NamedInstruction& entry, SourcePosition start) {
    const ArgumentRule rule = entry.record->arguments;
    if (rule.high != kAnyCount) expect_arguments(entry, start, rule.low, rule.high);
    switch (rule.meaning) {
      case Meaning::probability: check_probabilities(); return 0.0;
      case Meaning::disjoint: return check_disjoint(entry);
      case Meaning::index: check_observable_index(); return 0.0;
      case Meaning::none:
      case Meaning::coordinates:
      case Meaning::repeat_count: return 0.0;
    }
    return 0.0;
  }

  void check_observable_index() const {
    const Argument& index = arguments_[0];
    if (!(index.value >= 0.0 && index.value < 9007199254740992.0) || index.value != std::floor(index.value)) {
      error(index.at, "the observable index must be a non-negative integer");
    }
    const auto observable = static_cast<std::uint64_t>(index.value);
    if (observable >= kMaxRecordEntries || detectors_ + observable + 1 > kMaxRecordEntries) {
      too_large(index.at, "observable record");
    }
  }

  // The line's targets, as the instruction's record says it takes them.
  void check_line_targets(const NamedInstruction& entry, SourcePosition start) {
    switch (entry.record->targets) {
      case Targets::none:
        if (line_target_count() != 0) error(target_at(0), std::string(entry.name) + " takes no targets");
        return;
      case Targets::qubits: return check_qubits(entry, false);
      case Targets::inverted_qubits: return check_qubits(entry, true);
      case Targets::pairs: return check_pairs(entry, start);
      case Targets::inverted_pairs: return check_pairs(entry, start, true);
      case Targets::products:
      case Targets::paulis:
        check_targets(entry, {.qubits = false, .inverted = true, .paulis = true, .combiners = true});
        note_line_qubits();
        return;
      case Targets::records: return check_records(entry);
      case Targets::records_and_paulis: {
        check_targets(entry, {.qubits = false, .inverted = true, .records = true, .paulis = true});
        const auto line = line_targets();
        for (std::size_t i = 0; i < line.size(); ++i) {
          if (is_record(line[i])) check_look_back(line[i], i);
        }
        note_line_qubits();
        return;
      }
      case Targets::bits: {
        check_targets(entry, {});
        const auto bits = line_targets();
        for (std::size_t i = 0; i < bits.size(); ++i) {
          if (bits[i] > 1) {
            error(target_at(i), "MPAD takes the bits 0 and 1 as targets, found " + std::to_string(bits[i]));
          }
        }
        return;
      }
    }
  }

  void compile(const NamedInstruction& entry, SourcePosition start) {
    const InstructionRecord& record = *entry.record;
    const double sum = check_arguments(entry, start);
    check_line_targets(entry, start);
    const std::size_t targets = line_target_count();
    switch (record.kind) {
      case Kind::single_qubit:
        if (targets != 0 && record.vop != vop::identity)
          emit({.code = Opcode::single_qubit, .vop = record.vop}, start);
        return;
      case Kind::two_qubit:
        drop_classical_pairs();
        if (line_target_count() != 0) emit({.code = Opcode::two_qubit, .gate = record.gate}, start);
        return;
      case Kind::measure:
      case Kind::measure_reset:
        if (targets != 0) {
          const Opcode code = record.kind == Kind::measure ? Opcode::measure : Opcode::measure_reset;
          emit({.code = code, .axis = record.axis}, start, Kept::each);
        }
        add_measurements(start, targets);
        return;
      case Kind::reset:
        if (targets != 0) emit({.code = Opcode::reset, .axis = record.axis}, start);
        return;
      case Kind::measure_pair: {
        const std::size_t pairs = compile_pair_products(record.axis);
        if (pairs != 0) emit({.code = Opcode::measure_product}, start, Kept::each);
        add_measurements(start, pairs);
        return;
      }
      case Kind::measure_product: {
        const std::size_t products = compile_products(entry);
        if (products != 0) emit({.code = Opcode::measure_product}, start, Kept::each);
        add_measurements(start, products);
        return;
      }
      case Kind::rotate_product: {
        const std::size_t products = compile_products(entry);
        if (products != 0) emit({.code = Opcode::rotate_product, .dagger = record.dagger}, start, Kept::each);
        return;
      }
      case Kind::pad:
        if (targets != 0) emit({.code = Opcode::pad}, start, Kept::each);
        add_measurements(start, targets);
        return;
      case Kind::pauli_error:
        if (targets != 0 && arguments_[0].value > 0.0)
          emit({.code = Opcode::pauli_error, .axis = record.axis}, start, Kept::each);
        return;
      case Kind::depolarize1:
        if (targets != 0 && arguments_[0].value > 0.0) emit({.code = Opcode::depolarize1}, start, Kept::each);
        return;
      case Kind::depolarize2:
        if (targets != 0 && arguments_[0].value > 0.0) emit({.code = Opcode::depolarize2}, start, Kept::each);
        return;
      case Kind::pauli_channel_1:
        if (targets != 0 && sum > 0.0) emit({.code = Opcode::pauli_channel_1}, start, Kept::cumulative);
        return;
      case Kind::pauli_channel_2:
        if (targets != 0 && sum > 0.0) emit({.code = Opcode::pauli_channel_2}, start, Kept::cumulative);
        return;
      case Kind::correlated_error:
        compile_unsigned_paulis();
        // E always runs: it starts a new chain even when it cannot fire.
        if (!record.else_branch || arguments_[0].value > 0.0) {
          emit({.code = Opcode::correlated_error, .else_branch = record.else_branch}, start, Kept::each);
        }
        return;
      case Kind::heralded_erase:
        // The format accepts `!` here; a herald is never inverted.
        if (targets != 0) emit({.code = Opcode::heralded_erase}, start, Kept::each);
        add_measurements(start, targets);
        return;
      case Kind::heralded_pauli_channel_1:
        if (targets != 0) emit({.code = Opcode::heralded_pauli_channel_1}, start, Kept::cumulative);
        add_measurements(start, targets);
        return;
      case Kind::detector:
        emit({.code = Opcode::detector}, start);
        ++detectors_;
        if (detectors_ + observables_ > kMaxRecordEntries) too_large(start, "detector record");
        return;
      case Kind::observable_include: {
        const auto observable = static_cast<std::uint64_t>(arguments_[0].value);
        observables_ = std::max(observables_, observable + 1);
        if ((line_flags_ & kPauliBits) != 0) compile_unsigned_paulis();
        emit({.code = Opcode::observable_include, .observable = observable}, start);
        return;
      }
      case Kind::pair_identity:
      case Kind::identity_error:
      case Kind::tick:
      case Kind::qubit_coords:
      case Kind::shift_coords: return;  // checked; nothing runs
      case Kind::repeat: break;
    }
    fail("instruction kind without a compilation");
  }

  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t line_start_ = 0;
  std::uint64_t line_ = 1;
  std::uint64_t measurements_ = 0;
  std::uint64_t detectors_ = 0;
  std::uint64_t observables_ = 0;
  std::uint64_t work_ = 0;
  std::vector<Frame> frames_;
  // The line being read: its first target in program_.targets, where its
  // targets start in the text, the flags of its targets, one more than its
  // largest qubit index and where that index first stands.
  std::size_t line_first_target_ = 0;
  std::size_t line_targets_text_ = 0;
  Target line_flags_ = 0;
  std::uint64_t line_qubit_count_ = 0;
  std::size_t line_largest_offset_ = 0;
  bool emitted_ = false;
  std::vector<Argument> arguments_;
  Program program_;
};

}  // namespace

Program read_circuit(std::string_view text) { return Reader(text).read(); }

}  // namespace ordavine::circuit
