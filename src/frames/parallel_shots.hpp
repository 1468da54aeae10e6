// The shots of one call on several threads.  A ThreadedSampler keeps one
// frame sampler per thread and runs each call's blocks as contiguous runs
// of whole blocks, one per thread, each written straight into its shots'
// rows, so the bytes are those of one sampler whatever the thread count (a
// block's bits depend on the key and its number alone).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "circuit/program.hpp"
#include "frames/frame_sampler.hpp"
#include "random/chacha.hpp"
#include "register/work_meter.hpp"

namespace ordavine::frames {

// The cores the process may run on: its CPU affinity where the system
// tells it, else the machine's hardware threads; at least 1.
unsigned available_cores();

class ThreadedSampler final : public ShotSource {
 public:
  // At most `threads` threads (at least 1), the calling thread among them.
  // `reference`: for a record of measurements, the program's reference
  // record, shared by every thread's sampler (null: made once, here, when
  // first needed).
  ThreadedSampler(const circuit::Program& program, bool detectors, bool packed,
                  std::shared_ptr<const ReferenceRecord> reference, unsigned threads);

  std::size_t measurement_row_bytes() const override { return samplers_.front()->measurement_row_bytes(); }
  std::size_t detector_row_bytes() const override { return samplers_.front()->detector_row_bytes(); }
  std::size_t observable_row_bytes() const override { return samplers_.front()->observable_row_bytes(); }

  // Prepares every thread's sampler for its share of these shots.
  void prepare(std::uint64_t first, std::uint64_t count, CancelCheck* cancel) override;

  // As FrameSampler::run_shots, never on more threads than blocks.  Only
  // the calling thread polls `cancel` (it may be a check that must stay on
  // its thread); the others stop when it says to, or when one of them
  // fails.  What a thread throws is rethrown once every thread has
  // stopped: a failure before a cancellation.
  void run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count, SampleOutputs outputs,
                 CancelCheck* cancel) override;

 private:
  struct Share {
    std::uint64_t first = 0, count = 0;
    SampleOutputs outputs;
  };
  std::vector<Share> shares_of(std::uint64_t first, std::uint64_t count, SampleOutputs outputs) const;
  // Where the call is long enough for a sampler of detection events to look
  // for gauges they depend on (frame_sampler.hpp), the first sampler looks
  // and the others take its finding, whatever their shares.
  void share_gauge_look(std::uint64_t first, std::uint64_t count, CancelCheck* cancel);

  bool detectors_;

  std::vector<std::unique_ptr<FrameSampler>> samplers_;
};

}  // namespace ordavine::frames
