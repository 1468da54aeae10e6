// Running a program on a register.  Every step is one of the register's own
// gates or measurements, in the order the text gives, so a run leaves the
// same graph, list order, VOPs and record as the same gates called one by
// one with the same random source:
//   - SWAP a b is CX a b, CX b a, CX a b; ISWAP a b is S a, S b, CZ a b,
//     SWAP a b (S_DAG for ISWAP_DAG);
//   - a reset measures and then flips a 1 back: X after a Z measurement,
//     Z after an X or Y one;
//   - `CX rec[-k] q` applies X to q when that record bit is 1 (likewise
//     CY, CZ, and the Z side of XCZ, YCZ).
// Randomness: a random measurement outcome draws one word (as measuring
// does).  A channel of probability p > 0 draws one word per target (per
// pair for DEPOLARIZE2) and fires when it is below round(p * 2^32); a
// firing DEPOLARIZE1 then draws the Pauli uniformly from X, Y, Z, a firing
// DEPOLARIZE2 one of the 15 non-identity pairs.  PAULI_CHANNEL_1 draws one
// word per target against its cumulative thresholds.  A noisy measurement
// M(p) draws its flip after the outcome.  Channels of probability 0 draw
// nothing.
#pragma once

#include <cstdint>
#include <span>

#include "circuit/program.hpp"
#include "measure/random_source.hpp"
#include "register/register.hpp"

namespace ordavine::circuit {

// Where one run writes.  `measurements` has program.measurement_count
// entries, each set to 0 or 1.  `detectors` and `observables` are either
// empty (not computed) or exactly detector_count and observable_count long;
// both are written in full.
struct RunRecord {
  std::span<std::uint8_t> measurements = {};
  std::span<std::uint8_t> detectors = {};
  std::span<std::uint8_t> observables = {};
};

// InvalidInput naming the line and column of the largest qubit index when
// the program needs more qubits than the register has.
void check_fits(const Program& program, const Register& reg);

// Runs the program; the program must fit the register (check_fits).
void run_program(const Program& program, Register& reg, RandomSource& random, RunRecord record);

}  // namespace ordavine::circuit
