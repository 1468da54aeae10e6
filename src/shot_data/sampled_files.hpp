// Shots of a sampler written to shot data files as they are made, a
// stretch at a time, so that memory is bounded by a stretch however many
// shots are written.  The sampler runs bit-packed: the writers take packed
// rows.
#pragma once

#include <cstdint>

#include "frames/frame_sampler.hpp"
#include "frames/sample_shots.hpp"
#include "shot_data/writer.hpp"

namespace ordavine::shot_data {

// Where the observables of detection events go besides their own file.
enum class ObservableColumns { none, appended, prepended };

struct SampledFiles {
  ShotDataWriter* records = nullptr;  // measurement records, or detection events
  // Detection events only: the observables' own file (or null), and
  // whether the records' file also holds them as columns.
  ShotDataWriter* observables = nullptr;
  ObservableColumns columns = ObservableColumns::none;
};

// Shots of `shots` rows of `row_bytes` bytes in a stretch: about 16 MiB of
// rows, a whole number of 256-shot blocks.
std::uint64_t stretch_for(std::uint64_t row_bytes);

// Runs the call's shots through the writers and finishes them.  For
// detection events `detectors` and `observables` are the entries per shot.
// What a writer throws (IoError) ends the call and passes on, as do the
// sampler's refusals and a cancellation.
void write_sampled_shots(frames::ShotSource& sampler, const frames::ShotCall& call, std::uint64_t detectors,
                         std::uint64_t observables, const SampledFiles& files);

}  // namespace ordavine::shot_data
