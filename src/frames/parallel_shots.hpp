// The shots of one call on several threads.  Each thread runs its own
// frame sampler over a contiguous range of whole blocks, writing straight
// into its shots' rows, so the bytes are those of one thread whatever the
// count (a block's bits depend on the key and its number alone).
#pragma once

#include <cstdint>
#include <memory>

#include "circuit/program.hpp"
#include "frames/frame_sampler.hpp"
#include "random/chacha.hpp"
#include "register/work_meter.hpp"

namespace ordavine::frames {

struct ShotJob {
  const circuit::Program& program;
  bool detectors = false;
  bool packed = false;
  // For a record of measurements: the program's reference record, shared by
  // every thread (null: each sampler would make its own).
  std::shared_ptr<const ReferenceRecord> reference = nullptr;
};

// The cores the process may run on: its CPU affinity where the system
// tells it, else the machine's hardware threads; at least 1.
unsigned available_cores();

// Runs shots first .. first + count - 1 of `key` into `outputs` (sized as
// FrameSampler's rows for the job) on at most `threads` threads, the
// calling thread among them, and never more threads than blocks.  Only the
// calling thread polls `cancel` (it may be a check that must stay on its
// thread); the others stop when it says to, or when one of them fails.
// What a thread throws is rethrown here once every thread has stopped: a
// failure before a cancellation.
void run_shots_on_threads(const ShotJob& job, const ChaChaKey& key, std::uint64_t first, std::uint64_t count,
                          SampleOutputs outputs, unsigned threads, CancelCheck* cancel);

}  // namespace ordavine::frames
