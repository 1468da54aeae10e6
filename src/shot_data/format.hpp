// The shot data formats a sampler can write to a file, by the names the
// caller gives them, and the rules a format puts on what is written.
#pragma once

#include <cstdint>
#include <string_view>

namespace ordavine::shot_data {

// 01: a line of '0' and '1' per shot.  b8: each shot's bits packed into
// bytes, the first bit in the lowest bit.  r8: per shot, the lengths of the
// runs of zeros before each 1 and before the end.  ptb64: groups of 64
// shots, per bit one little-endian 64-bit word of the group's bits.  hits:
// per shot a line of the indices of its 1 bits, comma separated.  dets: per
// shot a line "shot" followed by a token such as " D3" per 1 bit.
enum class ShotFormat { f01, b8, r8, ptb64, hits, dets };

// The format called `name` ("01", "b8", "r8", "ptb64", "hits" or "dets",
// in lower case as written); InvalidInput listing the formats otherwise.
ShotFormat parse_shot_format(std::string_view name);

// The name parse_shot_format takes for `format`.
std::string_view shot_format_name(ShotFormat format);

// The number of shots the format writes together: the shot count of a
// file must be a multiple of it (64 for ptb64, 1 otherwise).
std::uint64_t shot_group_size(ShotFormat format);

// Refuses (InvalidInput naming the count) a shot count the format cannot
// write: a count that is not a multiple of 64 for ptb64.  Checked before
// anything is sampled or written, so a refusal leaves no partial file.
void check_shot_count(ShotFormat format, std::uint64_t shots);

}  // namespace ordavine::shot_data
