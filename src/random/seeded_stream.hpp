// A reproducible random source: a ChaCha12 keystream that is a function of
// a key and a stream number alone, and the fixed derivation of that key from
// a non-negative integer seed.
//
// Key derivation.  The seed is given as its minimal little-endian bytes
// (the empty sequence for 0); L is their number.  The bytes, padded with
// zeros to a whole number m >= 1 of 32-byte chunks, are read chunk by chunk
// as eight little-endian words c_0 .. c_{m-1}.  Starting from the all-zero
// key K,
//     K <- first eight words of ChaCha12(key K xor c_i, counter i, stream L)
// for i = 0 .. m-1, and the seed's key is
//     first eight words of ChaCha12(key K, counter m, stream L + 2^63).
// The length in the stream word keeps seeds that differ only in trailing
// padding apart; the last block separates a finished key from a chaining
// value.  Nothing depends on the machine or the interpreter.
//
// Stream.  Keystream blocks 0, 1, 2, ... of (key, stream) are handed out
// word by word, four blocks buffered at a time.  After 1024 blocks (64 KiB)
// block 1024, never handed out, supplies the next key (its first eight
// words) and the counter starts again at 0 on the same stream number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "random/chacha.hpp"
#include "random/random_source.hpp"

namespace ordavine {

ChaChaKey key_from_seed(std::span<const std::uint8_t> seed_bytes);

class SeededStream final : public RandomSource {
 public:
  static constexpr unsigned kRounds = 12;
  static constexpr std::uint64_t kBlocksPerKey = 1024;  // 64 KiB of output per key
  static constexpr std::size_t kBlocksPerRefill = 4;
  static constexpr std::size_t kBufferWords = 16 * kBlocksPerRefill;
  static_assert(kBlocksPerKey % kBlocksPerRefill == 0, "a refill never straddles a rekey");

  SeededStream(const ChaChaKey& key, std::uint64_t stream);

  std::uint32_t next_word() override {
    if (position_ >= kBufferWords) refill();
    return buffer_[position_++];
  }

 private:
  void refill();

  ChaChaKey key_;
  std::uint64_t stream_;
  std::uint64_t counter_ = 0;
  std::array<std::uint32_t, kBufferWords> buffer_{};
  std::size_t position_ = kBufferWords;  // at the end: nothing left to read
};

}  // namespace ordavine
