#include "shot_data/byte_sink.hpp"

#include <cerrno>

#include "shot_data/io_error.hpp"

namespace ordavine::shot_data {

void FileSink::write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    errno = 0;
    const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file_);
    bytes = bytes.subspan(written);
    if (bytes.empty()) return;
    const int error = errno;
    // A signal (Python's handlers interrupt system calls) is no failure of
    // the write: clear the stream's error state and write the rest.
    if (error != EINTR) throw IoError(error);
    std::clearerr(file_);
  }
}

void FileSink::flush() {
  for (;;) {
    errno = 0;
    if (std::fflush(file_) == 0) return;
    const int error = errno;
    if (error != EINTR) throw IoError(error);
    std::clearerr(file_);
  }
}

void MemorySink::write(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

}  // namespace ordavine::shot_data
