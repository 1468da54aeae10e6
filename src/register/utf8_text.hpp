// Characters of text that arrives as UTF-8.
//
// The binding hands over a str as UTF-8; a lone surrogate, which a str may
// hold but UTF-8 cannot encode, arrives as the three bytes UTF-8 would give
// it were it a character (ED A0..BF xx).  Readers that count characters, or
// name one in a message, use these instead of counting bytes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace ordavine::utf8 {

inline bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The bytes of the character that starts at `at`: 1 for ASCII, and for a
// byte that starts no well-formed sequence.
inline std::size_t sequence_length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
  if (length == 1 || at + length > text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if (!is_continuation(static_cast<unsigned char>(text[at + i]))) return 1;
  }
  return length;
}

// How many characters the text holds.
inline std::size_t character_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); at += sequence_length(text, at)) ++count;
  return count;
}

// The byte offset `characters` characters after `at`.
inline std::size_t advance(std::string_view text, std::size_t at, std::size_t characters) {
  for (; characters > 0 && at < text.size(); --characters) at += sequence_length(text, at);
  return at;
}

// The character at `at` as a message shows it: 'X' for printable ASCII,
// 'é' (U+00E9) for other characters, U+D800 (a lone surrogate), and
// byte 0x09 for control characters and bytes that start no character.
inline std::string describe_character(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = sequence_length(text, at);
  char code[40];
  if (length == 1) {
    if (lead >= 0x20 && lead < 0x7f) return std::string("'") + text[at] + "'";
    std::snprintf(code, sizeof code, "byte 0x%02x", lead);
    return code;
  }
  unsigned long point = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i)
    point = point << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3Fu);
  if (point >= 0xD800 && point <= 0xDFFF) {
    std::snprintf(code, sizeof code, "U+%04lX (a lone surrogate)", point);
    return code;
  }
  std::snprintf(code, sizeof code, "' (U+%04lX)", point);
  std::string shown(1, '\'');
  shown.append(text.substr(at, length));
  return shown.append(code);
}

}  // namespace ordavine::utf8
