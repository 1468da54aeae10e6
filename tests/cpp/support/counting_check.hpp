// A CancelCheck for tests: counts the polls and asks to stop at the
// `stop_at`-th one (never when 0).
#pragma once

#include "register/work_meter.hpp"

namespace ordavine::test_checks {

class CountingCheck final : public CancelCheck {
 public:
  explicit CountingCheck(int stop_at = 0) : stop_at_(stop_at) {}
  bool cancelled() override { return ++polls == stop_at_; }
  int polls = 0;

 private:
  int stop_at_;
};

}  // namespace ordavine::test_checks
