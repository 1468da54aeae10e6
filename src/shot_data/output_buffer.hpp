// The writer's bytes on their way to the sink: gathered in a buffer of a
// fixed size and handed over when it fills, so that the encoders write
// into memory a token or a word at a time while the sink sees few large
// writes, and the memory a writer holds does not grow with the shots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "shot_data/byte_sink.hpp"

namespace ordavine::shot_data {

class OutputBuffer {
 public:
  static constexpr std::size_t kCapacity = std::size_t{1} << 16;

  // Allocates the buffer (OutOfMemory when it cannot).
  explicit OutputBuffer(ByteSink& sink);

  // Room for `n` more bytes (n at most kCapacity), after handing the
  // bytes so far to the sink when they would not fit.  The caller writes
  // from the pointer on and says where it stopped with commit.
  std::uint8_t* reserve(std::size_t n) {
    if (bytes_.size() - used_ < n) drain();
    return bytes_.data() + used_;
  }
  void commit(const std::uint8_t* end) { used_ = static_cast<std::size_t>(end - bytes_.data()); }

  // Appends `bytes`; a span larger than the buffer goes to the sink as it is.
  void put(std::span<const std::uint8_t> bytes);
  // Appends `count` copies of `byte`.
  void fill(std::uint8_t byte, std::uint64_t count);
  // Hands the bytes gathered so far to the sink.
  void drain();

 private:
  ByteSink& sink_;
  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
};

}  // namespace ordavine::shot_data
