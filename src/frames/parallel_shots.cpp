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

// The shots of one thread: [first, first + count), and its rows.
struct Share {
  std::uint64_t first = 0, count = 0;
  SampleOutputs outputs;
};

void run_share(const ShotJob& job, const ChaChaKey& key, const Share& share, CancelCheck* check) {
  SamplerOptions options;
  options.reference = job.reference;
  FrameSampler sampler(job.program, job.detectors, job.packed, options);
  sampler.run_shots(key, share.first, share.count, share.outputs, check);
}

// Splits the call's blocks into `threads` runs of whole blocks, as even as
// they can be.
std::vector<Share> shares_of(const ShotJob& job, std::uint64_t first, std::uint64_t count,
                             SampleOutputs outputs, unsigned threads) {
  const std::uint64_t first_block = first / kBlockShots;
  const std::uint64_t blocks = (first + count - 1) / kBlockShots + 1 - first_block;
  const unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(std::max(threads, 1u), blocks));
  FrameSampler sizes(job.program, job.detectors, job.packed);
  const std::size_t widths[] = {sizes.measurement_row_bytes(), sizes.detector_row_bytes(),
                                sizes.observable_row_bytes()};
  std::vector<Share> shares;
  std::uint64_t block = first_block;
  for (unsigned i = 0; i < n; ++i) {
    const std::uint64_t take = blocks / n + (i < blocks % n ? 1 : 0);
    const std::uint64_t begin = std::max(first, block * kBlockShots);
    const std::uint64_t end = std::min(first + count, (block + take) * kBlockShots);
    const std::size_t offset = static_cast<std::size_t>(begin - first),
                      size = static_cast<std::size_t>(end - begin);
    shares.push_back({begin,
                      end - begin,
                      {outputs.measurements.subspan(offset * widths[0], size * widths[0]),
                       outputs.detectors.subspan(offset * widths[1], size * widths[1]),
                       outputs.observables.subspan(offset * widths[2], size * widths[2])}});
    block += take;
  }
  return shares;
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

void run_shots_on_threads(const ShotJob& job, const ChaChaKey& key, std::uint64_t first, std::uint64_t count,
                          SampleOutputs outputs, unsigned threads, CancelCheck* cancel) {
  if (count == 0 || threads <= 1) {
    return run_share(job, key, {first, count, outputs}, cancel);
  }
  const std::vector<Share> shares = shares_of(job, first, count, outputs, threads);
  if (shares.size() == 1) return run_share(job, key, shares.front(), cancel);

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
      run_share(job, key, shares[i], &check);
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
    run_share(job, key, shares.front(), &check);
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
