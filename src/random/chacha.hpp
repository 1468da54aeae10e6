// The ChaCha block function with 256-bit key, 64-bit block counter and
// 64-bit stream (nonce) number, and a chosen number of rounds.  The random
// generator uses 12 rounds; the round count is a parameter so the function
// can be checked against published 8-, 12- and 20-round keystreams.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ordavine {

// The key as eight little-endian words.
using ChaChaKey = std::array<std::uint32_t, 8>;

// One 64-byte keystream block as sixteen words (byte 4i + j of the block is
// byte j, least significant first, of word i).
using ChaChaBlock = std::array<std::uint32_t, 16>;

// Reads 32 bytes as eight little-endian words.
ChaChaKey chacha_key_from_bytes(std::span<const std::uint8_t, 32> bytes);

// The keystream block number `counter` of the given key and stream.  The
// counter fills state words 12 (low half) and 13 (high half), the stream
// words 14 and 15.  `rounds` is even: each pass is a column and a diagonal
// round.
ChaChaBlock chacha_block(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds);

}  // namespace ordavine
