// Test support: the per-shot sampler, kept beside the tests as an independent
// reference for the frame sampler (each shot run on its own register).
//
// Many shots of one program, each on a register of program.qubit_count
// qubits in |0>, with its own random stream: shot number k draws from
// SeededStream(key, k + 1), stream 0 being the one a seeded thread uses.
// A shot's rows depend on nothing but (key, k), so any split of the shots
// into batches gives the same bytes as one call.
//
// Detector and observable rows are detection events: each value XOR its
// value in the noiseless reference run (run_reference), so a detector
// whose parity is fixed without noise reads 0 unless noise flipped it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "circuit/program.hpp"
#include "random/chacha.hpp"
#include "register/register.hpp"

namespace ordavine::circuit {

class ShotSampler {
 public:
  // `detectors`: rows are detector and observable bits instead of
  // measurement bits.
  ShotSampler(const Program& program, const ChaChaKey& key, bool detectors);

  // Bytes per row of each output.
  std::size_t measurement_width() const { return detectors_ ? 0 : program_.measurement_count; }
  std::size_t detector_width() const { return detectors_ ? program_.detector_count : 0; }
  std::size_t observable_width() const { return detectors_ ? program_.observable_count : 0; }

  // Runs shots number first .. first + count - 1 into `count` consecutive
  // rows of each output (of the widths above).
  void run_shots(std::uint64_t first, std::size_t count, std::span<std::uint8_t> measurements,
                 std::span<std::uint8_t> detectors, std::span<std::uint8_t> observables);

 private:
  void clear_register();
  void run_reference_once();

  const Program& program_;
  ChaChaKey key_;
  bool detectors_;
  Register reg_;
  std::vector<std::uint8_t> scratch_;  // one shot's measurements, when rows hold detectors
  bool have_reference_ = false;
  std::vector<std::uint8_t> reference_detectors_;
  std::vector<std::uint8_t> reference_observables_;
};

}  // namespace ordavine::circuit
