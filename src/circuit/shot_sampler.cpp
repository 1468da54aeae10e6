#include "circuit/shot_sampler.hpp"

#include "circuit/runner.hpp"
#include "measure/seeded_stream.hpp"
#include "register/failure.hpp"

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

void ShotSampler::run_shots(std::uint64_t first, std::size_t count,
                            std::span<std::uint8_t> measurements,
                            std::span<std::uint8_t> detectors,
                            std::span<std::uint8_t> observables) {
  const std::size_t mw = measurement_width(), dw = detector_width(), ow = observable_width();
  if (measurements.size() != count * mw || detectors.size() != count * dw ||
      observables.size() != count * ow) {
    fail("shot rows sized differently from the program");
  }
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
  }
}

}  // namespace ordavine::circuit
