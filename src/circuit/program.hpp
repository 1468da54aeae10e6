// A circuit parsed once into a compact program: a flat list of
// instructions whose targets live in one shared array.  The reader builds
// it and checks everything the runner relies on (indices, pairs,
// look-backs, probabilities, counts), so running needs no checks but the
// register's size.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "clifford/tables.hpp"
#include "measure/pauli_noise.hpp"

namespace ordavine::circuit {

enum class Opcode : std::uint8_t {
  single_qubit,      // detail: the VOP that multiplies each target's
  two_qubit,         // detail: TwoQubitGate; targets in pairs
  measure,           // detail: Axis; threshold[0]: chance of a recorded flip
  reset,             // detail: Axis
  measure_reset,     // detail: Axis; threshold[0] as for measure
  pauli_error,       // detail: Axis of the Pauli; threshold[0]
  depolarize1,       // threshold[0]
  depolarize2,       // threshold[0]; targets in pairs
  pauli_channel_1,   // threshold[0..2] cumulative, for X, then Y, then Z
  detector,          // record look-backs
  observable_include,  // count: the observable index; record look-backs
  repeat,            // count: repetitions; the body is the next `body` instructions
};

// The two-qubit gates, each run as the single-qubit and controlled-Z steps
// of the register's gate of the same name.  <p>C<q> applies Pauli q to the
// second operand when the first is in the -1 eigenstate of Pauli p.
enum class TwoQubitGate : std::uint8_t { cz, cx, cy, xcx, xcy, xcz, ycx, ycy, ycz, swap, iswap, iswap_dag };

// A target word: a qubit index or a record look-back (k of rec[-k]), with
// flags in the top bits.
using Target = std::uint64_t;
inline constexpr Target kInvertedFlag = Target{1} << 63;  // !q: the recorded bit is inverted
inline constexpr Target kRecordFlag = Target{1} << 62;    // rec[-k]
inline constexpr Target kValueMask = kRecordFlag - 1;

constexpr bool is_record(Target t) { return (t & kRecordFlag) != 0; }
constexpr bool is_inverted(Target t) { return (t & kInvertedFlag) != 0; }
constexpr std::uint64_t value_of(Target t) { return t & kValueMask; }

struct Instruction {
  Opcode code;
  std::uint8_t detail = 0;
  std::uint32_t first_target = 0;  // into Program::targets
  std::uint32_t target_count = 0;
  std::uint64_t count = 0;  // repetitions, or the observable index
  std::uint64_t body = 0;   // instructions in a repeat body
  std::array<Threshold, 3> threshold{};
};

struct SourcePosition {
  std::uint64_t line = 0;    // from 1
  std::uint64_t column = 0;  // from 1, in bytes
};

struct Program {
  std::vector<Instruction> instructions;
  std::vector<Target> targets;
  // One more than the largest qubit index, and where that index first stands.
  std::uint64_t qubit_count = 0;
  SourcePosition largest_qubit_at;
  // Per run, repetitions included.
  std::uint64_t measurement_count = 0;
  std::uint64_t detector_count = 0;
  std::uint64_t observable_count = 0;  // one more than the largest index
  // Targets visited per run, repetitions included, saturating: a measure of
  // the work in one run, for splitting shots into interruptible chunks.
  std::uint64_t work = 0;
};

// Limits the reader enforces.  REPEAT blocks nest at most kMaxNesting deep.
// A run's record (measurements, or detectors plus observables) and a batch
// of shots hold at most kMaxRecordEntries bytes: beyond that the memory
// cannot be had on any machine we run on, and the counts are refused before
// anything is allocated or run.
inline constexpr unsigned kMaxNesting = 64;
inline constexpr std::uint64_t kMaxRecordEntries = std::uint64_t{1} << 40;
inline constexpr std::uint64_t kMaxQubitIndex = (std::uint64_t{1} << 40) - 1;

// A record that cannot fit in memory.  It is an allocation failure (raised
// as MemoryError) that says which line asked for it.
class RecordTooLarge : public std::bad_alloc {
 public:
  explicit RecordTooLarge(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace ordavine::circuit
