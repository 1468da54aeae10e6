// A write of shot data that the operating system refused: disk full, a
// broken pipe, an I/O error.  It carries the error number and the system's
// text for it and no path: the core does not know where the bytes go, so
// the binding adds the path when it raises it as OSError.
#pragma once

#include <exception>
#include <string>

namespace ordavine::shot_data {

class IoError : public std::exception {
 public:
  // For errno value `error_number` (EIO when it is 0: a failed write that
  // left no error number still failed); the text is the system's.
  explicit IoError(int error_number);

  int error_number() const noexcept { return error_number_; }
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  int error_number_;
  std::string message_;
};

}  // namespace ordavine::shot_data
