// The binary formats: b8 (each shot's packed bytes), r8 (each shot's runs
// of zeros as bytes) and ptb64 (64 shots at a time, bit by bit).
#pragma once

#include <cstdint>

#include "shot_data/output_buffer.hpp"
#include "shot_data/packed_rows.hpp"

namespace ordavine::shot_data {

// The shots' rows as they are, the last byte of each with its padding bits
// cleared.  `rows` holds `shots` consecutive rows.
void write_b8_shots(const std::uint8_t* rows, std::uint64_t shots, const RowShape& shape, OutputBuffer& out);

// Per 1 bit, and once more for the end of the shot (as if a 1 followed its
// last bit), the number of zeros since the previous 1: a byte 255 for each
// whole 255 of them, then a byte with the rest (0 to 254).  Zero words are
// counted whole.
void write_r8_shot(const std::uint8_t* row, const RowShape& shape, OutputBuffer& out);

// The 64 consecutive rows at `rows`: per bit of a shot, in order, a
// little-endian 64-bit word whose bit k is that bit of the k-th shot.
// Done as 64 x 64 bit transposes, one per 64 bits of the shots.
void write_ptb64_group(const std::uint8_t* rows, const RowShape& shape, OutputBuffer& out);

// Transposes a 64 x 64 bit matrix in place: bit j of word i goes to bit i
// of word j.
void transpose_bits64(std::uint64_t* words);

}  // namespace ordavine::shot_data
