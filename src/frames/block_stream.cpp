#include "frames/block_stream.hpp"

#include <algorithm>

#include "random/seeded_stream.hpp"

namespace ordavine::frames {

void BlockStream::refill() {
  if (counter_ == SeededStream::kBlocksPerKey) {
    const ChaChaBlock next_key = chacha_block(key_, counter_, stream_, SeededStream::kRounds);
    std::copy_n(next_key.begin(), key_.size(), key_.begin());
    counter_ = 0;
  }
  const ChaChaBlock block = chacha_block(key_, counter_++, stream_, SeededStream::kRounds);
  for (std::size_t i = 0; i < kWords; ++i) {
    buffer_[i] = std::uint64_t{block[2 * i]} | std::uint64_t{block[2 * i + 1]} << 32;
  }
  position_ = 0;
}

}  // namespace ordavine::frames
