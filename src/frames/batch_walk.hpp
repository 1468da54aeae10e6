// One batch's walk over the program: what every instruction does to the
// frames, the record ring, the detector tile and the observables' slots of
// a batch of blocks side by side (the frame rules are in frame_sampler.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "circuit/program.hpp"
#include "frames/batch_buffers.hpp"
#include "frames/batch_output.hpp"
#include "frames/block_stream.hpp"
#include "frames/kernels.hpp"
#include "frames/noise.hpp"
#include "frames/sampler_plan.hpp"
#include "register/work_meter.hpp"

namespace ordavine::frames {

// Scratch the walk reuses from batch to batch, reserved before the first
// (per block: the next firing site of a recorded channel; per detector
// target: its record row).
struct WalkScratch {
  Firings firings;
  std::vector<std::uint64_t> next_site;
  std::vector<const Word*> sources;
};

struct BatchContext {
  const circuit::Program& program;
  const SamplerPlan& plan;
  const Kernels& kernels;
  bool detectors;  // detection events and observables, not measurement records
  bool gauges;     // draw the gauges (else every gauge bit is 0)
  BatchBuffers& rows;
  std::span<BlockStream> gauge_streams, noise_streams;  // one of each per block
  BatchOutput& output;
  WorkMeter& meter;
  WalkScratch& scratch;
};

// Runs the program over a batch whose frames are set up, writing every
// record (or detector) row out as it completes, and the observables at the
// end.
void walk_batch(const BatchContext& context);

}  // namespace ordavine::frames
