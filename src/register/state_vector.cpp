#include "register/state_vector.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "failure/failure.hpp"

namespace ordavine {
namespace {

using Amplitude = std::complex<float>;
using Column = std::array<Amplitude, 2>;

// The +1 eigenvector of a signed Pauli, unnormalised.
Column plus_eigenvector(Axis axis, bool negative) {
  const float s = negative ? -1.0f : 1.0f;
  switch (axis) {
    case Axis::x: return {Amplitude{1, 0}, Amplitude{s, 0}};
    case Axis::y: return {Amplitude{1, 0}, Amplitude{0, s}};
    case Axis::z:
    case Axis::none: break;
  }
  return negative ? Column{Amplitude{0, 0}, Amplitude{1, 0}} : Column{Amplitude{1, 0}, Amplitude{0, 0}};
}

// A signed Pauli applied to a column.
Column apply_pauli(Axis axis, bool negative, Column c) {
  const float s = negative ? -1.0f : 1.0f;
  switch (axis) {
    case Axis::x: return {s * c[1], s * c[0]};
    case Axis::y: return {s * Amplitude{0, -1} * c[1], s * Amplitude{0, 1} * c[0]};
    case Axis::z:
    case Axis::none: break;
  }
  return {s * c[0], -s * c[1]};
}

// The VOP's matrix, up to a phase, by columns: U|0> is the +1 eigenvector
// of U Z U^dagger, and U|1> = U X |0> = (U X U^dagger) U|0>.
std::array<Column, 2> vop_matrix(Vop v) {
  const Column zero = plus_eigenvector(conj_axis(v, Axis::z), conj_sign_negative(v, Axis::z));
  const Column one = apply_pauli(conj_axis(v, Axis::x), conj_sign_negative(v, Axis::x), zero);
  return {zero, one};
}

// The nearest of 1, i, -1, -i to a unit complex number.
Amplitude nearest_power_of_i(Amplitude a) {
  if (std::abs(a.real()) >= std::abs(a.imag())) return {a.real() > 0 ? 1.0f : -1.0f, 0.0f};
  return {0.0f, a.imag() > 0 ? 1.0f : -1.0f};
}

}  // namespace

void write_state_vector(const Register& reg, std::span<std::complex<float>> out) {
  const std::size_t n = reg.size();
  if (n > kMaxStateVectorQubits || out.size() != (std::size_t{1} << n)) {
    fail("state vector asked of a register of another size than its buffer");
  }
  // The graph state: (-1) to the number of edges inside the set of ones.
  // Built one bit at a time: adding the highest bit q of x flips the sign
  // once per neighbour of q among the lower bits already set.
  std::vector<std::uint32_t> lower_neighbours(n, 0);
  for (Qubit q = 0; q < n; ++q) {
    for (const Qubit w : reg[q].neighbors) {
      if (w < q) lower_neighbours[q] |= std::uint32_t{1} << w;
    }
  }
  out[0] = 1.0f;
  for (std::size_t q = 0; q < n; ++q) {
    const std::size_t half = std::size_t{1} << q;
    for (std::size_t x = 0; x < half; ++x) {
      const bool odd = (std::popcount(static_cast<std::uint32_t>(x) & lower_neighbours[q]) & 1) != 0;
      out[half + x] = odd ? -out[x] : out[x];
    }
  }
  // Each VOP on its qubit.
  for (std::size_t q = 0; q < n; ++q) {
    const Vop v = reg[q].vop;
    if (v == vop::identity) continue;
    const auto u = vop_matrix(v);
    const std::size_t bit = std::size_t{1} << q;
    for (std::size_t x = 0; x < out.size(); ++x) {
      if ((x & bit) != 0) continue;
      const Amplitude a0 = out[x], a1 = out[x | bit];
      out[x] = u[0][0] * a0 + u[1][0] * a1;
      out[x | bit] = u[0][1] * a0 + u[1][1] * a1;
    }
  }
  // All non-zero amplitudes of a stabilizer state have one magnitude and
  // differ by powers of i: zeros are told apart by half the largest
  // magnitude, and the rest written exactly, relative to the first.
  float largest = 0.0f;
  for (const Amplitude a : out) largest = std::max(largest, std::abs(a));
  std::size_t non_zero = 0;
  Amplitude first{0, 0};
  for (const Amplitude a : out) {
    if (std::abs(a) < largest / 2) continue;
    if (non_zero++ == 0) first = a / std::abs(a);
  }
  const float magnitude = 1.0f / std::sqrt(static_cast<float>(non_zero));
  const Amplitude unphase = std::conj(first);
  for (Amplitude& a : out) {
    a = std::abs(a) < largest / 2 ? Amplitude{0, 0}
                                  : magnitude * nearest_power_of_i(a / std::abs(a) * unphase);
  }
}

}  // namespace ordavine
