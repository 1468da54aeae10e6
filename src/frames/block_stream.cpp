#include "frames/block_stream.hpp"

#include <algorithm>

#include "frames/noise.hpp"
#include "frames/unit_logs.hpp"
#include "random/seeded_stream.hpp"

namespace ordavine::frames {

static_assert(SeededStream::kBlocksPerKey % kChaChaLanes == 0, "a refill never straddles a change of key");

void BlockStream::refill() {
  if (counter_ == SeededStream::kBlocksPerKey) {
    const ChaChaBlock next_key = chacha_block(key_, counter_, stream_, SeededStream::kRounds);
    std::copy_n(next_key.begin(), key_.size(), key_.begin());
    counter_ = 0;
  }
  chacha_blocks(key_, counter_, stream_, SeededStream::kRounds, words_);
  counter_ += kChaChaLanes;
  if (with_logs_) unit_logs(words_.data(), logs_.data(), kWords);
  position_ = 0;
}

double BlockStream::log_of(std::uint64_t word) {
  return portable_log(static_cast<double>((word >> 11) + 1) * 0x1p-53);
}

}  // namespace ordavine::frames
