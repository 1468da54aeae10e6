#include "random/chacha.hpp"

#include <bit>

namespace ordavine {
namespace {

// "expand 32-byte k" as four little-endian words.
constexpr std::array<std::uint32_t, 4> kSigma{0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

constexpr void quarter_round(ChaChaBlock& s, int a, int b, int c, int d) {
  s[a] += s[b];
  s[d] ^= s[a];
  s[d] = std::rotl(s[d], 16);
  s[c] += s[d];
  s[b] ^= s[c];
  s[b] = std::rotl(s[b], 12);
  s[a] += s[b];
  s[d] ^= s[a];
  s[d] = std::rotl(s[d], 8);
  s[c] += s[d];
  s[b] ^= s[c];
  s[b] = std::rotl(s[b], 7);
}

}  // namespace

ChaChaKey chacha_key_from_bytes(std::span<const std::uint8_t, 32> bytes) {
  ChaChaKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = std::uint32_t{bytes[4 * i]} | std::uint32_t{bytes[4 * i + 1]} << 8 |
             std::uint32_t{bytes[4 * i + 2]} << 16 | std::uint32_t{bytes[4 * i + 3]} << 24;
  }
  return key;
}

ChaChaBlock chacha_block(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds) {
  ChaChaBlock input{};
  for (int i = 0; i < 4; ++i) input[i] = kSigma[i];
  for (int i = 0; i < 8; ++i) input[4 + i] = key[i];
  input[12] = static_cast<std::uint32_t>(counter);
  input[13] = static_cast<std::uint32_t>(counter >> 32);
  input[14] = static_cast<std::uint32_t>(stream);
  input[15] = static_cast<std::uint32_t>(stream >> 32);

  ChaChaBlock state = input;
  for (unsigned round = 0; round < rounds; round += 2) {
    quarter_round(state, 0, 4, 8, 12);
    quarter_round(state, 1, 5, 9, 13);
    quarter_round(state, 2, 6, 10, 14);
    quarter_round(state, 3, 7, 11, 15);
    quarter_round(state, 0, 5, 10, 15);
    quarter_round(state, 1, 6, 11, 12);
    quarter_round(state, 2, 7, 8, 13);
    quarter_round(state, 3, 4, 9, 14);
  }
  for (std::size_t i = 0; i < state.size(); ++i) state[i] += input[i];
  return state;
}

}  // namespace ordavine
