// Stopping long computations from outside.  A circuit run, a batch of
// shots or a cut's rank can take far longer than anyone wants to wait, and
// the caller (the binding: Ctrl-C) must be able to end it.  Such a
// computation counts the work it does in a WorkMeter, and every
// kPollInterval units the meter asks the caller's CancelCheck whether to go
// on; when the answer is to stop it throws Cancelled, which unwinds like
// Failure, freeing every working copy on the way.
//
// Units are what the computation's inner step costs (a target of an
// instruction, a row word of an elimination), so that a poll comes after a
// bounded stretch of work however the work is shaped.  Counting is one
// subtraction and one comparison; the check itself is made rarely, and it
// draws nothing and writes nothing, so counting never changes a result.
#pragma once

#include <cstdint>
#include <exception>

namespace ordavine {

// The caller's side: whether to stop now.
class CancelCheck {
 public:
  virtual bool cancelled() = 0;

 protected:
  ~CancelCheck() = default;
};

// Thrown when a CancelCheck has asked to stop.  What the caller should
// report (KeyboardInterrupt, say) is the caller's business: the check knows.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "the computation was cancelled"; }
};

class WorkMeter {
 public:
  static constexpr std::uint64_t kPollInterval = std::uint64_t{1} << 20;

  // Without a check the meter counts and never stops anything.
  explicit WorkMeter(CancelCheck* check) noexcept : check_(check) {}

  // Counts `units` of work done: throws Cancelled when a poll says to stop.
  void count(std::uint64_t units) {
    if (units < left_) [[likely]] {
      left_ -= units;
      return;
    }
    poll();
  }

 private:
  [[gnu::noinline]] void poll() {
    left_ = kPollInterval;
    if (check_ != nullptr && check_->cancelled()) throw Cancelled();
  }

  CancelCheck* check_;
  std::uint64_t left_ = kPollInterval;
};

}  // namespace ordavine
