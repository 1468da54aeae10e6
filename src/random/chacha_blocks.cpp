#include "random/chacha_blocks.hpp"

#include <bit>
#include <utility>

namespace ordavine {
namespace {

#define ORDAVINE_INLINE inline __attribute__((always_inline))

// Every helper is always inlined into an entry point with the width's
// target attribute, so no vector crosses a call; the compilers warn about
// the ABI of the helpers' vector values all the same.
#pragma GCC diagnostic ignored "-Wpsabi"

// Eight 32-bit lanes: one word of the state of each of eight blocks.
typedef std::uint32_t Lanes __attribute__((vector_size(32)));

typedef std::uint8_t Bytes __attribute__((vector_size(32)));

// The byte of a 32-bit lane that lands at byte k when the lane is rotated
// left by 8 r bits (bytes are little-endian: byte j moves to j + r).
constexpr int rotated_byte(int k, int r) { return 4 * (k / 4) + (k % 4 + 4 - r) % 4; }

// Every lane rotated left by 8 R bits as one shuffle of bytes.
template <int R, int... K>
ORDAVINE_INLINE Lanes rotate_bytes(Lanes v, std::integer_sequence<int, K...>) {
  Bytes b;
  __builtin_memcpy(&b, &v, sizeof b);
  b = __builtin_shufflevector(b, b, rotated_byte(K, R)...);
  __builtin_memcpy(&v, &b, sizeof v);
  return v;
}

// Rotations of every lane left by N bits.  Where the machine shuffles
// bytes in one instruction (ByteShuffles), rotations by whole bytes are
// that shuffle instead of two shifts and an OR.
template <int N, bool ByteShuffles>
ORDAVINE_INLINE Lanes rotl(Lanes v) {
  if constexpr (ByteShuffles && N % 8 == 0) {
    return rotate_bytes<N / 8>(v, std::make_integer_sequence<int, 32>{});
  } else {
    return (v << N) | (v >> (32 - N));
  }
}

template <bool ByteShuffles>
ORDAVINE_INLINE void quarter_round(Lanes* s, int a, int b, int c, int d) {
  s[a] += s[b];
  s[d] = rotl<16, ByteShuffles>(s[d] ^ s[a]);
  s[c] += s[d];
  s[b] = rotl<12, ByteShuffles>(s[b] ^ s[c]);
  s[a] += s[b];
  s[d] = rotl<8, ByteShuffles>(s[d] ^ s[a]);
  s[c] += s[d];
  s[b] = rotl<7, ByteShuffles>(s[b] ^ s[c]);
}

// An 8 x 8 transposition of 32-bit words: col[l][i] = rows[i][l].  Pairs,
// then quadruples, then halves are interleaved (the shuffles vector units
// make in one instruction).
ORDAVINE_INLINE void transpose8(const Lanes* rows, Lanes* col) {
  Lanes t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = __builtin_shufflevector(rows[i], rows[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
    t[i + 1] = __builtin_shufflevector(rows[i], rows[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
  }
  for (int h = 0; h < 8; h += 4) {
    u[h] = __builtin_shufflevector(t[h], t[h + 2], 0, 1, 8, 9, 4, 5, 12, 13);
    u[h + 1] = __builtin_shufflevector(t[h], t[h + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    u[h + 2] = __builtin_shufflevector(t[h + 1], t[h + 3], 0, 1, 8, 9, 4, 5, 12, 13);
    u[h + 3] = __builtin_shufflevector(t[h + 1], t[h + 3], 2, 3, 10, 11, 6, 7, 14, 15);
  }
  for (int k = 0; k < 4; ++k) {
    col[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    col[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

// "expand 32-byte k" as four little-endian words, as chacha.cpp.
constexpr std::uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

template <bool ByteShuffles>
ORDAVINE_INLINE void blocks_body(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                                 unsigned rounds, ChaChaWords& out) {
  Lanes input[16];
  for (int i = 0; i < 4; ++i) input[i] = Lanes{} + kSigma[i];
  for (int i = 0; i < 8; ++i) input[4 + i] = Lanes{} + key[i];
  Lanes low{}, high{};
  for (unsigned l = 0; l < kChaChaLanes; ++l) {
    const std::uint64_t c = counter + l;
    low[l] = static_cast<std::uint32_t>(c);
    high[l] = static_cast<std::uint32_t>(c >> 32);
  }
  input[12] = low;
  input[13] = high;
  input[14] = Lanes{} + static_cast<std::uint32_t>(stream);
  input[15] = Lanes{} + static_cast<std::uint32_t>(stream >> 32);

  Lanes s[16];
  for (int i = 0; i < 16; ++i) s[i] = input[i];
  for (unsigned round = 0; round < rounds; round += 2) {
    quarter_round<ByteShuffles>(s, 0, 4, 8, 12);
    quarter_round<ByteShuffles>(s, 1, 5, 9, 13);
    quarter_round<ByteShuffles>(s, 2, 6, 10, 14);
    quarter_round<ByteShuffles>(s, 3, 7, 11, 15);
    quarter_round<ByteShuffles>(s, 0, 5, 10, 15);
    quarter_round<ByteShuffles>(s, 1, 6, 11, 12);
    quarter_round<ByteShuffles>(s, 2, 7, 8, 13);
    quarter_round<ByteShuffles>(s, 3, 4, 9, 14);
  }
  for (int i = 0; i < 16; ++i) s[i] += input[i];
  // Lane l of s[0..15] is block l: transposed so each block's sixteen
  // words lie in order, which read as little-endian 64-bit words are the
  // pairs (2k, 2k + 1), the first the low half.
  static_assert(std::endian::native == std::endian::little, "blocks are stored as little-endian word pairs");
  Lanes first[8], second[8];
  transpose8(s, first);
  transpose8(s + 8, second);
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  for (unsigned l = 0; l < kChaChaLanes; ++l) {
    __builtin_memcpy(bytes + 64 * l, &first[l], 32);
    __builtin_memcpy(bytes + 64 * l + 32, &second[l], 32);
  }
}

}  // namespace

namespace chacha_lanes {

void portable(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds,
              ChaChaWords& out) {
  blocks_body<false>(key, counter, stream, rounds, out);
}

__attribute__((target("avx2"))) void avx2(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream,
                                          unsigned rounds, ChaChaWords& out) {
  blocks_body<true>(key, counter, stream, rounds, out);
}

bool avx2_supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace chacha_lanes

void chacha_blocks(const ChaChaKey& key, std::uint64_t counter, std::uint64_t stream, unsigned rounds,
                   ChaChaWords& out) {
  static const auto implementation =
      chacha_lanes::avx2_supported() ? &chacha_lanes::avx2 : &chacha_lanes::portable;
  implementation(key, counter, stream, rounds, out);
}

}  // namespace ordavine
