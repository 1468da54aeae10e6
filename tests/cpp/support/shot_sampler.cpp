#include "support/shot_sampler.hpp"

#include "circuit/runner.hpp"
#include "failure/failure.hpp"
#include "random/seeded_stream.hpp"

namespace ordavine::circuit {

ShotSampler::ShotSampler(const Program& program, const ChaChaKey& key, bool detectors)
    : program_(program),
      key_(key),
      detectors_(detectors),
      reg_(program.qubit_count),
      scratch_(detectors ? program.measurement_count : 0) {}

// Back to n qubits in |0>: no edges and VOP H everywhere, as a new register.
void ShotSampler::clear_register() {
  for (Qubit q = 0; q < reg_.size(); ++q) {
    clear_list(reg_[q].neighbors);
    reg_[q].vop = vop::hadamard;
  }
}

// The reference values of the detectors and observables, from one
// noiseless run on the sampler's own register.
void ShotSampler::run_reference_once() {
  if (have_reference_) return;
  reference_detectors_.assign(program_.detector_count, 0);
  reference_observables_.assign(program_.observable_count, 0);
  clear_register();
  run_reference(program_, reg_, {scratch_, reference_detectors_, reference_observables_});
  have_reference_ = true;
}

void ShotSampler::run_shots(std::uint64_t first, std::size_t count, std::span<std::uint8_t> measurements,
                            std::span<std::uint8_t> detectors, std::span<std::uint8_t> observables) {
  const std::size_t mw = measurement_width(), dw = detector_width(), ow = observable_width();
  if (measurements.size() != count * mw || detectors.size() != count * dw ||
      observables.size() != count * ow) {
    fail("shot rows sized differently from the program");
  }
  if (detectors_ && count != 0) run_reference_once();
  for (std::size_t i = 0; i < count; ++i) {
    clear_register();
    SeededStream stream(key_, first + i + 1);
    RunRecord record;
    if (detectors_) {
      record.measurements = scratch_;
      record.detectors = detectors.subspan(i * dw, dw);
      record.observables = observables.subspan(i * ow, ow);
    } else {
      record.measurements = measurements.subspan(i * mw, mw);
    }
    run_program(program_, reg_, stream, record);
    if (detectors_) {
      for (std::size_t d = 0; d < dw; ++d) record.detectors[d] ^= reference_detectors_[d];
      for (std::size_t o = 0; o < ow; ++o) record.observables[o] ^= reference_observables_[o];
    }
  }
}

}  // namespace ordavine::circuit
