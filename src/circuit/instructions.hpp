// Every instruction of the circuit format, declared once: its name and
// aliases, what kind of line it is, how many parens arguments it takes and
// what they mean, which targets it takes, and for unitary gates their action
// (the VOP of a single-qubit gate, the register steps of a two-qubit one).
// The reader's checks, the register runner's steps, the frame sampler's maps,
// the feed-forward rule and the register's gate methods all read these
// records.  Single-qubit Cliffords are given by the signed images of X and Z
// that define them in the format and turned into VOPs at compile time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "circuit/program.hpp"
#include "clifford/vop_from_images.hpp"
#include "register/gate_steps.hpp"
#include "register/pauli_product.hpp"

namespace ordavine::circuit {

// What an instruction line becomes.  Annotations are checked and dropped.
enum class Kind : std::uint8_t {
  single_qubit,
  two_qubit,
  pair_identity,  // II: pairs checked, nothing run
  measure,
  reset,
  measure_reset,
  measure_pair,     // MXX, MYY, MZZ
  measure_product,  // MPP
  rotate_product,   // SPP, SPP_DAG
  pad,              // MPAD
  pauli_error,
  depolarize1,
  depolarize2,
  pauli_channel_1,
  pauli_channel_2,
  correlated_error,  // E, ELSE_CORRELATED_ERROR
  heralded_erase,
  heralded_pauli_channel_1,
  identity_error,  // I_ERROR, II_ERROR: checked, nothing run
  detector,
  observable_include,
  tick,
  qubit_coords,
  shift_coords,
  repeat,
};

// What the parens arguments are, and so how the reader checks them.
enum class Meaning : std::uint8_t {
  none,          // no arguments
  probability,   // each a probability in [0, 1]
  disjoint,      // probabilities of disjoint alternatives: their sum at most 1
  index,         // OBSERVABLE_INCLUDE's observable index
  coordinates,   // any numbers, ignored
  repeat_count,  // REPEAT's count, read by the block reader
};

struct ArgumentRule {
  std::uint8_t low = 0, high = 0;  // how many; kAnyCount as high: unbounded
  Meaning meaning = Meaning::none;
};
inline constexpr std::uint8_t kAnyCount = 255;

// The targets a line takes.
enum class Targets : std::uint8_t {
  none,             // TICK, SHIFT_COORDS, REPEAT
  qubits,           // plain indices
  inverted_qubits,  // indices, `!` allowed
  pairs,            // indices in pairs of distinct qubits (records where a controlled gate reads Z)
  inverted_pairs,   // the same, `!` allowed
  products,         // Pauli targets joined by '*', `!` allowed
  paulis,           // Pauli targets, `!` allowed
  records,          // rec[-k] only
  records_and_paulis,
  bits,  // MPAD: the bits 0 and 1
};

struct InstructionRecord {
  std::string_view name;
  std::array<std::string_view, 2> aliases;
  Kind kind;
  ArgumentRule arguments{};
  Targets targets = Targets::none;
  Vop vop = kNoVop;                      // single-qubit gates
  TwoQubitGate gate = TwoQubitGate::cz;  // two-qubit gates: their place in the program
  GateSteps steps{};                     // two-qubit gates: what they do
  Axis axis = Axis::none;                // measurements, resets, Pauli errors
  bool dagger = false;                   // SPP_DAG
  bool else_branch = false;              // ELSE_CORRELATED_ERROR
  bool on_pairs = false;                 // II_ERROR
};

namespace records {

using Aliases = std::array<std::string_view, 2>;
inline constexpr Aliases kNoAliases{};

constexpr SignedPauli px{Axis::x, false}, nx{Axis::x, true};
constexpr SignedPauli py{Axis::y, false}, ny{Axis::y, true};
constexpr SignedPauli pz{Axis::z, false}, nz{Axis::z, true};

constexpr ArgumentRule kNoArguments{0, 0, Meaning::none};
constexpr ArgumentRule kOptionalFlip{0, 1, Meaning::probability};
constexpr ArgumentRule kOneProbability{1, 1, Meaning::probability};
constexpr ArgumentRule disjoint(std::uint8_t n) { return {n, n, Meaning::disjoint}; }
constexpr ArgumentRule kCoordinates{0, kAnyCount, Meaning::coordinates};

constexpr InstructionRecord clifford(std::string_view name, SignedPauli x, SignedPauli z,
                                     Aliases aliases = kNoAliases) {
  return {.name = name,
          .aliases = aliases,
          .kind = Kind::single_qubit,
          .arguments = kNoArguments,
          .targets = Targets::qubits,
          .vop = vop_with_images(x, z)};
}

constexpr InstructionRecord gate(std::string_view name, TwoQubitGate g, GateSteps steps,
                                 Aliases aliases = kNoAliases) {
  return {.name = name,
          .aliases = aliases,
          .kind = Kind::two_qubit,
          .arguments = kNoArguments,
          .targets = Targets::pairs,
          .gate = g,
          .steps = steps};
}

constexpr InstructionRecord controlled(std::string_view name, TwoQubitGate g, Axis p, Axis q,
                                       Aliases aliases = kNoAliases) {
  return gate(name, g, steps::controlled(p, q), aliases);
}

// exp(+-i pi/4 P(x)P): P carried to Z on both, the phase, CZ, and back.
constexpr GateSteps sqrt_pauli_pair(Axis axis, bool dagger) {
  const Vop to_z = kTakeToZ[static_cast<unsigned>(axis)];
  const Vop phase = dagger ? vop::s_dagger : vop::s;
  return steps::on_both(MULT_TABLE[phase][to_z]).then(steps::cz()).then(steps::on_both(ADJOINT_TABLE[to_z]));
}

// S (or S_DAG) on both, CZ, then SWAP.
constexpr GateSteps iswap(bool dagger) {
  return steps::on_both(dagger ? vop::s_dagger : vop::s).then(steps::cz()).then(steps::swap());
}

constexpr InstructionRecord on_axis(std::string_view name, Kind kind, Axis axis, ArgumentRule arguments,
                                    Targets targets, Aliases aliases = kNoAliases) {
  return {.name = name,
          .aliases = aliases,
          .kind = kind,
          .arguments = arguments,
          .targets = targets,
          .axis = axis};
}

constexpr InstructionRecord line(std::string_view name, Kind kind, ArgumentRule arguments, Targets targets,
                                 Aliases aliases = kNoAliases) {
  return {.name = name, .aliases = aliases, .kind = kind, .arguments = arguments, .targets = targets};
}

constexpr InstructionRecord daggered(InstructionRecord s) {
  s.dagger = true;
  return s;
}
constexpr InstructionRecord else_branch(InstructionRecord s) {
  s.else_branch = true;
  return s;
}
constexpr InstructionRecord on_pairs(InstructionRecord s) {
  s.on_pairs = true;
  return s;
}

using G = TwoQubitGate;
using K = Kind;
using T = Targets;
constexpr Axis X = Axis::x, Y = Axis::y, Z = Axis::z;

inline constexpr std::array kInstructions{
    // Single-qubit Cliffords.
    clifford("I", px, pz),
    clifford("X", px, nz),
    clifford("Y", nx, nz),
    clifford("Z", nx, pz),
    clifford("H", pz, px, {"H_XZ"}),
    clifford("H_XY", py, nz),
    clifford("H_YZ", nx, py),
    clifford("H_NXY", ny, nz),
    clifford("H_NXZ", nz, nx),
    clifford("H_NYZ", nx, ny),
    clifford("S", py, pz, {"SQRT_Z"}),
    clifford("S_DAG", ny, pz, {"SQRT_Z_DAG"}),
    clifford("SQRT_X", px, ny),
    clifford("SQRT_X_DAG", px, py),
    clifford("SQRT_Y", nz, px),
    clifford("SQRT_Y_DAG", pz, nx),
    clifford("C_XYZ", py, px),
    clifford("C_ZYX", pz, py),
    clifford("C_NXYZ", ny, nx),
    clifford("C_NZYX", nz, ny),
    clifford("C_XNYZ", ny, px),
    clifford("C_XYNZ", py, nx),
    clifford("C_ZNYX", pz, ny),
    clifford("C_ZYNX", nz, py),
    // Two-qubit Cliffords.
    controlled("CZ", G::cz, Z, Z, {"ZCZ"}),
    controlled("CX", G::cx, Z, X, {"CNOT", "ZCX"}),
    controlled("CY", G::cy, Z, Y, {"ZCY"}),
    controlled("XCX", G::xcx, X, X),
    controlled("XCY", G::xcy, X, Y),
    controlled("XCZ", G::xcz, X, Z),
    controlled("YCX", G::ycx, Y, X),
    controlled("YCY", G::ycy, Y, Y),
    controlled("YCZ", G::ycz, Y, Z),
    gate("SWAP", G::swap, steps::swap()),
    gate("ISWAP", G::iswap, iswap(false)),
    gate("ISWAP_DAG", G::iswap_dag, iswap(true)),
    gate("SQRT_XX", G::sqrt_xx, sqrt_pauli_pair(X, false)),
    gate("SQRT_XX_DAG", G::sqrt_xx_dag, sqrt_pauli_pair(X, true)),
    gate("SQRT_YY", G::sqrt_yy, sqrt_pauli_pair(Y, false)),
    gate("SQRT_YY_DAG", G::sqrt_yy_dag, sqrt_pauli_pair(Y, true)),
    gate("SQRT_ZZ", G::sqrt_zz, sqrt_pauli_pair(Z, false)),
    gate("SQRT_ZZ_DAG", G::sqrt_zz_dag, sqrt_pauli_pair(Z, true)),
    gate("CXSWAP", G::cxswap, steps::cx_reversed().then(steps::cx())),
    gate("SWAPCX", G::swapcx, steps::cx().then(steps::cx_reversed())),
    gate("CZSWAP", G::czswap, steps::cz().then(steps::swap()), {"SWAPCZ"}),
    line("II", K::pair_identity, kNoArguments, T::pairs),
    // Measurements and resets.
    on_axis("M", K::measure, Z, kOptionalFlip, T::inverted_qubits, {"MZ"}),
    on_axis("MX", K::measure, X, kOptionalFlip, T::inverted_qubits),
    on_axis("MY", K::measure, Y, kOptionalFlip, T::inverted_qubits),
    on_axis("R", K::reset, Z, kNoArguments, T::qubits, {"RZ"}),
    on_axis("RX", K::reset, X, kNoArguments, T::qubits),
    on_axis("RY", K::reset, Y, kNoArguments, T::qubits),
    on_axis("MR", K::measure_reset, Z, kOptionalFlip, T::inverted_qubits, {"MRZ"}),
    on_axis("MRX", K::measure_reset, X, kOptionalFlip, T::inverted_qubits),
    on_axis("MRY", K::measure_reset, Y, kOptionalFlip, T::inverted_qubits),
    on_axis("MXX", K::measure_pair, X, kOptionalFlip, T::inverted_pairs),
    on_axis("MYY", K::measure_pair, Y, kOptionalFlip, T::inverted_pairs),
    on_axis("MZZ", K::measure_pair, Z, kOptionalFlip, T::inverted_pairs),
    line("MPP", K::measure_product, kOptionalFlip, T::products),
    line("SPP", K::rotate_product, kNoArguments, T::products),
    daggered(line("SPP_DAG", K::rotate_product, kNoArguments, T::products)),
    line("MPAD", K::pad, kOptionalFlip, T::bits),
    // Noise.
    on_axis("X_ERROR", K::pauli_error, X, kOneProbability, T::qubits),
    on_axis("Y_ERROR", K::pauli_error, Y, kOneProbability, T::qubits),
    on_axis("Z_ERROR", K::pauli_error, Z, kOneProbability, T::qubits),
    line("DEPOLARIZE1", K::depolarize1, kOneProbability, T::qubits),
    line("DEPOLARIZE2", K::depolarize2, kOneProbability, T::pairs),
    line("PAULI_CHANNEL_1", K::pauli_channel_1, disjoint(3), T::qubits),
    line("PAULI_CHANNEL_2", K::pauli_channel_2, disjoint(15), T::pairs),
    line("E", K::correlated_error, kOneProbability, T::paulis, {"CORRELATED_ERROR"}),
    else_branch(line("ELSE_CORRELATED_ERROR", K::correlated_error, kOneProbability, T::paulis)),
    line("HERALDED_ERASE", K::heralded_erase, disjoint(1), T::inverted_qubits),
    line("HERALDED_PAULI_CHANNEL_1", K::heralded_pauli_channel_1, disjoint(4), T::inverted_qubits),
    line("I_ERROR", K::identity_error, {0, kAnyCount, Meaning::disjoint}, T::qubits),
    on_pairs(line("II_ERROR", K::identity_error, {0, kAnyCount, Meaning::disjoint}, T::pairs)),
    // Annotations and blocks.
    line("DETECTOR", K::detector, kCoordinates, T::records),
    line("OBSERVABLE_INCLUDE", K::observable_include, {1, 1, Meaning::index}, T::records_and_paulis),
    line("TICK", K::tick, kNoArguments, T::none),
    line("QUBIT_COORDS", K::qubit_coords, kCoordinates, T::qubits),
    line("SHIFT_COORDS", K::shift_coords, kCoordinates, T::none),
    line("REPEAT", K::repeat, {1, 1, Meaning::repeat_count}, T::none),
};

// A name the reader accepts: the instruction's own or an alias.
struct NamedEntry {
  std::string_view name;
  std::uint8_t instruction;  // index into kInstructions
};

constexpr std::size_t count_names() {
  std::size_t n = kInstructions.size();
  for (std::size_t i = 0; i < kInstructions.size(); ++i) {
    for (std::size_t a = 0; a < 2; ++a) n += kInstructions[i].aliases[a].size() != 0 ? 1 : 0;
  }
  return n;
}

// Every name, aliases included, in byte order for binary search.
constexpr auto sorted_names() {
  std::array<NamedEntry, count_names()> names{};
  std::size_t n = 0;
  const auto add = [&](std::string_view name, std::size_t i) {
    names[n].name = name;
    names[n].instruction = static_cast<std::uint8_t>(i);
    ++n;
  };
  for (std::size_t i = 0; i < kInstructions.size(); ++i) {
    add(kInstructions[i].name, i);
    for (std::size_t a = 0; a < 2; ++a) {
      if (kInstructions[i].aliases[a].size() != 0) add(kInstructions[i].aliases[a], i);
    }
  }
  std::sort(names.begin(), names.end(),
            [](const NamedEntry& a, const NamedEntry& b) { return a.name < b.name; });
  return names;
}

inline constexpr auto kNames = sorted_names();

// The steps of each two-qubit gate, by its place in the program.
constexpr auto steps_by_gate() {
  std::array<GateSteps, kTwoQubitGates> table{};
  for (const InstructionRecord& s : kInstructions) {
    if (s.kind == Kind::two_qubit) table[static_cast<unsigned>(s.gate)] = s.steps;
  }
  return table;
}

inline constexpr auto kStepsByGate = steps_by_gate();

constexpr bool names_sorted_and_resolved() {
  for (std::size_t i = 1; i < kNames.size(); ++i) {
    if (!(kNames[i - 1].name < kNames[i].name)) return false;
  }
  std::array<int, kTwoQubitGates> gates{};
  for (const InstructionRecord& s : kInstructions) {
    if (s.kind == Kind::single_qubit && s.vop == kNoVop) return false;
    if (s.kind == Kind::two_qubit) {
      ++gates[static_cast<unsigned>(s.gate)];
      // The controlled gates are exactly those the program numbers below
      // SWAP, each a single controlled step.
      if (s.steps.is_controlled() != is_controlled(s.gate) || s.steps.count == 0) return false;
    }
  }
  for (int g : gates) {
    if (g != 1) return false;
  }
  return true;
}

static_assert(names_sorted_and_resolved(),
              "names must be unique, every Clifford a VOP, every two-qubit gate declared once with steps");

}  // namespace records

using records::kInstructions;

// A name as found: the name (upper case, as it stands in the table) and
// the instruction it names.
struct NamedInstruction {
  std::string_view name;
  const InstructionRecord* record;
};

// The entry for an upper-case name, if there is one.
constexpr std::optional<NamedInstruction> find_instruction(std::string_view upper_name) {
  const auto& names = records::kNames;
  const auto* found = std::lower_bound(
      names.begin(), names.end(), upper_name,
      [](const records::NamedEntry& entry, std::string_view name) { return entry.name < name; });
  if (found == names.end() || found->name != upper_name) return std::nullopt;
  return NamedInstruction{found->name, &kInstructions[found->instruction]};
}

// The register steps of a two-qubit gate of the program.
constexpr const GateSteps& gate_steps(TwoQubitGate gate) {
  return records::kStepsByGate[static_cast<unsigned>(gate)];
}

static_assert(find_instruction("H")->record->vop == vop::hadamard);
static_assert(find_instruction("SQRT_Z_DAG")->record->vop == vop::s_dagger);
static_assert(find_instruction("CNOT")->record->gate == TwoQubitGate::cx);
static_assert(!find_instruction("T").has_value());
// Every name of the circuit format, aliases included, is listed: 81
// instructions and 12 further aliases.
static_assert(kInstructions.size() == 81 && records::kNames.size() == 81 + 12);

}  // namespace ordavine::circuit
