#include "shot_data/output_buffer.hpp"

#include <algorithm>
#include <cstring>

#include "register/out_of_memory.hpp"

namespace ordavine::shot_data {

OutputBuffer::OutputBuffer(ByteSink& sink) : sink_(sink) {
  allocate_for(
      kCapacity, [] { return std::string("the shot data writer's buffer"); },
      [&] { bytes_.resize(kCapacity); });
}

void OutputBuffer::put(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (bytes.size() > kCapacity) {
    drain();
    sink_.write(bytes);
    return;
  }
  std::uint8_t* at = reserve(bytes.size());
  std::memcpy(at, bytes.data(), bytes.size());
  commit(at + bytes.size());
}

void OutputBuffer::fill(std::uint8_t byte, std::uint64_t count) {
  while (count > 0) {
    const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(count, kCapacity));
    std::uint8_t* at = reserve(part);
    std::memset(at, byte, part);
    commit(at + part);
    count -= part;
  }
}

void OutputBuffer::drain() {
  if (used_ == 0) return;
  // Emptied before the write: a sink that throws leaves nothing to be
  // written twice.
  const std::size_t used = used_;
  used_ = 0;
  sink_.write(std::span<const std::uint8_t>(bytes_.data(), used));
}

}  // namespace ordavine::shot_data
