#include "random/seeded_stream.hpp"

#include <algorithm>

namespace ordavine {
namespace {

constexpr std::size_t kChunkBytes = 32;
constexpr std::uint64_t kFinalBlockTag = std::uint64_t{1} << 63;

ChaChaKey first_eight_words(const ChaChaBlock& block) {
  ChaChaKey key{};
  std::copy_n(block.begin(), key.size(), key.begin());
  return key;
}

}  // namespace

ChaChaKey key_from_seed(std::span<const std::uint8_t> seed_bytes) {
  const std::uint64_t length = seed_bytes.size();
  const std::size_t chunks = std::max<std::size_t>(1, (seed_bytes.size() + kChunkBytes - 1) / kChunkBytes);
  ChaChaKey key{};
  for (std::size_t i = 0; i < chunks; ++i) {
    std::array<std::uint8_t, kChunkBytes> chunk{};
    const std::size_t start = i * kChunkBytes;
    const std::size_t count = std::min(kChunkBytes, seed_bytes.size() - std::min(start, seed_bytes.size()));
    std::copy_n(seed_bytes.begin() + static_cast<std::ptrdiff_t>(start), count, chunk.begin());
    ChaChaKey mixed = chacha_key_from_bytes(chunk);
    for (std::size_t w = 0; w < mixed.size(); ++w) mixed[w] ^= key[w];
    key = first_eight_words(chacha_block(mixed, i, length, SeededStream::kRounds));
  }
  return first_eight_words(chacha_block(key, chunks, length + kFinalBlockTag, SeededStream::kRounds));
}

SeededStream::SeededStream(const ChaChaKey& key, std::uint64_t stream) : key_(key), stream_(stream) {}

void SeededStream::refill() {
  if (counter_ == kBlocksPerKey) {
    key_ = first_eight_words(chacha_block(key_, kBlocksPerKey, stream_, kRounds));
    counter_ = 0;
  }
  for (std::size_t block = 0; block < kBlocksPerRefill; ++block) {
    const ChaChaBlock words = chacha_block(key_, counter_ + block, stream_, kRounds);
    std::copy(words.begin(), words.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(16 * block));
  }
  counter_ += kBlocksPerRefill;
  position_ = 0;
}

}  // namespace ordavine
