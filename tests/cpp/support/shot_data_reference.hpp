// Shot data files written the plain way, a bit at a time, straight from the
// formats' definitions: the reference the writer's word loops are held to
// by the tests and the shot data fuzzer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "shot_data/format.hpp"
#include "shot_data/text_formats.hpp"
#include "shot_data/writer.hpp"

namespace ordavine::test_shot_data {

using shot_data::PrefixRun;
using shot_data::ShotFormat;

inline bool packed_bit(const std::vector<std::uint8_t>& rows, std::uint64_t bits, std::uint64_t shot,
                       std::uint64_t bit) {
  return ((rows[shot * ((bits + 7) / 8) + bit / 8] >> (bit % 8)) & 1) != 0;
}

inline std::vector<std::uint8_t> reference_file(ShotFormat format, std::uint64_t bits,
                                                const std::vector<PrefixRun>& layout,
                                                const std::vector<std::uint8_t>& rows, std::uint64_t shots) {
  std::string out;
  const auto bit = [&](std::uint64_t s, std::uint64_t b) { return packed_bit(rows, bits, s, b); };
  if (format == ShotFormat::ptb64) {
    for (std::uint64_t group = 0; group < shots; group += 64) {
      for (std::uint64_t b = 0; b < bits; ++b) {
        for (int byte = 0; byte < 8; ++byte) {
          int value = 0;
          for (int k = 0; k < 8; ++k) value |= int{bit(group + 8 * byte + k, b)} << k;
          out += static_cast<char>(value);
        }
      }
    }
  }
  for (std::uint64_t s = 0; s < shots && format != ShotFormat::ptb64; ++s) {
    std::uint64_t zeros = 0, run = 0, run_start = 0;
    bool first = true;
    if (format == ShotFormat::dets) out += "shot";
    for (std::uint64_t b = 0; b < bits; ++b) {
      const bool one = bit(s, b);
      switch (format) {
        case ShotFormat::f01: out += one ? '1' : '0'; break;
        case ShotFormat::b8:
          if (b % 8 == 0) out += '\0';
          if (one) out.back() = static_cast<char>(out.back() | (1 << (b % 8)));
          break;
        case ShotFormat::r8:
          if (!one) {
            ++zeros;
            if (zeros == 255) out += static_cast<char>(255), zeros = 0;
          } else {
            out += static_cast<char>(zeros), zeros = 0;
          }
          break;
        case ShotFormat::hits:
          if (!one) break;
          if (!first) out += ',';
          out += std::to_string(b);
          first = false;
          break;
        case ShotFormat::dets:
          while (b - run_start >= layout[run].count) run_start += layout[run++].count;
          if (one) out += ' ', out += layout[run].letter, out += std::to_string(b - run_start);
          break;
        case ShotFormat::ptb64: break;
      }
    }
    if (format == ShotFormat::r8) out += static_cast<char>(zeros);
    if (format == ShotFormat::f01 || format == ShotFormat::hits || format == ShotFormat::dets) out += '\n';
  }
  return {out.begin(), out.end()};
}

// Feeds `shots` packed rows to the writer as stretches of the given shot
// counts, the rest of the shots in one last stretch (not finished).
inline void feed_in_stretches(shot_data::ShotDataWriter& writer, const std::vector<std::uint8_t>& rows,
                              std::uint64_t shots, const std::vector<std::uint64_t>& stretches) {
  const std::size_t row_bytes = writer.row_bytes();
  std::uint64_t done = 0;
  for (std::uint64_t count : stretches) {
    count = std::min(count, shots - done);
    writer.write_shots({rows.data() + done * row_bytes, count * row_bytes}, count);
    done += count;
  }
  writer.write_shots({rows.data() + done * row_bytes, (shots - done) * row_bytes}, shots - done);
}

}  // namespace ordavine::test_shot_data
