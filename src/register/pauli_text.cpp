#include "register/pauli_text.hpp"

#include <cstdint>

#include "failure/failure.hpp"
#include "register/utf8_text.hpp"

namespace ordavine {
namespace {

// The text as shown in a message: at most 60 bytes of it, anything that is
// not printable ASCII written as \xNN.
std::string shown(std::string_view text) {
  constexpr std::size_t kShown = 60;
  std::string out = "'";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (text.size() > kShown) out += "...";
  return out + "'";
}

// What stands at `at`: a quoted character (all of its bytes, when it is
// not ASCII), or the end of the text.
std::string found_at(std::string_view text, std::size_t at) {
  if (at >= text.size()) return "the end of the text";
  return shown(text.substr(at, utf8::sequence_length(text, at)));
}

[[noreturn]] void refuse(std::string_view text, std::size_t at, const std::string& what) {
  throw InvalidInput("Pauli product " + shown(text) + ", column " + std::to_string(at + 1) + ": " + what);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

Axis axis_of_letter(char c) {
  switch (c) {
    case 'X':
    case 'x': return Axis::x;
    case 'Y':
    case 'y': return Axis::y;
    case 'Z':
    case 'z': return Axis::z;
    default: return Axis::none;
  }
}

constexpr char kLetters[] = {'X', 'Y', 'Z'};

// Stim's dense form from `at` on: one letter per qubit, qubit 0 first.
void parse_dense(std::string_view text, std::size_t at, std::size_t size, std::vector<PauliFactor>& written) {
  // Letters are counted as characters: one outside ASCII is one letter
  // (refused below, when the length is not refused first).
  const std::size_t letters = utf8::character_count(text.substr(at));
  if (letters > size) {
    refuse(text, utf8::advance(text, at, size),
           "a dense product of " + std::to_string(letters) + " letters is longer than the register of " +
               std::to_string(size) + " qubits");
  }
  // Bytes and characters agree up to the first byte outside ASCII, which is refused.
  for (std::size_t q = 0; q < letters; ++q) {
    const char c = text[at + q];
    if (c == '_' || c == 'I') continue;
    const Axis axis = (c == 'X' || c == 'Y' || c == 'Z') ? axis_of_letter(c) : Axis::none;
    if (axis == Axis::none) refuse(text, at + q, "expected _, I, X, Y or Z, found " + found_at(text, at + q));
    written.push_back({q, axis});
  }
}

}  // namespace

void parse_pauli_product(std::string_view text, std::size_t size, bool& negative,
                         std::vector<PauliFactor>& written) {
  written.clear();
  negative = false;
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  if (at == text.size()) return;  // the identity
  if (text.find_first_of("0123456789*!", at) == std::string_view::npos) {
    parse_dense(text, at, size, written);
    return;
  }
  while (true) {
    if (at < text.size() && text[at] == '!') {
      negative = !negative;
      ++at;
    }
    const Axis axis = at < text.size() ? axis_of_letter(text[at]) : Axis::none;
    if (axis == Axis::none) refuse(text, at, "expected X, Y or Z, found " + found_at(text, at));
    ++at;
    if (at == text.size() || !is_digit(text[at])) {
      refuse(text, at, "expected the qubit index, found " + found_at(text, at));
    }
    const std::size_t start = at;
    std::uint64_t index = 0;
    bool too_large = false;
    for (; at < text.size() && is_digit(text[at]); ++at) {
      const auto digit = static_cast<std::uint64_t>(text[at] - '0');
      if (index > (UINT64_MAX - digit) / 10) too_large = true;
      if (!too_large) index = index * 10 + digit;
    }
    if (too_large || index >= size) {
      const std::string digits(text.substr(start, at - start));
      refuse(text, start,
             "qubit " + digits + " is outside the register of " + std::to_string(size) + " qubits");
    }
    written.push_back({static_cast<Qubit>(index), axis});
    if (at == text.size()) return;
    if (text[at] != '*') refuse(text, at, "expected '*' or the end of the text, found " + found_at(text, at));
    ++at;
  }
}

void read_pauli_product(std::string_view text, std::size_t size, bool& negative,
                        std::vector<PauliFactor>& factors) {
  thread_local std::vector<PauliFactor> written_storage;
  std::vector<PauliFactor>& written = written_storage;
  parse_pauli_product(text, size, negative, written);
  // A short product on distinct qubits, the usual case, is reduced already.
  constexpr std::size_t kShort = 16;
  bool distinct = written.size() <= kShort;
  for (std::size_t i = 1; i < written.size() && distinct; ++i) {
    for (std::size_t j = 0; j < i && distinct; ++j) distinct = written[i].qubit != written[j].qubit;
  }
  if (distinct) {
    factors.assign(written.begin(), written.end());
    return;
  }
  if (!reduce_product(written, negative, factors)) {
    throw InvalidInput("Pauli product " + shown(text) +
                       " is not Hermitian: its factors multiply to +-i times a Pauli product");
  }
}

std::string product_text(std::span<const PauliFactor> factors, bool negative) {
  std::string text = negative ? "-" : "";
  for (std::size_t i = 0; i < factors.size(); ++i) {
    if (i > 0) text += '*';
    text += kLetters[static_cast<unsigned>(factors[i].axis)];
    text += std::to_string(factors[i].qubit);
  }
  return text;
}

}  // namespace ordavine
