// The text formats, one shot at a time: 01 (a '0' or '1' per bit), hits
// (the indices of the 1 bits, comma separated) and dets ("shot" and a
// letter-prefixed index per 1 bit), each shot's line ended by '\n'.  The
// sparse formats skip a row's zero words whole and step through the 1 bits
// of the others, so their cost follows the 1 bits rather than the bits.
#pragma once

#include <cstdint>
#include <vector>

#include "shot_data/output_buffer.hpp"
#include "shot_data/packed_rows.hpp"

namespace ordavine::shot_data {

// One run of the bits of a dets line: `count` consecutive bits written
// with the prefix `letter` (an upper-case letter), indices counted from 0
// within the run.  Measurement records are one run 'M'; detection events
// are a run 'D' followed by a run 'L' of the observables appended to them.
struct PrefixRun {
  char letter = 'M';
  std::uint64_t count = 0;
};

// The runs of a dets line with the first bit of each: what writing a
// token needs, worked out once.
class DetsLayout {
 public:
  DetsLayout() = default;
  // Fails (internal failure) when a letter is not an upper-case letter or
  // the counts do not add up to `bits`.
  DetsLayout(const std::vector<PrefixRun>& runs, std::uint64_t bits);

  const std::vector<PrefixRun>& runs() const noexcept { return runs_; }
  const std::vector<std::uint64_t>& starts() const noexcept { return starts_; }

 private:
  std::vector<PrefixRun> runs_;         // the runs with bits, in order
  std::vector<std::uint64_t> starts_;   // the first bit of each
};

void write_01_shot(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out);
void write_hits_shot(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out);
void write_dets_shot(const std::uint8_t* row, const RowShape& shape, const DetsLayout& layout,
                     OutputBuffer& out);

}  // namespace ordavine::shot_data
