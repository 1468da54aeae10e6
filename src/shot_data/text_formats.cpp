#include "shot_data/text_formats.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <string>

#include "failure/failure.hpp"

namespace ordavine::shot_data {
namespace {

// The longest token a 1 bit can write: a separator, a letter and the 20
// digits of the largest 64-bit index.
constexpr std::size_t kLongestToken = 22;
constexpr std::size_t kWordTokens = 64 * kLongestToken;

// The eight characters of each byte's bits, lowest bit first.
constexpr std::array<std::array<char, 8>, 256> kByteDigits = [] {
  std::array<std::array<char, 8>, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    for (unsigned bit = 0; bit < 8; ++bit) table[byte][bit] = ((byte >> bit) & 1) != 0 ? '1' : '0';
  }
  return table;
}();

std::uint8_t* put_index(std::uint8_t* at, std::uint64_t index) {
  char* text = reinterpret_cast<char*>(at);
  return reinterpret_cast<std::uint8_t*>(std::to_chars(text, text + 20, index).ptr);
}

void put_char(OutputBuffer& out, char c) {
  std::uint8_t* at = out.reserve(1);
  *at = static_cast<std::uint8_t>(c);
  out.commit(at + 1);
}

}  // namespace

DetsLayout::DetsLayout(const std::vector<PrefixRun>& runs, std::uint64_t bits) {
  std::uint64_t start = 0;
  for (const PrefixRun& run : runs) {
    if (run.letter < 'A' || run.letter > 'Z') {
      fail("a dets prefix that is not an upper-case letter: code " + std::to_string(int{run.letter}));
    }
    if (run.count > bits - start) {
      fail("the dets prefix runs hold more than the " + std::to_string(bits) + " bits of a shot");
    }
    if (run.count == 0) continue;
    runs_.push_back(run);
    starts_.push_back(start);
    start += run.count;
  }
  if (start != bits) {
    fail("the dets prefix runs hold " + std::to_string(start) + " bits, but a shot has " +
         std::to_string(bits));
  }
}

void write_01_shot(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out) {
  const std::size_t full_bytes = static_cast<std::size_t>(shape.bits / 8);
  for (std::size_t b = 0; b < full_bytes;) {
    const std::size_t stop = std::min(full_bytes, b + 64);
    std::uint8_t* at = out.reserve(8 * (stop - b));
    for (; b < stop; ++b, at += 8) std::memcpy(at, kByteDigits[row[b]].data(), 8);
    out.commit(at);
  }
  const unsigned tail = static_cast<unsigned>(shape.bits % 8);
  std::uint8_t* at = out.reserve(tail + 1);
  if (tail != 0) {
    std::memcpy(at, kByteDigits[row[full_bytes]].data(), tail);
    at += tail;
  }
  *at++ = '\n';
  out.commit(at);
}

namespace {

// Writes a token for every set bit of a row, in increasing order and a
// word at a time: put(at, bit) writes the bit's token at `at` (at most a
// word's share of kWordTokens bytes) and returns where it ended; the row
// ends with a newline.
template <class Put>
void write_set_bits(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out, Put&& put) {
  for (std::size_t w = 0; w < shape.words(); ++w) {
    std::uint64_t word = row_word(row, shape, w);
    if (word == 0) continue;
    std::uint8_t* at = out.reserve(kWordTokens);
    const std::uint64_t base = 64 * static_cast<std::uint64_t>(w);
    for (; word != 0; word &= word - 1) at = put(at, base + static_cast<unsigned>(std::countr_zero(word)));
    out.commit(at);
  }
  put_char(out, '\n');
}

}  // namespace

void write_hits_shot(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out) {
  bool first = true;
  write_set_bits(row, shape, out, [&](std::uint8_t* at, std::uint64_t bit) {
    if (!first) *at++ = ',';
    first = false;
    return put_index(at, bit);
  });
}

void write_dets_shot(const std::uint8_t* row, const RowShape& shape, const DetsLayout& layout,
                     OutputBuffer& out) {
  static constexpr char kShot[] = "shot";
  out.put(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(kShot), 4));
  const std::vector<PrefixRun>& runs = layout.runs();
  const std::vector<std::uint64_t>& starts = layout.starts();
  std::size_t run = 0;  // the run of the last bit written; bits come in increasing order
  write_set_bits(row, shape, out, [&](std::uint8_t* at, std::uint64_t bit) {
    while (bit - starts[run] >= runs[run].count) ++run;
    *at++ = ' ';
    *at++ = static_cast<std::uint8_t>(runs[run].letter);
    return put_index(at, bit - starts[run]);
  });
}

}  // namespace ordavine::shot_data
