#include "random/os_entropy.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace ordavine {
namespace {

using GetrandomFunction = ssize_t (*)(void*, std::size_t, unsigned int);

// The error of the call that just failed, read from errno.
EntropyError last_os_error() {
  const int number = errno;
  if (number <= 0) return EntropyError{EntropyError::kErrnoNotPositive};
  return EntropyError{static_cast<std::uint32_t>(number)};
}

// The GNU strerror_r returns the message; the XSI one fills the buffer.
[[maybe_unused]] const char* pick_message(const char* gnu_result, const char*) { return gnu_result; }
[[maybe_unused]] const char* pick_message(int, const char* buffer) { return buffer; }

std::string os_error_message(int number) {
  char buffer[128] = {};
  return pick_message(strerror_r(number, buffer, sizeof buffer), buffer);
}

// Looks getrandom up in the running process rather than linking to it, so
// the module loads on systems whose C library lacks it.  A kernel without
// the system call (ENOSYS) or a sandbox that forbids it (EPERM) is found by
// one empty request and sends every later call to the device files.
GetrandomFunction find_usable_getrandom() {
  const auto function = reinterpret_cast<GetrandomFunction>(dlsym(RTLD_DEFAULT, "getrandom"));
  if (function == nullptr) return nullptr;
  if (function(nullptr, 0, 0) < 0 && (errno == EPERM || errno == ENOSYS)) return nullptr;
  return function;
}

std::optional<EntropyError> fill_with_getrandom(GetrandomFunction getrandom_function,
                                                std::span<std::uint8_t> buffer) {
  while (!buffer.empty()) {
    const ssize_t got = getrandom_function(buffer.data(), buffer.size(), 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return last_os_error();
    }
    if (got == 0 || static_cast<std::size_t>(got) > buffer.size()) {
      return EntropyError{EntropyError::kUnexpected};
    }
    buffer = buffer.subspan(static_cast<std::size_t>(got));
  }
  return std::nullopt;
}

// Opens a device read-only and close-on-exec, repeating when interrupted.
// Returns the descriptor, or -1 with errno set.
int open_device(const char* path) {
  for (;;) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// Blocks until the kernel's pool has been initialised, which "/dev/random"
// signals by becoming readable; "/dev/urandom" alone would not wait for it.
std::optional<EntropyError> wait_for_random_pool() {
  const int fd = open_device("/dev/random");
  if (fd < 0) return last_os_error();
  pollfd request{fd, POLLIN, 0};
  std::optional<EntropyError> error;
  for (;;) {
    if (::poll(&request, 1, -1) >= 0) break;
    if (errno != EINTR) {
      error = last_os_error();
      break;
    }
  }
  ::close(fd);
  return error;
}

// The "/dev/urandom" descriptor, opened on first use and then kept.  A
// failed attempt leaves it unopened so that a later call tries again;
// concurrent first callers wait for the one that is opening it.
std::optional<EntropyError> urandom_descriptor(int& fd_out) {
  static std::mutex opening;
  static int urandom_fd = -1;
  const std::lock_guard<std::mutex> lock(opening);
  if (urandom_fd < 0) {
    if (auto error = wait_for_random_pool()) return error;
    const int fd = open_device("/dev/urandom");
    if (fd < 0) return last_os_error();
    urandom_fd = fd;
  }
  fd_out = urandom_fd;
  return std::nullopt;
}

}  // namespace

std::string EntropyError::text() const {
  if (code < kInternalErrorStart) {
    const int number = static_cast<int>(code);
    return os_error_message(number) + " (os error " + std::to_string(number) + ")";
  }
  switch (code) {
    case kUnsupported: return "getrandom: this target is not supported";
    case kErrnoNotPositive: return "errno: did not return a positive value";
    case kUnexpected: return "unexpected situation";
    default: return "Unknown Error: " + std::to_string(code);
  }
}

std::optional<EntropyError> fill_from_device_files(std::span<std::uint8_t> buffer) {
  int fd = -1;
  if (auto error = urandom_descriptor(fd)) return error;
  while (!buffer.empty()) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return last_os_error();
    }
    if (got == 0 || static_cast<std::size_t>(got) > buffer.size()) {
      return EntropyError{EntropyError::kUnexpected};
    }
    buffer = buffer.subspan(static_cast<std::size_t>(got));
  }
  return std::nullopt;
}

std::optional<EntropyError> fill_from_os_entropy(std::span<std::uint8_t> buffer) {
  static const GetrandomFunction getrandom_function = find_usable_getrandom();
  if (getrandom_function == nullptr) return fill_from_device_files(buffer);
  return fill_with_getrandom(getrandom_function, buffer);
}

}  // namespace ordavine
