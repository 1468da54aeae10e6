// One sampling call from start to end, in the order that lets a refused
// call leave the caller's random source as it was: every refusal and every
// allocation first (the rows' sizes, the sampler's preparation and
// reference run, the rows of a stretch), then the key (the seed's, or
// eight words of the caller's source), then the shots, stretch by stretch.
//
// A stretch is a run of consecutive shots handed over together.  The rows
// of a shot depend on the key and the shot's number alone (frame_sampler.hpp),
// so any stretch size gives the same rows; a size that is a multiple of
// kBlockShots, from a first shot that is one too, runs no block twice.
#pragma once

#include <cstdint>
#include <optional>

#include "frames/frame_sampler.hpp"
#include "random/chacha.hpp"
#include "random/random_source.hpp"
#include "register/work_meter.hpp"

namespace ordavine::frames {

// What one call samples: shots first .. first + count - 1 under the seed's
// key, or, unseeded, under eight words of `random`, drawn once nothing can
// be refused any more (and drawn for a call of no shots too, as for any
// other).  `cancel` is polled as the shots run.
struct ShotCall {
  std::optional<ChaChaKey> seeded;
  RandomSource* random = nullptr;  // drawn from only when not seeded
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  CancelCheck* cancel = nullptr;
};

// The key of an unseeded call: eight words of `random`, in order.
ChaChaKey key_from_source(RandomSource& random);

// The rows of shots first .. first + count - 1, as run_shots writes them.
struct Stretch {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  SampleOutputs rows;
};

// Takes the stretches of a call in shot order.  Their rows are valid only
// during take(); what take() throws ends the call and passes on.
class StretchSink {
 public:
  virtual void take(const Stretch& stretch) = 0;

 protected:
  ~StretchSink() = default;
};

// Every shot of the call into `outputs`, sized as the sampler's row widths
// times the count (else a Failure, before any draw).
void sample_shots(FrameSampler& sampler, const ShotCall& call, SampleOutputs outputs);

// Every shot of the call, in stretches of `stretch` shots (the last one
// shorter), each written into rows this call allocates before the key is
// drawn and handed to `sink`.  A stretch of 0 shots is a Failure; rows
// larger than memory holds are OutOfMemory naming them, both before any draw.
void sample_shots(FrameSampler& sampler, const ShotCall& call, std::uint64_t stretch, StretchSink& sink);

}  // namespace ordavine::frames
