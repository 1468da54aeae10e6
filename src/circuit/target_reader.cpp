#include "circuit/target_reader.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "circuit/digit_word.hpp"

namespace ordavine::circuit::reading {
namespace {

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

// One more than the line's largest qubit index, and where that index
// first stands.  A local of read_targets, not kept in TargetSummary while
// reading, and copied into a local of each run of plain indices, so that
// the compiler keeps it in registers across the stores into the target
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

// The longest plain index a run takes (see read_runs).
constexpr std::ptrdiff_t kRunDigits = 7;

// One run of kDigits-digit targets, from `p` at the blank before the first
// of them, which read_runs has checked to stand there with more than eight
// bytes from it to `end`.  Each step checks that the next word holds
// kDigits digits and a blank after them, so `p` is at a blank again after
// every step and only the bytes left need checking.
template <unsigned kDigits>
const char* read_run(const char* p, const char* end, std::vector<Target>& targets, LineLargest& largest) {
  static_assert(kDigits >= 1 && kDigits <= kRunDigits && kRunDigits < 8);
  constexpr std::uint64_t kDigitBytes = (std::uint64_t{1} << (8 * kDigits)) - 1;
  constexpr std::uint64_t kTerminator = std::uint64_t{0xFF} << (8 * kDigits);
  constexpr std::uint64_t kBlank = std::uint64_t{' '} << (8 * kDigits);
  LineLargest run_largest = largest;
  const char* const last = end - 9;  // the last blank with a whole word after it
  while (p <= last) {
    const std::uint64_t word = load_word(p + 1);
    if (((non_digit_bytes(word) & kDigitBytes) | ((word & kTerminator) ^ kBlank)) != 0) break;
    const std::uint64_t value = digits_value(word, kDigits);
    targets.push_back(value);
    run_largest.note(value, p + 1);
    p += kDigits + 1;
  }
  largest = run_largest;
  return p;
}

const char* read_run_of(unsigned digits, const char* p, const char* end, std::vector<Target>& targets,
                        LineLargest& largest) {
  switch (digits) {
    case 1: return read_run<1>(p, end, targets, largest);
    case 2: return read_run<2>(p, end, targets, largest);
    case 3: return read_run<3>(p, end, targets, largest);
    case 4: return read_run<4>(p, end, targets, largest);
    case 5: return read_run<5>(p, end, targets, largest);
    case 6: return read_run<6>(p, end, targets, largest);
    default: return read_run<7>(p, end, targets, largest);
  }
}

// The bulk of a long line of qubit indices: from `p` at a blank, targets
// that are each a single ' ', one to kRunDigits digits, and the ' ' that
// begins the next target, taken in runs of targets with the same number
// of digits.  Within a run one word holds a whole target and its
// terminator, and the position moves by a constant, so the steps do not
// wait on each other; a new run starts where the length changes.
// Returns where reading stopped, at a blank (`p` itself when no such
// target stands there).
const char* read_runs(const char* p, const char* end, std::vector<Target>& targets, LineLargest& largest) {
  while (end - p > 8 && *p == ' ') {
    const std::uint64_t word = load_word(p + 1);
    const unsigned digits = leading_digits(word);
    if (digits == 0 || digits > kRunDigits || static_cast<char>(word >> (8 * digits)) != ' ') break;
    const char* const after = read_run_of(digits, p, end, targets, largest);
    if (after == p) break;  // the run always takes the target checked here; never loop on it
    p = after;
  }
  return p;
}

// The digits from `p` (at least one) as a number, up to kSafeDigits of
// them; `p` is left after the last digit taken.  Eight bytes at a time
// while eight remain in the text, byte by byte near its end.
std::uint64_t read_plain_index(const char*& p, const char* end) {
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
void reserve_for_line(const char* from, const char* end, std::vector<Target>& targets) {
  constexpr std::size_t kReservedTargets = std::size_t{1} << 24;
  const void* newline = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
  const auto length = static_cast<std::size_t>((newline ? static_cast<const char*>(newline) : end) - from);
  const std::size_t wanted = targets.size() + std::min(length / 2 + 1, kReservedTargets);
  if (wanted > targets.capacity()) targets.reserve(std::max(wanted, 2 * targets.capacity()));
}

// A qubit index, refused with the largest index allowed when above it.
std::uint64_t read_qubit_index(TextScanner& text) {
  return text.read_integer(kMaxQubitIndex, "qubit index",
                           " (the largest a register holds is " + std::to_string(kMaxQubitIndex) + ")");
}

// One target of any form, from the cursor (at the blanks before it): a
// qubit index, !index, a Pauli target, rec[-k], sweep[k], or the combiner
// '*', which needs no blank on either side.  `line_size` is the number of
// the line's targets already in `targets`.
void read_general_target(TextScanner& text, std::vector<Target>& targets, std::size_t line_size,
                         TargetSummary& line, LineLargest& largest) {
  const std::size_t before = text.offset();
  text.skip_blanks();
  if (text.peek() == '*') {
    text.advance();
    targets.push_back(kCombinerMark);
    line.flags |= kCombinerMark;
    return;
  }
  const bool after_combiner = line_size > 0 && targets.back() == kCombinerMark;
  if (text.offset() == before && !after_combiner) {
    text.error_here("expected a blank before the target, found " + describe_byte(text.peek()));
  }
  const SourcePosition at = text.here();
  const std::size_t token = text.offset();
  Target inverted = 0;
  if (text.peek() == '!') {
    text.advance();
    inverted = kInvertedFlag;
  }
  Target value;
  if (is_digit(text.peek())) {
    value = read_qubit_index(text);
  } else if (is_pauli_letter(text.peek())) {
    const Axis axis = axis_of_letter(text.peek());
    text.advance();
    if (!is_digit(text.peek())) {
      text.error_here(std::string("expected a qubit index right after the Pauli ") + letter_of(axis) +
                      ", found " +
                      (text.at_line_end() ? std::string("the end of the line") : describe_byte(text.peek())));
    }
    value = pauli_target(read_qubit_index(text), axis);
  } else if (inverted == 0 && text.skip_word("rec[-")) {
    const std::uint64_t back = text.read_integer(kValueMask, "record look-back");
    if (text.peek() != ']') text.error_here("expected ']', found " + describe_byte(text.peek()));
    text.advance();
    if (back == 0) read_error(at, "rec[-0] is not a record entry; look-backs start at rec[-1]");
    value = back | kRecordFlag;
  } else if (inverted == 0 && text.skip_word("sweep[")) {
    value = text.read_integer(kMaxQubitIndex, "sweep bit index") | kSweepMark;
    if (text.peek() != ']') text.error_here("expected ']', found " + describe_byte(text.peek()));
    text.advance();
  } else if (inverted != 0) {
    text.error_here("expected a qubit index or a Pauli target after '!', found " +
                    describe_byte(text.peek()));
  } else {
    read_error(at, "malformed target starting with " + describe_byte(text.peek()));
  }
  if (!text.at_line_end() && !is_blank(text.peek()) && !(is_pauli(value) && text.peek() == '*')) {
    text.error_here("unexpected " + describe_byte(text.peek()) + " in a target");
  }
  value |= inverted;
  targets.push_back(value);
  line.flags |= (value & ~kValueMask) | (value & kSweepMark);
  if (!is_record(value) && !is_sweep(value)) largest.note(value_of(value), text.text().data() + token);
}

}  // namespace

TargetSummary read_targets(TextScanner& text, std::vector<Target>& targets) {
  const std::size_t first = targets.size();
  TargetSummary line{.text_offset = text.offset()};
  const char* const data = text.text().data();
  const char* const end = data + text.text().size();
  const char* p = data + text.offset();
  reserve_for_line(p, end, targets);
  LineLargest largest{0, data};
  while (true) {
    // Runs of plain indices of one length, a word at a time.
    if (const char* const after = read_runs(p, end, targets, largest); after != p) {
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
        targets.push_back(value);
        largest.note(value, token);
        continue;
      }
    }
    text.move_to(static_cast<std::size_t>(before - data));
    read_general_target(text, targets, targets.size() - first, line, largest);
    p = data + text.offset();
  }
  line.qubit_count = largest.count;
  line.largest_offset = static_cast<std::size_t>(largest.at - data);
  text.move_to(static_cast<std::size_t>(p - data));
  return line;
}

SourcePosition target_position(const TextScanner& text, std::size_t text_offset, std::size_t index) {
  const std::string_view all = text.text();
  std::size_t at = text_offset;
  const auto ends_token = [&](std::size_t i) {
    return i >= all.size() || is_blank(all[i]) || all[i] == '\n' || all[i] == '#' || all[i] == '*';
  };
  for (std::size_t seen = 0;; ++seen) {
    while (at < all.size() && is_blank(all[at])) ++at;
    if (seen == index) break;
    if (at < all.size() && all[at] == '*') {
      ++at;
    } else {
      while (!ends_token(at)) ++at;
    }
  }
  return text.position_of(at);
}

}  // namespace ordavine::circuit::reading
