// The seeded stream: its block layout across rekeys, and a key derivation
// that keeps distinct seeds apart.  (tests/python/test_seed.py checks both
// against an independent model of the cipher.)
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "random/chacha.hpp"
#include "random/seeded_stream.hpp"

namespace ordavine {
namespace {

ChaChaKey leading_words(const ChaChaBlock& block) {
  ChaChaKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = block[i];
  return key;
}

// Three full keys' worth of output: blocks 0..1023 of each key in order,
// where each next key is the first eight words of block 1024 of the one
// before, which itself never appears in the output.
TEST(SeededStream, HandsOutEachKeysFirst1024BlocksThenRekeysFromBlock1024) {
  const ChaChaKey first{1, 2, 3, 4, 5, 6, 7, 0x80000000u};
  const std::uint64_t stream = 0x0123456789abcdefull;
  SeededStream generator(first, stream);
  ChaChaKey key = first;
  for (int epoch = 0; epoch < 3; ++epoch) {
    for (std::uint64_t block = 0; block < SeededStream::kBlocksPerKey; ++block) {
      const ChaChaBlock expected = chacha_block(key, block, stream, 12);
      for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(generator.next_word(), expected[i])
            << "epoch " << epoch << " block " << block << " word " << i;
      }
    }
    const ChaChaKey next = leading_words(chacha_block(key, SeededStream::kBlocksPerKey, stream, 12));
    ASSERT_NE(next, key);
    key = next;
  }
}

// Seeds that could collide under a careless padding or chunking rule: all
// short values, lengths around the 32-byte chunk size, and values equal up
// to trailing zero bytes (which a minimal encoding never has, but a chunk's
// padding does).
TEST(KeyFromSeed, DistinctSeedsGiveDistinctKeysAndTheSameSeedTheSameKey) {
  std::vector<std::vector<std::uint8_t>> seeds{{}, {0}, {0, 0}};
  for (int value = 1; value < 4096; ++value) {
    std::vector<std::uint8_t> bytes;
    for (int v = value; v != 0; v >>= 8) bytes.push_back(static_cast<std::uint8_t>(v));
    seeds.push_back(bytes);
  }
  for (std::size_t length : {31u, 32u, 33u, 63u, 64u, 65u}) {
    seeds.push_back(std::vector<std::uint8_t>(length, 0xff));
    std::vector<std::uint8_t> padded(length, 0);
    padded[0] = 1;
    seeds.push_back(padded);
  }
  std::set<ChaChaKey> keys;
  for (const auto& seed : seeds) {
    const ChaChaKey key = key_from_seed(seed);
    EXPECT_EQ(key, key_from_seed(seed));
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), seeds.size());
}

}  // namespace
}  // namespace ordavine
