#include "random/thread_rng.hpp"

#include <pthread.h>

#include <atomic>
#include <utility>

#include "failure/failure.hpp"

namespace ordavine {
namespace {

// Counts the fork() calls this process has come out of as the child.  A
// generator remembers the count it was seeded under; a different count on a
// draw means it is running in a child with a copy of its parent's state.
std::atomic<std::uint64_t> fork_generation{0};

void count_fork_in_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

void watch_forks_once() {
  static const bool registered = (pthread_atfork(nullptr, nullptr, count_fork_in_child), true);
  (void)registered;
}

}  // namespace

ThreadRng::ThreadRng(EntropyFunction entropy) : entropy_(std::move(entropy)) { watch_forks_once(); }

std::uint32_t ThreadRng::next_word() {
  if (seeded_stream_) {
    if (seeded_stream_fork_generation_ == fork_generation.load(std::memory_order_relaxed)) {
      return seeded_stream_->next_word();
    }
    seeded_stream_.reset();  // a forked child: entropy from here on
  }
  if (!seeded_ || seeded_in_fork_generation_ != fork_generation.load(std::memory_order_relaxed)) {
    seed();
  }
  if (position_ >= kBufferWords) refill();
  return buffer_[position_++];
}

void ThreadRng::use_seeded_stream(const ChaChaKey& key, std::uint64_t stream) {
  seeded_stream_.emplace(key, stream);
  seeded_stream_fork_generation_ = fork_generation.load(std::memory_order_relaxed);
  forget_entropy_stream();  // if it is ever taken up again, it starts afresh
}

void ThreadRng::use_entropy() {
  seeded_stream_.reset();
  forget_entropy_stream();
}

void ThreadRng::forget_entropy_stream() {
  seeded_ = false;
  buffer_.fill(0);
  position_ = kBufferWords;
}

void ThreadRng::seed() {
  // Whatever was buffered belongs to the old stream (the parent's, after a
  // fork) and must never be handed out.
  seeded_ = false;
  buffer_.fill(0);
  position_ = kBufferWords;

  std::array<std::uint8_t, 32> bytes{};
  if (auto error = entropy_(bytes)) fail("could not initialize ThreadRng: " + error->text());
  key_ = chacha_key_from_bytes(bytes);
  counter_ = 0;
  stream_ = 0;
  bytes_until_rekey_ = kRekeyThreshold;
  seeded_in_fork_generation_ = fork_generation.load(std::memory_order_relaxed);
  seeded_ = true;
}

void ThreadRng::try_rekey() {
  std::array<std::uint8_t, 32> bytes{};
  if (!entropy_(bytes)) {
    key_ = chacha_key_from_bytes(bytes);
    counter_ = 0;
    stream_ = 0;
  }
}

void ThreadRng::refill() {
  if (bytes_until_rekey_ <= 0) {
    try_rekey();
    bytes_until_rekey_ = kRekeyThreshold - kRefillBytes;
  } else {
    bytes_until_rekey_ -= kRefillBytes;
  }
  for (std::size_t block = 0; block < kBlocksPerRefill; ++block) {
    const ChaChaBlock words = chacha_block(key_, counter_ + block, stream_, kRounds);
    for (std::size_t i = 0; i < words.size(); ++i) buffer_[16 * block + i] = words[i];
  }
  counter_ += kBlocksPerRefill;
  position_ = 0;
}

ThreadRng& thread_rng() {
  thread_local ThreadRng generator;
  return generator;
}

}  // namespace ordavine
