// A circuit parsed once into a compact program: a flat list of
// instructions whose targets live in one shared array and whose parens
// arguments live in another.  The reader builds it and checks everything
// the runners rely on (indices, pairs, products, look-backs,
// probabilities, counts), so running needs no checks but the register's
// size.  Two runners read it: the register runner (one shot on a graph
// state) and the Pauli-frame sampler (many shots as bit rows).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "clifford/tables.hpp"
#include "random/threshold.hpp"
#include "register/out_of_memory.hpp"

namespace ordavine::circuit {

// Every instruction, with the Instruction fields and targets it uses.
// "flip" is an optional argument: the chance that a recorded bit is
// inverted (no argument: never).  Instructions that record append one bit
// per target (per pair, per product) to the measurement record.
enum class Opcode : std::uint8_t {
  single_qubit,              // vop: multiplies each target's VOP
  two_qubit,                 // gate; targets in pairs
  measure,                   // axis; flip; records
  reset,                     // axis
  measure_reset,             // axis; flip; records
  measure_product,           // MPP, MXX, MYY, MZZ: products (below); flip; records one bit per product
  rotate_product,            // SPP, SPP_DAG (dagger): products
  pad,                       // MPAD: targets are the bits 0 or 1 themselves; flip; records
  pauli_error,               // axis: the Pauli; argument p
  depolarize1,               // argument p
  depolarize2,               // argument p; targets in pairs
  pauli_channel_1,           // arguments px, py, pz
  pauli_channel_2,           // arguments p_ix, p_iy, ..., p_zz (15, the format's order); pairs
  correlated_error,          // E, ELSE_CORRELATED_ERROR (else_branch): argument p; Pauli targets
  heralded_erase,            // argument p; records the herald
  heralded_pauli_channel_1,  // arguments p_i, p_x, p_y, p_z; records the herald
  detector,                  // record look-backs
  observable_include,        // observable; record look-backs and Pauli targets
  repeat,                    // repetitions; the body is the next `body` instructions
};

// The two-qubit gates.  <p>C<q> applies Pauli q to the second operand when
// the first is in the -1 eigenstate of Pauli p.  SQRT_PP phases the -1
// eigenspace of P(x)P by i (DAG: -i).  CXSWAP is CX then SWAP, SWAPCX SWAP
// then CX, CZSWAP CZ then SWAP.
enum class TwoQubitGate : std::uint8_t {
  cz,
  cx,
  cy,
  xcx,
  xcy,
  xcz,
  ycx,
  ycy,
  ycz,  // controlled: a record bit can stand where Z is read
  swap,
  iswap,
  iswap_dag,
  sqrt_xx,
  sqrt_xx_dag,
  sqrt_yy,
  sqrt_yy_dag,
  sqrt_zz,
  sqrt_zz_dag,
  cxswap,
  swapcx,
  czswap,
};
inline constexpr unsigned kTwoQubitGates = 21;

constexpr bool is_controlled(TwoQubitGate gate) { return gate < TwoQubitGate::swap; }

// A target word: a qubit index, a record look-back (k of rec[-k]), a
// Pauli factor (a qubit with the Pauli acting on it) or a product header,
// with flags in the top bits.
//
// Products (measure_product, rotate_product) are a header word, whose
// value is the number of factors and whose inverted flag negates the
// product, followed by that many factors: distinct qubits, one Pauli each,
// in the order the text first names them.  A product of no factors is the
// identity.  The Pauli targets of correlated_error and observable_include
// are factors without a header (their signs do not matter).
using Target = std::uint64_t;
inline constexpr Target kInvertedFlag = Target{1} << 63;  // !q: the recorded bit is inverted
inline constexpr Target kRecordFlag = Target{1} << 62;    // rec[-k]
inline constexpr unsigned kPauliShift = 60;               // bits 60-61: 0 none, 1 X, 2 Y, 3 Z
inline constexpr Target kPauliBits = Target{3} << kPauliShift;
inline constexpr Target kValueMask = (Target{1} << kPauliShift) - 1;

constexpr bool is_record(Target t) { return (t & kRecordFlag) != 0; }
constexpr bool is_inverted(Target t) { return (t & kInvertedFlag) != 0; }
constexpr bool is_pauli(Target t) { return (t & kPauliBits) != 0; }
constexpr std::uint64_t value_of(Target t) { return t & kValueMask; }
constexpr Axis pauli_of(Target t) {
  return static_cast<Axis>(static_cast<unsigned>((t & kPauliBits) >> kPauliShift) - 1);
}
constexpr Target pauli_target(std::uint64_t qubit, Axis axis) {
  return qubit | (static_cast<Target>(static_cast<unsigned>(axis) + 1) << kPauliShift);
}
static_assert(pauli_of(pauli_target(7, Axis::y)) == Axis::y && value_of(pauli_target(7, Axis::z)) == 7);

struct SourcePosition {
  std::uint64_t line = 0;    // from 1
  std::uint64_t column = 0;  // from 1, in bytes
};

// One instruction.  Each field below the targets and arguments is used by
// the opcodes its comment names and is left at its default by the others.
struct Instruction {
  Opcode code;
  std::uint8_t argument_count = 0;
  std::uint32_t first_target = 0;  // into Program::targets
  std::uint32_t target_count = 0;
  std::uint32_t first_argument = 0;      // into Program::probabilities and Program::thresholds
  Vop vop = vop::identity;               // single_qubit
  TwoQubitGate gate = TwoQubitGate::cz;  // two_qubit
  Axis axis = Axis::none;                // measure, reset, measure_reset, pauli_error
  bool dagger = false;                   // rotate_product: SPP_DAG
  bool else_branch = false;              // correlated_error: ELSE_CORRELATED_ERROR
  std::uint64_t observable = 0;          // observable_include: its index
  std::uint64_t repetitions = 0;         // repeat
  std::uint64_t body = 0;                // repeat: instructions in its body
  std::uint64_t line = 0;                // where it stands in the text, for errors while running
};

struct Program {
  std::vector<Instruction> instructions;
  std::vector<Target> targets;
  // Each instruction's parens arguments as read (a probability that
  // underflows is 0), and beside each the 32-bit threshold the register
  // runner compares a word against: round(p * 2^32), except for the
  // channels of disjoint alternatives (pauli_channel_1/2,
  // heralded_pauli_channel_1), whose thresholds are cumulative.
  std::vector<double> probabilities;
  std::vector<Threshold> thresholds;
  // One more than the largest qubit index, and where that index first stands.
  std::uint64_t qubit_count = 0;
  SourcePosition largest_qubit_at;
  // Per run, repetitions included.
  std::uint64_t measurement_count = 0;
  std::uint64_t detector_count = 0;
  std::uint64_t observable_count = 0;  // one more than the largest index
  // Targets visited per run, repetitions included, saturating: a measure of
  // the work in one run (the fuzzers bound their inputs by it).
  std::uint64_t work = 0;

