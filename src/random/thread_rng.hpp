// The per-thread random generator: a ChaCha12 keystream keyed from the
// operating system's entropy source on the first draw and rekeyed from it
// after every 64 KiB of output; or, once seeded, a SeededStream whose
// output is a function of the seed alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "random/chacha.hpp"
#include "random/os_entropy.hpp"
#include "random/random_source.hpp"
#include "random/seeded_stream.hpp"

namespace ordavine {

class ThreadRng final : public RandomSource {
 public:
  static constexpr unsigned kRounds = 12;
  static constexpr std::size_t kBlocksPerRefill = 4;
  static constexpr std::size_t kBufferWords = 16 * kBlocksPerRefill;
  static constexpr std::int64_t kRefillBytes = 4 * kBufferWords;
  static constexpr std::int64_t kRekeyThreshold = 65536;

  // Takes its key bytes from `entropy`; nothing is drawn until the first
  // word is asked for.
  explicit ThreadRng(EntropyFunction entropy = fill_from_os_entropy);

  // Seeds on the first call, and again on the first call in a child process
  // forked since the last seeding, so that a child never replays its
  // parent's stream.  A seeding failure fails with "could not initialize
  // ThreadRng: " and the entropy error's text; the generator then stays
  // unseeded and the next call tries again.
  //
  // While a seeded stream is in use every word comes from it instead.  A
  // forked child must not replay the stream its parent goes on drawing
  // from, and cannot tell which of its siblings took which share of it, so
  // the child's first draw drops the seeded stream and falls back to
  // entropy; a child that wants reproducible draws seeds itself.
  std::uint32_t next_word() override;

  // Draws from SeededStream(key, stream) from the next word on.
  void use_seeded_stream(const ChaChaKey& key, std::uint64_t stream);

  // Back to entropy: the next draw seeds afresh from it.
  void use_entropy();

 private:
  void seed();
  // Drops the entropy-keyed state so that its next use seeds afresh.
  void forget_entropy_stream();
  void refill();
  // New key from entropy; when none can be had the old key and counter
  // carry on, since the stream is still unpredictable without it.
  void try_rekey();

  EntropyFunction entropy_;
  bool seeded_ = false;
  std::uint64_t seeded_in_fork_generation_ = 0;
  ChaChaKey key_{};
  std::uint64_t counter_ = 0;
  std::uint64_t stream_ = 0;
  std::array<std::uint32_t, kBufferWords> buffer_{};
  std::size_t position_ = kBufferWords;  // at the end: nothing left to read
  std::int64_t bytes_until_rekey_ = kRekeyThreshold;
  std::optional<SeededStream> seeded_stream_;
  std::uint64_t seeded_stream_fork_generation_ = 0;
};

// The calling thread's generator, created on the thread's first call and
// destroyed when the thread exits.
ThreadRng& thread_rng();

}  // namespace ordavine
