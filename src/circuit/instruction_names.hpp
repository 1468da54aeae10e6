// The instruction names the reader accepts, upper case, each with what it
// compiles to: every instruction of the circuit format and its aliases.
// Single-qubit Cliffords are given
// by the signed images of X and Z that define them in the circuit format,
// and turned into VOPs by the Clifford tables at compile time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "circuit/program.hpp"
#include "clifford/vop_from_images.hpp"

namespace ordavine::circuit {

// What an instruction line becomes.  Annotations are checked and dropped.
enum class Kind : std::uint8_t {
  single_qubit,
  two_qubit,
  pair_identity,       // II: pairs checked, nothing run
  measure,
  reset,
  measure_reset,
  measure_pair,        // MXX, MYY, MZZ: detail is the Axis
  measure_product,     // MPP
  rotate_product,      // SPP (detail 0), SPP_DAG (detail 1)
  pad,                 // MPAD
  pauli_error,
  depolarize1,
  depolarize2,
  pauli_channel_1,
  pauli_channel_2,
  correlated_error,    // E (detail 0), ELSE_CORRELATED_ERROR (detail 1)
  heralded_erase,
  heralded_pauli_channel_1,
  identity_error,      // I_ERROR (detail 1), II_ERROR (detail 2): checked, nothing run
  detector,
  observable_include,
  tick,
  qubit_coords,
  shift_coords,
  repeat,
};

struct NamedInstruction {
  std::string_view name;
  Kind kind;
  std::uint8_t detail;
};

namespace names {

constexpr SignedPauli px{Axis::x, false}, nx{Axis::x, true};
constexpr SignedPauli py{Axis::y, false}, ny{Axis::y, true};
constexpr SignedPauli pz{Axis::z, false}, nz{Axis::z, true};

constexpr NamedInstruction clifford(std::string_view name, SignedPauli x, SignedPauli z) {
  return {name, Kind::single_qubit, vop_with_images(x, z)};
}
constexpr NamedInstruction pair(std::string_view name, TwoQubitGate gate) {
  return {name, Kind::two_qubit, static_cast<std::uint8_t>(gate)};
}
constexpr NamedInstruction on_axis(std::string_view name, Kind kind, Axis axis) {
  return {name, kind, static_cast<std::uint8_t>(axis)};
}
constexpr NamedInstruction plain(std::string_view name, Kind kind) { return {name, kind, 0}; }
constexpr NamedInstruction on_detail(std::string_view name, Kind kind, std::uint8_t detail) {
  return {name, kind, detail};
}

using G = TwoQubitGate;
using K = Kind;

inline constexpr std::array kListed{
    plain("CORRELATED_ERROR", K::correlated_error),
    pair("CXSWAP", G::cxswap),
    pair("CZSWAP", G::czswap),
    plain("E", K::correlated_error),
    on_detail("ELSE_CORRELATED_ERROR", K::correlated_error, 1),
    plain("HERALDED_ERASE", K::heralded_erase),
    plain("HERALDED_PAULI_CHANNEL_1", K::heralded_pauli_channel_1),
    plain("II", K::pair_identity),
    on_detail("II_ERROR", K::identity_error, 2),
    on_detail("I_ERROR", K::identity_error, 1),
    plain("MPAD", K::pad),
    plain("MPP", K::measure_product),
    on_axis("MXX", K::measure_pair, Axis::x),
    on_axis("MYY", K::measure_pair, Axis::y),
    on_axis("MZZ", K::measure_pair, Axis::z),
    plain("PAULI_CHANNEL_2", K::pauli_channel_2),
    plain("SPP", K::rotate_product),
    on_detail("SPP_DAG", K::rotate_product, 1),
    pair("SQRT_XX", G::sqrt_xx),
    pair("SQRT_XX_DAG", G::sqrt_xx_dag),
    pair("SQRT_YY", G::sqrt_yy),
    pair("SQRT_YY_DAG", G::sqrt_yy_dag),
    pair("SQRT_ZZ", G::sqrt_zz),
    pair("SQRT_ZZ_DAG", G::sqrt_zz_dag),
    pair("SWAPCX", G::swapcx),
    pair("SWAPCZ", G::czswap),
    clifford("C_NXYZ", ny, nx),
    clifford("C_NZYX", nz, ny),
    clifford("C_XNYZ", ny, px),
    clifford("C_XYNZ", py, nx),
    clifford("C_XYZ", py, px),
    clifford("C_ZNYX", pz, ny),
    clifford("C_ZYNX", nz, py),
    clifford("C_ZYX", pz, py),
    pair("CNOT", G::cx),
    pair("CX", G::cx),
    pair("CY", G::cy),
    pair("CZ", G::cz),
    plain("DEPOLARIZE1", K::depolarize1),
    plain("DEPOLARIZE2", K::depolarize2),
    plain("DETECTOR", K::detector),
    clifford("H", pz, px),
    clifford("H_NXY", ny, nz),
    clifford("H_NXZ", nz, nx),
    clifford("H_NYZ", nx, ny),
    clifford("H_XY", py, nz),
    clifford("H_XZ", pz, px),
    clifford("H_YZ", nx, py),
    clifford("I", px, pz),
    pair("ISWAP", G::iswap),
    pair("ISWAP_DAG", G::iswap_dag),
    on_axis("M", K::measure, Axis::z),
    on_axis("MR", K::measure_reset, Axis::z),
    on_axis("MRX", K::measure_reset, Axis::x),
    on_axis("MRY", K::measure_reset, Axis::y),
    on_axis("MRZ", K::measure_reset, Axis::z),
    on_axis("MX", K::measure, Axis::x),
    on_axis("MY", K::measure, Axis::y),
    on_axis("MZ", K::measure, Axis::z),
    plain("OBSERVABLE_INCLUDE", K::observable_include),
    plain("PAULI_CHANNEL_1", K::pauli_channel_1),
    plain("QUBIT_COORDS", K::qubit_coords),
    on_axis("R", K::reset, Axis::z),
    plain("REPEAT", K::repeat),
    on_axis("RX", K::reset, Axis::x),
    on_axis("RY", K::reset, Axis::y),
    on_axis("RZ", K::reset, Axis::z),
    clifford("S", py, pz),
    clifford("SQRT_X", px, ny),
    clifford("SQRT_X_DAG", px, py),
    clifford("SQRT_Y", nz, px),
    clifford("SQRT_Y_DAG", pz, nx),
    clifford("SQRT_Z", py, pz),
    clifford("SQRT_Z_DAG", ny, pz),
    clifford("S_DAG", ny, pz),
    plain("SHIFT_COORDS", K::shift_coords),
    pair("SWAP", G::swap),
    plain("TICK", K::tick),
    clifford("X", px, nz),
    pair("XCX", G::xcx),
    pair("XCY", G::xcy),
    pair("XCZ", G::xcz),
    on_axis("X_ERROR", K::pauli_error, Axis::x),
    clifford("Y", nx, nz),
    pair("YCX", G::ycx),
    pair("YCY", G::ycy),
    pair("YCZ", G::ycz),
    on_axis("Y_ERROR", K::pauli_error, Axis::y),
    clifford("Z", nx, pz),
    pair("ZCX", G::cx),
    pair("ZCY", G::cy),
    pair("ZCZ", G::cz),
    on_axis("Z_ERROR", K::pauli_error, Axis::z),
};

// The listed entries in byte order of their names, for binary search.
constexpr auto sorted_by_name(auto entries) {
  std::sort(entries.begin(), entries.end(),
            [](const NamedInstruction& a, const NamedInstruction& b) { return a.name < b.name; });
  return entries;
}

inline constexpr auto kTable = sorted_by_name(kListed);

constexpr bool sorted_and_resolved() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    if (i > 0 && !(kTable[i - 1].name < kTable[i].name)) return false;
    if (kTable[i].kind == Kind::single_qubit && kTable[i].detail == kNoVop) return false;
  }
  return true;
}

static_assert(sorted_and_resolved(), "names must be sorted, unique, and every Clifford a VOP");

}  // namespace names

// The entry for an upper-case name, if there is one.
constexpr std::optional<NamedInstruction> find_instruction(std::string_view upper_name) {
  const auto& table = names::kTable;
  const auto* found = std::lower_bound(
      table.begin(), table.end(), upper_name,
      [](const NamedInstruction& entry, std::string_view name) { return entry.name < name; });
  if (found == table.end() || found->name != upper_name) return std::nullopt;
  return *found;
}

static_assert(find_instruction("H")->detail == vop::hadamard);
static_assert(find_instruction("S_DAG")->detail == vop::s_dagger);
static_assert(!find_instruction("T").has_value());
// Every name of the circuit format, aliases included, is listed: 81
// instructions and 12 further aliases.
static_assert(names::kTable.size() == 81 + 12);

}  // namespace ordavine::circuit
