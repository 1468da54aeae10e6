// Where a shot data writer puts its bytes.  The writer hands over bytes in
// order and calls flush once at the end; a sink that cannot take them
// throws (IoError for the operating system's refusals).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace ordavine::shot_data {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes all of `bytes` or throws.
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
  // Passes on whatever the sink holds back; throws what write would.
  virtual void flush() {}
};

// Writes to a stdio stream the caller opened (in binary mode) and closes.
// A short write, or a failed flush, throws IoError with the stream's errno;
// a write or flush interrupted by a signal carries on where it stopped.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  void write(std::span<const std::uint8_t> bytes) override;
  void flush() override;

 private:
  std::FILE* file_;
};

// Collects the bytes in memory: for tests and checks.
class MemorySink final : public ByteSink {
 public:
  void write(std::span<const std::uint8_t> bytes) override;
  const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace ordavine::shot_data
