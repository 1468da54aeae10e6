// The operating system's entropy source, used to key the random generator.
// Linux only: the getrandom function when the running system provides it,
// otherwise the device files, "/dev/random" waited on once until the kernel
// pool is ready and then "/dev/urandom" read for the rest of the process.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace ordavine {

// Why entropy could not be had.  A code below kInternalErrorStart is an
// operating-system error number; codes from there on name conditions of the
// source itself.
struct EntropyError {
  static constexpr std::uint32_t kInternalErrorStart = std::uint32_t{1} << 31;
  static constexpr std::uint32_t kUnsupported = kInternalErrorStart;
  static constexpr std::uint32_t kErrnoNotPositive = kInternalErrorStart + 1;
  static constexpr std::uint32_t kUnexpected = kInternalErrorStart + 2;

  std::uint32_t code;

  // The system's message plus " (os error N)" for an operating-system
  // error, otherwise the source's own text.
  std::string text() const;
};

// Fills `buffer` completely, or says why not.  The choice between getrandom
// and the device files is made once per process, on the first call.
std::optional<EntropyError> fill_from_os_entropy(std::span<std::uint8_t> buffer);

// The device-file path on its own: waits once per process for "/dev/random"
// to become readable, then reads "/dev/urandom" through a descriptor kept
// open for the life of the process.
std::optional<EntropyError> fill_from_device_files(std::span<std::uint8_t> buffer);

// Where a generator takes its 32 key bytes from; replaceable in tests.
using EntropyFunction = std::function<std::optional<EntropyError>(std::span<std::uint8_t, 32>)>;

}  // namespace ordavine
