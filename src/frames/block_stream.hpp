// The random words of one block of shots: a ChaCha12 keystream read as
// 64-bit words.  It is the sequence of SeededStream(key, stream) taken two
// 32-bit words at a time, the first as the low half (the same keystream
// blocks, the same change of key every 1024 blocks), produced a block at a
// time with no call per word.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "random/chacha.hpp"

namespace ordavine::frames {

class BlockStream {
 public:
  BlockStream() = default;
  BlockStream(const ChaChaKey& key, std::uint64_t stream) : key_(key), stream_(stream) {}

  std::uint64_t next() {
    if (position_ == kWords) refill();
    return buffer_[position_++];
  }

  // Four words: 256 bits, one per shot of a block.
  void next4(std::uint64_t* out) {
    if (position_ + 4 > kWords) {
      for (int i = 0; i < 4; ++i) out[i] = next();
      return;
    }
    for (int i = 0; i < 4; ++i) out[i] = buffer_[position_ + i];
    position_ += 4;
  }

 private:
  static constexpr std::size_t kWords = 8;  // one keystream block

  void refill();

  ChaChaKey key_{};
  std::uint64_t stream_ = 0;
  std::uint64_t counter_ = 0;
  std::array<std::uint64_t, kWords> buffer_{};
  std::size_t position_ = kWords;
};

}  // namespace ordavine::frames
