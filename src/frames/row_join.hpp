// Two row sets of the same shots joined entry by entry: each shot's row of
// `first` entries followed by its row of `second` entries, as one row of
// first + second entries (unpacked, a byte each; packed, 8 a byte, the
// last byte padded with zeros, as ShotRows lays rows out).  The detector
// sampler puts the observables after or before the detectors with it.
#pragma once

#include <cstdint>
#include <span>

namespace ordavine::frames {

void join_rows(std::span<const std::uint8_t> a, std::uint64_t a_entries, std::span<const std::uint8_t> b,
               std::uint64_t b_entries, std::uint64_t shots, bool packed, std::span<std::uint8_t> out);

}  // namespace ordavine::frames
