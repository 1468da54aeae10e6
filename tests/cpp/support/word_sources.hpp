// Random sources for tests: a fixed word on every draw (it forces the
// outcome bit of a random measurement) and a source that must not be drawn
// from, both counting what was asked of them.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "random/random_source.hpp"

namespace ordavine::test_words {

class FixedWord final : public RandomSource {
 public:
  explicit FixedWord(std::uint32_t word) : word_(word) {}
  std::uint32_t next_word() override {
    ++drawn;
    return word_;
  }
  int drawn = 0;

 private:
  std::uint32_t word_;
};

// Forces the outcome bit r of a random measurement.
inline FixedWord forced(int r) { return FixedWord(r == 0 ? 0u : 0x80000000u); }

class NoDraws final : public RandomSource {
 public:
  std::uint32_t next_word() override { throw std::logic_error("a word was drawn"); }
};

}  // namespace ordavine::test_words