  std::span<const Target> targets_of(const Instruction& instruction) const {
    return std::span<const Target>(targets).subspan(instruction.first_target, instruction.target_count);
  }
  std::span<const double> probabilities_of(const Instruction& instruction) const {
    return std::span<const double>(probabilities)
        .subspan(instruction.first_argument, instruction.argument_count);
  }
  std::span<const Threshold> thresholds_of(const Instruction& instruction) const {
    return std::span<const Threshold>(thresholds)
        .subspan(instruction.first_argument, instruction.argument_count);
  }
  // The flip threshold of a recording instruction: 0 without an argument.
  Threshold flip_of(const Instruction& instruction) const {
    return instruction.argument_count == 0 ? 0 : thresholds[instruction.first_argument];
  }
};

// The qubit count as the format counts it: one more than the largest
// index any target names, MPAD's bits among them (they are written as
// qubit targets).
inline std::uint64_t format_qubit_count(const Program& program) {
  std::uint64_t count = program.qubit_count;
  for (const Instruction& in : program.instructions) {
    if (in.code != Opcode::pad) continue;
    for (const Target bit : program.targets_of(in)) count = std::max<std::uint64_t>(count, bit + 1);
  }
  return count;
}

// Limits the reader enforces.  REPEAT blocks nest at most kMaxNesting deep.
// A run's record (measurements, or detectors plus observables) and a batch
// of shots hold at most kMaxRecordEntries bytes: beyond that the memory
// cannot be had on any machine we run on, and the counts are refused before
// anything is allocated or run.  Qubit indices stop below the register's
// limit of 2^32 - 1 qubits.
inline constexpr unsigned kMaxNesting = 64;
inline constexpr std::uint64_t kMaxRecordEntries = std::uint64_t{1} << 40;
inline constexpr std::uint64_t kMaxQubitIndex = (std::uint64_t{1} << 32) - 2;

// A record that cannot fit in memory.  It is an allocation failure (raised
// as MemoryError) that says which line asked for it.
class RecordTooLarge : public OutOfMemory {
 public:
  using OutOfMemory::OutOfMemory;
};

}  // namespace ordavine::circuit
