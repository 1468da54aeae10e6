// Running a program on a register.  Every step is one of the register's own
// gates or measurements, in the order the text gives, so a run leaves the
// same graph, list order, VOPs and record as the same gates called one by
// one with the same random source:
//   - SWAP a b is CX a b, CX b a, CX a b; ISWAP a b is S a, S b, CZ a b,
//     SWAP a b (S_DAG for ISWAP_DAG); CXSWAP a b is CX b a, CX a b; SWAPCX
//     a b is CX a b, CX b a; CZSWAP a b is CZ a b, SWAP a b;
//   - SQRT_PP a b (P = X, Y, Z) carries P to Z on both qubits, applies
//     S a, S b, CZ a b (S_DAG for the _DAG forms) and carries Z back;
//   - MPP, MXX, MYY, MZZ measure Pauli products and SPP, SPP_DAG rotate
//     them (measure_product, rotate_product);
//   - a reset measures and then flips a 1 back: X after a Z measurement,
//     Z after an X or Y one;
//   - `CX rec[-k] q` applies X to q when that record bit is 1 (likewise
//     CY, CZ, and the Z side of XCZ, YCZ).
// Randomness: a random measurement outcome draws one word (as measuring
// does).  Channels draw as the register's noise calls do (pauli_noise):
// one word per target (per pair for two-qubit channels) compared with the
// probability's threshold, and channels that can never fire draw nothing.
// A firing DEPOLARIZE1 then draws the Pauli, a firing DEPOLARIZE2 the
// pair.  PAULI_CHANNEL_1, PAULI_CHANNEL_2 and HERALDED_PAULI_CHANNEL_1
// draw one word per target or pair against their cumulative thresholds; a
// firing HERALDED_ERASE draws its Pauli with uniform_in(0, 4) (I, X, Y,
// Z).  E draws one word; ELSE_CORRELATED_ERROR draws one only while no
// earlier member of its chain has fired.  A noisy measurement draws its
// flip after the outcome; MPAD(p) draws its flip per bit.
#pragma once

#include <cstdint>
#include <span>

#include "circuit/program.hpp"
#include "random/random_source.hpp"
#include "register/register.hpp"
#include "register/work_meter.hpp"

namespace ordavine::circuit {

// Where one run writes.  `measurements` has program.measurement_count
// entries, each set to 0 or 1.  `detectors` and `observables` are either
// empty (not computed) or exactly detector_count and observable_count long;
// both are written in full, with the parities of the record bits they
// name (and, for observables, the values of the Pauli products they
// include).
struct RunRecord {
  std::span<std::uint8_t> measurements = {};
  std::span<std::uint8_t> detectors = {};
  std::span<std::uint8_t> observables = {};
};

// InvalidInput naming the line and column of the largest qubit index when
// the program needs more qubits than the register has.
void check_fits(const Program& program, const Register& reg);

// Runs the program; the program must fit the register (check_fits).  An
// observable that includes a Pauli product whose value the state does not
// fix at that point (a random outcome, were it measured) has no value on a
// register: InvalidInput naming its line, raised when it is met.
//
// `cancel` is polled between steps as work is done (runner.cpp says how it
// is counted); Cancelled leaves the register valid, holding the state after
// the steps that ran, and the record partly written.
void run_program(const Program& program, Register& reg, RandomSource& random, RunRecord record,
                 CancelCheck* cancel = nullptr);

// The noiseless reference run: every noise channel and recorded flip left
// out (heralds record 0), every random outcome taken as +1, feed-forward as
// recorded.  Draws nothing.  A deterministic detector or observable has
// the same value here as in every noiseless run; a shot's detection events
// are its values XOR these.  `cancel` as for run_program.
void run_reference(const Program& program, Register& reg, RunRecord record, CancelCheck* cancel = nullptr);

}  // namespace ordavine::circuit
