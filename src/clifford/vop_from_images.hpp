// Finding a VOP by what it does to the Pauli axes.  A single-qubit Clifford
// operator is fixed, up to global phase, by the signed images of X and Z
// under conjugation; circuit formats name their gates that way, so each
// named gate becomes a VOP at compile time, read off the tables here.
#pragma once

#include "clifford/tables.hpp"

namespace ordavine {

// +-sigma_axis.
struct SignedPauli {
  Axis axis;
  bool negative;
};

inline constexpr Vop kNoVop = 24;

// The VOP u with u X u^dagger = x and u Z u^dagger = z, or kNoVop when no
// Clifford operator does that (the images do not anticommute).
constexpr Vop vop_with_images(SignedPauli x, SignedPauli z) {
  for (unsigned u = 0; u < 24; ++u) {
    const Vop v = static_cast<Vop>(u);
    if (conj_axis(v, Axis::x) == x.axis && conj_sign_negative(v, Axis::x) == x.negative &&
        conj_axis(v, Axis::z) == z.axis && conj_sign_negative(v, Axis::z) == z.negative) {
      return v;
    }
  }
  return kNoVop;
}

namespace detail {

// Every anticommuting pair of signed images names exactly one VOP, and
// every VOP is named by one pair: 6 ordered axis pairs times 4 signs.
constexpr bool images_name_each_vop_once() {
  std::array<int, 24> named{};
  for (unsigned ax = 0; ax < 3; ++ax) {
    for (unsigned az = 0; az < 3; ++az) {
      for (int signs = 0; signs < 4; ++signs) {
        const Vop v = vop_with_images({static_cast<Axis>(ax), (signs & 1) != 0},
                                      {static_cast<Axis>(az), (signs & 2) != 0});
        if ((ax == az) != (v == kNoVop)) return false;
        if (v != kNoVop) ++named[v];
      }
    }
  }
  for (int count : named) {
    if (count != 1) return false;
  }
  return true;
}

}  // namespace detail

static_assert(detail::images_name_each_vop_once(), "X and Z images must determine the VOP");
static_assert(vop_with_images({Axis::z, false}, {Axis::x, false}) == vop::hadamard);
static_assert(vop_with_images({Axis::y, false}, {Axis::z, false}) == vop::s);
static_assert(vop_with_images({Axis::y, true}, {Axis::z, false}) == vop::s_dagger);
static_assert(vop_with_images({Axis::x, false}, {Axis::z, true}) == vop::pauli_x);
static_assert(vop_with_images({Axis::x, false}, {Axis::z, false}) == vop::identity);

}  // namespace ordavine
