// What the frame sampler reads off a program once, before any batch: the
// firing rates and choice tables of the noise channels, the observables'
// slots, where two-qubit lines feed forward from the record, and the
// sizes the batch rows need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "circuit/program.hpp"
#include "frames/noise.hpp"

namespace ordavine::frames {

struct SamplerPlan {
  std::uint64_t lookback = 0;              // the largest k of rec[-k]
  std::size_t ring_rows = 0;               // a power of two above lookback, at least a flush or the record
  std::vector<FiringRate> rate;            // per instruction
  std::vector<std::uint32_t> choices;      // per instruction: where its running sums start
  std::vector<double> cumulative;          // running sums of alternatives, divided by their total
  std::vector<std::uint32_t> slot;         // per instruction: its observable's slot
  std::vector<std::uint64_t> observables;  // per slot: the observable index, ascending
  std::vector<bool> feeds_forward;         // per instruction: a two-qubit line with record targets
  std::size_t widest_detector = 0;         // the most targets of a DETECTOR line

  // The running sums of instruction i's `count` alternatives.
  std::span<const double> alternatives(std::size_t i, std::size_t count) const {
    return std::span<const double>(cumulative).subspan(choices[i], count);
  }
};

// `flush_rows`: the record rows written out at a time, which the ring must
// hold besides the look-back.
SamplerPlan make_plan(const circuit::Program& program, std::size_t flush_rows);

}  // namespace ordavine::frames
