// The local Clifford group: the 24 single-qubit Clifford operators modulo
// global phase, numbered 0..23, and every constant table over that numbering.
//
// A VOP u = 4k + p has class k = u / 4 and Pauli part p = u mod 4 (0 = I,
// 1 = X, 2 = Y, 3 = Z); its operator is the class representative 4k applied
// after the Pauli p.  Every group operation at run time is one byte read from
// these tables: no matrices or phases exist while the module runs.
#pragma once

#include <array>
#include <cstdint>

namespace ordavine {

using Vop = std::uint8_t;

// Pauli axes; the codes index CONJ_TABLE rows.  `none` marks an absent axis.
enum class Axis : std::uint8_t { x = 0, y = 1, z = 2, none = 3 };

// Named elements used as gates and as right factors.
namespace vop {
inline constexpr Vop identity = 0;
inline constexpr Vop pauli_x = 1;
inline constexpr Vop pauli_y = 2;
inline constexpr Vop pauli_z = 3;
inline constexpr Vop s_dagger = 5;
inline constexpr Vop s = 6;
inline constexpr Vop sqrt_minus_iy = 9;
inline constexpr Vop hadamard = 10;
inline constexpr Vop sqrt_iy = 11;
inline constexpr Vop sqrt_ix = 14;
}  // namespace vop

// MULT_TABLE[a][b] is operator(a) * operator(b): b acts first, then a.
// Gates multiply on the left (MULT_TABLE[g][v]); corrections inserted under a
// VOP multiply on the right (MULT_TABLE[v][c]).
// clang-format off
inline constexpr std::array<std::array<Vop, 24>, 24> MULT_TABLE{{
    { 0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23},
    { 1,  0,  3,  2,  6,  7,  4,  5, 11, 10,  9,  8, 13, 12, 15, 14, 19, 18, 17, 16, 22, 23, 20, 21},
    { 2,  3,  0,  1,  5,  4,  7,  6, 10, 11,  8,  9, 15, 14, 13, 12, 17, 16, 19, 18, 23, 22, 21, 20},
    { 3,  2,  1,  0,  7,  6,  5,  4,  9,  8, 11, 10, 14, 15, 12, 13, 18, 19, 16, 17, 21, 20, 23, 22},
    { 4,  5,  6,  7,  0,  1,  2,  3, 20, 21, 22, 23, 16, 17, 18, 19, 12, 13, 14, 15,  8,  9, 10, 11},
    { 5,  4,  7,  6,  2,  3,  0,  1, 23, 22, 21, 20, 17, 16, 19, 18, 15, 14, 13, 12, 10, 11,  8,  9},
    { 6,  7,  4,  5,  1,  0,  3,  2, 22, 23, 20, 21, 19, 18, 17, 16, 13, 12, 15, 14, 11, 10,  9,  8},
    { 7,  6,  5,  4,  3,  2,  1,  0, 21, 20, 23, 22, 18, 19, 16, 17, 14, 15, 12, 13,  9,  8, 11, 10},
    { 8,  9, 10, 11, 16, 17, 18, 19,  0,  1,  2,  3, 20, 21, 22, 23,  4,  5,  6,  7, 12, 13, 14, 15},
    { 9,  8, 11, 10, 18, 19, 16, 17,  3,  2,  1,  0, 21, 20, 23, 22,  7,  6,  5,  4, 14, 15, 12, 13},
    {10, 11,  8,  9, 17, 16, 19, 18,  2,  3,  0,  1, 23, 22, 21, 20,  5,  4,  7,  6, 15, 14, 13, 12},
    {11, 10,  9,  8, 19, 18, 17, 16,  1,  0,  3,  2, 22, 23, 20, 21,  6,  7,  4,  5, 13, 12, 15, 14},
    {12, 13, 14, 15, 20, 21, 22, 23, 16, 17, 18, 19,  0,  1,  2,  3,  8,  9, 10, 11,  4,  5,  6,  7},
    {13, 12, 15, 14, 22, 23, 20, 21, 19, 18, 17, 16,  1,  0,  3,  2, 11, 10,  9,  8,  6,  7,  4,  5},
    {14, 15, 12, 13, 21, 20, 23, 22, 18, 19, 16, 17,  3,  2,  1,  0,  9,  8, 11, 10,  7,  6,  5,  4},
    {15, 14, 13, 12, 23, 22, 21, 20, 17, 16, 19, 18,  2,  3,  0,  1, 10, 11,  8,  9,  5,  4,  7,  6},
    {16, 17, 18, 19,  8,  9, 10, 11, 12, 13, 14, 15,  4,  5,  6,  7, 20, 21, 22, 23,  0,  1,  2,  3},
    {17, 16, 19, 18, 10, 11,  8,  9, 15, 14, 13, 12,  5,  4,  7,  6, 23, 22, 21, 20,  2,  3,  0,  1},
    {18, 19, 16, 17,  9,  8, 11, 10, 14, 15, 12, 13,  7,  6,  5,  4, 21, 20, 23, 22,  3,  2,  1,  0},
    {19, 18, 17, 16, 11, 10,  9,  8, 13, 12, 15, 14,  6,  7,  4,  5, 22, 23, 20, 21,  1,  0,  3,  2},
    {20, 21, 22, 23, 12, 13, 14, 15,  4,  5,  6,  7,  8,  9, 10, 11,  0,  1,  2,  3, 16, 17, 18, 19},
    {21, 20, 23, 22, 14, 15, 12, 13,  7,  6,  5,  4,  9,  8, 11, 10,  3,  2,  1,  0, 18, 19, 16, 17},
    {22, 23, 20, 21, 13, 12, 15, 14,  6,  7,  4,  5, 11, 10,  9,  8,  1,  0,  3,  2, 19, 18, 17, 16},
    {23, 22, 21, 20, 15, 14, 13, 12,  5,  4,  7,  6, 10, 11,  8,  9,  2,  3,  0,  1, 17, 16, 19, 18}
}};
// clang-format on

// clang-format off
inline constexpr std::array<Vop, 24> ADJOINT_TABLE{0, 1, 2, 3, 4, 6, 5, 7, 8, 11, 10, 9, 12, 13, 15, 14, 20, 22, 23, 21, 16, 19, 17, 18};
// clang-format on

// CONJ_TABLE[a][u]: the axis that u carries axis a to; the sign is computed
// by conj_sign_negative.
// clang-format off
inline constexpr std::array<std::array<std::uint8_t, 24>, 3> CONJ_TABLE{{
    {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2},
    {1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0},
    {2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1},
}};
// clang-format on

// X_PREIMAGE_TABLE[u]: the axis that u carries to +-X.
// clang-format off
inline constexpr std::array<std::uint8_t, 24> X_PREIMAGE_TABLE{0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0, 2, 2, 2, 2, 1, 1, 1, 1};
// clang-format on

// A reduction word: letter 0 is a local complementation about the vertex
// itself (right factor 14), letter 1 one about its partner (right factor 6).
// Applied first to last, a VOP's word brings it to the identity.
struct DecompWord {
  std::uint8_t length;
  std::array<std::uint8_t, 5> letters;
};

// clang-format off
inline constexpr std::array<DecompWord, 24> DECOMP_TABLE{{
    {4, {0, 0, 0, 0}},  // 0,
    {2, {0, 0}},  // 1,
    {4, {0, 0, 1, 1}},  // 2,
    {2, {1, 1}},  // 3,
    {3, {0, 0, 1}},  // 4,
    {1, {1}},  // 5,
    {3, {1, 1, 1}},  // 6,
    {3, {1, 0, 0}},  // 7,
    {3, {0, 1, 0}},  // 8,
    {5, {0, 0, 0, 1, 0}},  // 9,
    {5, {0, 1, 1, 1, 0}},  // 10,
    {5, {0, 1, 0, 0, 0}},  // 11,
    {3, {1, 1, 0}},  // 12,
    {3, {0, 1, 1}},  // 13,
    {3, {0, 0, 0}},  // 14,
    {1, {0}},  // 15,
    {4, {0, 1, 1, 1}},  // 16,
    {4, {0, 1, 0, 0}},  // 17,
    {2, {0, 1}},  // 18,
    {4, {0, 0, 0, 1}},  // 19,
    {4, {1, 0, 0, 0}},  // 20,
    {4, {1, 1, 1, 0}},  // 21,
    {2, {1, 0}},  // 22,
    {4, {0, 0, 1, 0}},  // 23
}};
// clang-format on

// {0, 3, 5, 6}: the diagonal VOPs (I, Z, S-dagger, S), which commute with CZ.
inline constexpr std::uint8_t kCzCommutingMask = 0x69;

constexpr bool in_cz_commuting_set(Vop v) { return v <= 6 && ((kCzCommutingMask >> v) & 1u) != 0; }

// Whether operator(u) carries Pauli axis a to the negative of its image.
// The Pauli part p flips every axis but its own; the representatives of
// classes 1, 2 and 3 add a minus sign of their own.
constexpr bool conj_sign_negative(Vop u, Axis a) {
  const unsigned p = u % 4;
  const unsigned axis_pauli = static_cast<unsigned>(a) + 1;
  if (p == 0) return 4 <= u && u < 16;
  if (u < 4) return p != axis_pauli;
  if (p == axis_pauli) return u < 16;
  return u >= 16;
}

constexpr Axis conj_axis(Vop u, Axis a) { return static_cast<Axis>(CONJ_TABLE[static_cast<unsigned>(a)][u]); }

namespace detail {

constexpr bool is_group_table() {
  for (int a = 0; a < 24; ++a) {
    std::array<bool, 24> row_seen{}, col_seen{};
    for (int b = 0; b < 24; ++b) {
      const Vop r = MULT_TABLE[a][b], c = MULT_TABLE[b][a];
      if (r >= 24 || c >= 24 || row_seen[r] || col_seen[c]) return false;
      row_seen[r] = col_seen[c] = true;
    }
    if (MULT_TABLE[0][a] != a || MULT_TABLE[a][0] != a) return false;
  }
  return true;
}

constexpr bool adjoints_invert() {
  for (int u = 0; u < 24; ++u) {
    const Vop inv = ADJOINT_TABLE[u];
    if (MULT_TABLE[u][inv] != 0 || MULT_TABLE[inv][u] != 0) return false;
  }
  return true;
}

constexpr bool words_reduce_to_identity() {
  for (int u = 0; u < 24; ++u) {
    const DecompWord& w = DECOMP_TABLE[u];
    if (w.length < 1 || w.length > 5) return false;
    Vop x = static_cast<Vop>(u);
    for (int i = 0; i < w.length; ++i) {
      x = MULT_TABLE[x][w.letters[i] == 0 ? vop::sqrt_ix : vop::s];
    }
    if (x != 0) return false;
  }
  return true;
}

// The class structure: 4k + p is the representative 4k after the Pauli p.
constexpr bool pauli_parts_compose() {
  for (int k = 0; k < 6; ++k) {
    for (int p = 0; p < 4; ++p) {
      if (MULT_TABLE[4 * k][p] != 4 * k + p) return false;
    }
  }
  return true;
}

constexpr bool x_preimage_inverts_conj() {
  for (int u = 0; u < 24; ++u) {
    if (CONJ_TABLE[X_PREIMAGE_TABLE[u]][u] != 0) return false;
  }
  return true;
}

}  // namespace detail

static_assert(detail::is_group_table(), "MULT_TABLE must be a group table");
static_assert(detail::adjoints_invert(), "ADJOINT_TABLE must invert MULT_TABLE");
static_assert(detail::words_reduce_to_identity(), "every reduction word must reach 0");
static_assert(detail::pauli_parts_compose(), "VOP 4k+p must be 4k after Pauli p");
static_assert(detail::x_preimage_inverts_conj(), "X_PREIMAGE_TABLE must invert CONJ_TABLE");
static_assert(in_cz_commuting_set(0) && in_cz_commuting_set(3) && in_cz_commuting_set(5) &&
              in_cz_commuting_set(6) && !in_cz_commuting_set(1) && !in_cz_commuting_set(7));

}  // namespace ordavine
