// Writing a batch's bit rows out to the rows of the call's shots, kFlush
// entries at a time (shot_rows.hpp transposes them): measurement records
// XORed with the reference record, detection events, and the observables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/batch_buffers.hpp"
#include "frames/shot_rows.hpp"
#include "register/work_meter.hpp"

namespace ordavine::frames {

struct CallRows {
  ShotRows measurements, detectors, observables;
  const Word* reference = nullptr;  // the reference record, 64 entries a word
};

class BatchOutput {
 public:
  // Before each batch: where its shots go, its first shot and its blocks.
  explicit BatchOutput(const Kernels& kernels) : kernels_(kernels) {}

  void start(const CallRows& call, std::uint64_t batch_first, std::size_t blocks, WorkMeter& meter) {
    call_ = &call;
    batch_first_ = batch_first;
    blocks_ = blocks;
    meter_ = &meter;
  }

  // Or, instead of writing the batch's rows out, only notes whether a
  // detector or observable row holds a 1 (probe_saw_event).
  void start_probe(std::size_t blocks, WorkMeter& meter) {
    call_ = nullptr;
    batch_first_ = 0;
    blocks_ = blocks;
    meter_ = &meter;
    saw_event_ = false;
  }
  bool probe_saw_event() const { return saw_event_; }

  // Record entries entry0 .. entry0 + entries - 1, from the ring.
  void measurements(const RecordRing& ring, std::size_t row_words, std::uint64_t entry0, std::size_t entries);
  // Detectors entry0 .. entry0 + entries - 1, from rows 0 .. entries - 1 of
  // the tile.
  void detectors(BatchBuffers& rows, std::uint64_t entry0, std::size_t entries);
  // Every observable: the slots' rows, in runs of kFlush observables that
  // hold at least one included observable; the other rows stay zero.
  void observables(BatchBuffers& rows, const std::vector<std::uint64_t>& slot_observables,
                   std::uint64_t observable_count);

 private:
  const Kernels& kernels_;
  const CallRows* call_ = nullptr;
  std::uint64_t batch_first_ = 0;
  std::size_t blocks_ = 0;
  WorkMeter* meter_ = nullptr;
  bool saw_event_ = false;
  std::vector<const Word*> rows_ = std::vector<const Word*>(kFlush);

  // For a probe: notes whether any of the rows (null: none) holds a 1.
  void note_events(std::size_t row_words, std::size_t entries);
};

}  // namespace ordavine::frames
