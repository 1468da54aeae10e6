// Eight consecutive ChaCha keystream blocks at once: the same blocks as
// chacha_block(key, counter + l, stream, rounds) for l = 0 .. 7, computed
// side by side in vector lanes (one lane per block), so that a stream read
// in bulk costs a fraction of eight single blocks.  The vector width only
// sets how the lanes are computed; the words are the same on every machine.
#pragma once

#include <array>
#include <cstdint>

#include "random/chacha.hpp"

namespace ordavine {

inline constexpr std::size_t kChaChaLanes = 8;

// Keystream words as 64-bit words: word k of block l is its 32-bit words
// 2k (low half) and 2k + 1 (high half), at index 8 l + k.
using ChaChaWords = std::array<std::uint64_t, 8 * kChaChaLanes>;

// Blocks counter .. counter + 7 of the key and stream, by the widest
// implementation this machine runs.
void chacha_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds,
                   ChaChaWords& out);

// Each implementation by name, for tests that hold them side by side.
namespace chacha_lanes {
void portable(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds,
              ChaChaWords& out);
void avx2(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds,
          ChaChaWords& out);
bool avx2_supported();
}  // namespace chacha_lanes

}  // namespace ordavine
