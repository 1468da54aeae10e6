#include "frames/parallel_shots.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "failure/failure.hpp"
#include "frames/batch_rows.hpp"
#include "register/out_of_memory.hpp"

namespace ordavine::frames {
namespace {

// How often the calling thread, its own share done, looks at its check
// while the others finish.
constexpr std::chrono::milliseconds kWaitPoll{10};

// A thread's answer to "stop?": whether any thread has asked all to stop.
class SharedStop final : public CancelCheck {
 public:
  explicit SharedStop(std::atomic<bool>& stop) : stop_(stop) {}
  bool cancelled() override { return stop_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool>& stop_;
};

// The calling thread's: the caller's check, which stops every thread.
class CallerStop final : public CancelCheck {
 public:
  CallerStop(CancelCheck* caller, std::atomic<bool>& stop) : caller_(caller), stop_(stop) {}
  bool cancelled() override {
    if (stop_.load(std::memory_order_relaxed)) return true;
    if (caller_ != nullptr && caller_->cancelled()) {
      stop_.store(true, std::memory_order_relaxed);
      return true;
    }
    return false;
  }

 private:
  CancelCheck* caller_;
  std::atomic<bool>& stop_;
};

// The rows of a share; none where the call gives no rows (preparing).
std::span<std::uint8_t> part(std::span<std::uint8_t> rows, std::size_t offset, std::size_t size) {
  return rows.empty() ? rows : rows.subspan(offset, size);
}

// Shot numbers stop at 2^64 - 1.
void check_range(std::uint64_t first, std::uint64_t count) {
  if (count != 0 && count - 1 > ~std::uint64_t{0} - first) fail("shot numbers past 2^64 - 1");
}

}  // namespace

unsigned available_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

ThreadedSampler::ThreadedSampler(const circuit::Program& program, bool detectors, bool packed,
                                 std::shared_ptr<const ReferenceRecord> reference, unsigned threads)
    : detectors_(detectors) {
  if (!detectors && !reference) reference = make_reference_record(program);
  SamplerOptions options;
  options.reference = std::move(reference);
  for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
    samplers_.push_back(std::make_unique<FrameSampler>(program, detectors, packed, options));
  }
}

// The call's blocks in as many runs of whole blocks as there are samplers
// (fewer when there are fewer blocks), as even as they can be.
std::vector<ThreadedSampler::Share> ThreadedSampler::shares_of(std::uint64_t first, std::uint64_t count,
                                                               SampleOutputs outputs) const {
  const std::uint64_t first_block = first / kBlockShots;
  const std::uint64_t blocks = blocks_spanned(first, count);
  const auto n = static_cast<unsigned>(std::min<std::uint64_t>(samplers_.size(), blocks));
  const std::size_t widths[] = {measurement_row_bytes(), detector_row_bytes(), observable_row_bytes()};
  std::vector<Share> shares;
  std::uint64_t block = first_block;
  for (unsigned i = 0; i < n; ++i) {
    const std::uint64_t take = blocks / n + (i < blocks % n ? 1 : 0);
    const std::uint64_t begin = std::max(first, block * kBlockShots);
    const std::uint64_t end = std::min(first + count, (block + take) * kBlockShots);
    const auto offset = static_cast<std::size_t>(begin - first), size = static_cast<std::size_t>(end - begin);
    shares.push_back({begin,
                      end - begin,
                      {part(outputs.measurements, offset * widths[0], size * widths[0]),
                       part(outputs.detectors, offset * widths[1], size * widths[1]),
                       part(outputs.observables, offset * widths[2], size * widths[2])}});
    block += take;
  }
  return shares;
}

void ThreadedSampler::share_gauge_look(std::uint64_t first, std::uint64_t count, CancelCheck* cancel) {
  if (!detectors_ || samplers_.size() == 1) return;
  if (!long_enough_to_look(first, count)) return;
  const bool needed = samplers_.front()->events_need_gauges(cancel);
  for (std::size_t i = 1; i < samplers_.size(); ++i) samplers_[i]->take_gauge_finding(needed);
}

void ThreadedSampler::prepare(std::uint64_t first, std::uint64_t count, CancelCheck* cancel) {
  check_range(first, count);
  if (count == 0) return;
  share_gauge_look(first, count, cancel);
  const std::vector<Share> shares = shares_of(first, count, {});
  for (std::size_t i = 0; i < shares.size(); ++i)
    samplers_[i]->prepare(shares[i].first, shares[i].count, cancel);
}

void ThreadedSampler::run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count,
                                SampleOutputs outputs, CancelCheck* cancel) {
  check_range(first, count);
  if (count == 0 || samplers_.size() == 1)
    return samplers_.front()->run_shots(key, first, count, outputs, cancel);
  share_gauge_look(first, count, cancel);
  const std::vector<Share> shares = shares_of(first, count, outputs);
  const auto run_share = [&](std::size_t i, CancelCheck* check) {
    samplers_[i]->run_shots(key, shares[i].first, shares[i].count, shares[i].outputs, check);
  };
  if (shares.size() == 1) return run_share(0, cancel);

  std::atomic<bool> stop{false};
  std::vector<std::exception_ptr> errors(shares.size());
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t running = shares.size() - 1;
  std::vector<std::jthread> workers;
  workers.reserve(shares.size() - 1);
  const auto work = [&](std::size_t i) {
    SharedStop check(stop);
    try {
      run_share(i, &check);
    } catch (...) {
      errors[i] = std::current_exception();
      stop.store(true, std::memory_order_relaxed);
    }
    const std::lock_guard lock(mutex);
    --running;
    finished.notify_one();
  };
  try {
    for (std::size_t i = 1; i < shares.size(); ++i) workers.emplace_back(work, i);
  } catch (const std::system_error&) {
    // The threads already started stop at their next poll and are joined.
    stop.store(true, std::memory_order_relaxed);
    workers.clear();
    throw OutOfMemory("could not start the threads of a sampling call");
  }
  CallerStop check(cancel, stop);
  try {
    run_share(0, &check);
  } catch (...) {
    errors.front() = std::current_exception();
    stop.store(true, std::memory_order_relaxed);
  }
  {
    std::unique_lock lock(mutex);
    while (running != 0) {
      if (finished.wait_for(lock, kWaitPoll, [&] { return running == 0; })) break;
      lock.unlock();
      check.cancelled();  // a Ctrl-C while the others finish stops them
      lock.lock();
    }
  }
  workers.clear();  // joined
  // A failure is reported before a cancellation, which it may have caused.
  std::exception_ptr cancelled;
  for (const std::exception_ptr& error : errors) {
    if (!error) continue;
    try {
      std::rethrow_exception(error);
    } catch (const Cancelled&) {
      cancelled = error;
    } catch (...) {
      throw;
    }
  }
  if (cancelled) std::rethrow_exception(cancelled);
  if (stop.load()) throw Cancelled();
}

}  // namespace ordavine::frames
