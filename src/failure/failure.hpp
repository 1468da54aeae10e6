// Internal failures of the core.  An operation that meets a bad index, an
// impossible size or a broken invariant calls `fail`: it writes the failure
// report to standard error and throws `Failure`, which unwinds (freeing every
// working copy on the way) to the interpreter entry point that raises it as
// an exception.  The core never talks to the interpreter itself.
#pragma once

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>

namespace ordavine {

class Failure : public std::exception {
 public:
  explicit Failure(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Input from outside that the core refuses: bytes of a saved state, circuit
// text, a parameter out of its range.  Unlike Failure it is the caller's
// mistake, not the module's, so it is reported as ValueError and writes no
// failure report.  The message says what is wrong and where.
class InvalidInput : public std::exception {
 public:
  explicit InvalidInput(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Writes the failure report for `message` at `where` to standard error.
void report_failure(const std::string& message, std::source_location where);

// Reports and throws a Failure.
[[noreturn]] void fail(std::string message, std::source_location where = std::source_location::current());

// Throws a Failure without a new report: used to carry on a failure that has
// already been reported elsewhere.
[[noreturn]] void resume_failure(std::string message);

// The failure for a qubit index at or above the register size.
[[noreturn]] void fail_index(std::size_t len, std::size_t index,
                             std::source_location where = std::source_location::current());

// The failure for a vector whose requested element count cannot be addressed.
[[noreturn]] void fail_capacity(std::source_location where = std::source_location::current());

}  // namespace ordavine
