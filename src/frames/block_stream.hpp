// The random words of one block of shots: a ChaCha12 keystream read as
// 64-bit words.  It is the sequence of SeededStream(key, stream) taken two
// 32-bit words at a time, the first as the low half (the same keystream
// blocks, the same change of key every 1024 blocks), produced eight
// keystream blocks at a time with no call per word.
//
// A stream that feeds the gap sampler keeps, beside each word, ln U of it
// (unit_logs.hpp), computed for a whole refill at once: a firing site then
// costs a multiplication, not a logarithm.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "random/chacha.hpp"
#include "random/chacha_blocks.hpp"

namespace ordavine::frames {

class BlockStream {
 public:
  // `with_logs`: keep ln U beside each word, for next_log().
  BlockStream(const ChaChaKey& key, std::uint64_t stream, bool with_logs = false)
      : key_(key), stream_(stream), with_logs_(with_logs) {}

  std::uint64_t next() {
    if (position_ == kWords) refill();
    return words_[position_++];
  }

  // ln U of the next word, U = (floor(w / 2^11) + 1) / 2^53: the double
  // portable_log gives (computed on the spot for a stream made without).
  double next_log() {
    if (position_ == kWords) refill();
    const std::uint32_t at = position_++;
    return with_logs_ ? logs_[at] : log_of(words_[at]);
  }

  // Four words: 256 bits, one per shot of a block.
  void next4(std::uint64_t* out) {
    if (position_ + 4 > kWords) {
      for (int i = 0; i < 4; ++i) out[i] = next();
      return;
    }
    for (int i = 0; i < 4; ++i) out[i] = words_[position_ + i];
    position_ += 4;
  }

 private:
  static constexpr std::size_t kWords = std::tuple_size_v<ChaChaWords>;

  void refill();
  static double log_of(std::uint64_t word);

  ChaChaKey key_{};
  std::uint64_t stream_ = 0;
  std::uint64_t counter_ = 0;
  bool with_logs_ = false;
  // Not a 64-bit type: the words drawn are stored to 64-bit arrays, which
  // could otherwise alias the position and have it loaded again each time.
  std::uint32_t position_ = kWords;
  ChaChaWords words_;
  std::array<double, kWords> logs_;
};

}  // namespace ordavine::frames
