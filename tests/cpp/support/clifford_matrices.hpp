// The 24 local Clifford elements as explicit 2x2 complex matrices, typed in
// from the VOP numbering, together with the small amount of linear algebra the
// table tests need to derive every group fact numerically.  Nothing here reads
// the lookup tables of src/clifford: it is the independent side of the check.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <optional>
#include <ostream>

namespace ordavine::test_matrices {

using Complex = std::complex<double>;

inline constexpr double kTolerance = 1e-9;

// Row-major 2x2 matrix: {m00, m01, m10, m11}.
struct Mat2 {
  std::array<Complex, 4> e{};

  Complex operator()(int r, int c) const { return e[2 * r + c]; }
  Complex& operator()(int r, int c) { return e[2 * r + c]; }
};

inline std::ostream& operator<<(std::ostream& os, const Mat2& m) {
  return os << "[" << m.e[0] << ", " << m.e[1] << "; " << m.e[2] << ", " << m.e[3] << "]";
}

inline Mat2 operator*(const Mat2& a, const Mat2& b) {
  Mat2 r;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) r(i, j) = a(i, 0) * b(0, j) + a(i, 1) * b(1, j);
  return r;
}

inline Mat2 operator+(const Mat2& a, const Mat2& b) {
  Mat2 r;
  for (int i = 0; i < 4; ++i) r.e[i] = a.e[i] + b.e[i];
  return r;
}

inline Mat2 operator*(Complex s, const Mat2& a) {
  Mat2 r;
  for (int i = 0; i < 4; ++i) r.e[i] = s * a.e[i];
  return r;
}

inline Mat2 dagger(const Mat2& a) {
  Mat2 r;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) r(i, j) = std::conj(a(j, i));
  return r;
}

inline double max_abs_diff(const Mat2& a, const Mat2& b) {
  double d = 0.0;
  for (int i = 0; i < 4; ++i) d = std::max(d, std::abs(a.e[i] - b.e[i]));
  return d;
}

inline double frobenius(const Mat2& a) {
  double s = 0.0;
  for (const Complex& z : a.e) s += std::norm(z);
  return std::sqrt(s);
}

inline const Complex kI{0.0, 1.0};
inline const double kRoot2 = std::sqrt(2.0);

inline const Mat2 kIdentity{{1.0, 0.0, 0.0, 1.0}};
inline const Mat2 kPauliX{{0.0, 1.0, 1.0, 0.0}};
inline const Mat2 kPauliY{{0.0, -kI, kI, 0.0}};
inline const Mat2 kPauliZ{{1.0, 0.0, 0.0, -1.0}};

// Pauli matrix of axis code 0 = X, 1 = Y, 2 = Z.
inline const Mat2& pauli(int axis) {
  static const std::array<const Mat2*, 3> paulis{&kPauliX, &kPauliY, &kPauliZ};
  return *paulis.at(static_cast<std::size_t>(axis));
}

// Equality modulo a global phase (and modulo a positive scale): both sides are
// normalised, the phase is fixed at the largest entry of b, and the remaining
// entries are compared with a tolerance.
inline bool same_up_to_phase(const Mat2& a, const Mat2& b) {
  const double na = frobenius(a), nb = frobenius(b);
  if (na < kTolerance || nb < kTolerance) return false;
  const Mat2 an = Complex(1.0 / na) * a;
  const Mat2 bn = Complex(1.0 / nb) * b;
  int k = 0;
  for (int i = 1; i < 4; ++i)
    if (std::abs(bn.e[i]) > std::abs(bn.e[k])) k = i;
  const Complex phase = an.e[k] / bn.e[k];
  if (std::abs(std::abs(phase) - 1.0) > kTolerance) return false;
  return max_abs_diff(an, phase * bn) < kTolerance;
}

// The numbering: matrix of each VOP, exactly as listed (any global phase).
inline const std::array<Mat2, 24>& vop_matrices() {
  const Complex i = kI;
  const double h = 1.0 / kRoot2;
  static const std::array<Mat2, 24> m{{
      {{1.0, 0.0, 0.0, 1.0}},     // 0  I
      {{0.0, 1.0, 1.0, 0.0}},     // 1  X
      {{0.0, 1.0, -1.0, 0.0}},    // 2  Y
      {{1.0, 0.0, 0.0, -1.0}},    // 3  Z
      {{0.0, 1.0, -i, 0.0}},      // 4  (X - Y)/sqrt2
      {{1.0, 0.0, 0.0, -i}},      // 5  S-dagger
      {{1.0, 0.0, 0.0, i}},       // 6  S
      {{0.0, 1.0, i, 0.0}},       // 7  (X + Y)/sqrt2
      {{h, -h, -h, -h}},          // 8  (X - Z)/sqrt2
      {{h, -h, h, h}},            // 9  sqrt(-iY)
      {{h, h, h, -h}},            // 10 H
      {{h, h, -h, h}},            // 11 sqrt(iY)
      {{h, h * i, -h * i, -h}},   // 12 (Y - Z)/sqrt2
      {{h, -h * i, h * i, -h}},   // 13 (Y + Z)/sqrt2
      {{h, h * i, h * i, h}},     // 14 sqrt(iX)
      {{h, -h * i, -h * i, h}},   // 15 sqrt(-iX)
      {{h, -h * i, h, h * i}},    // 16
      {{h, h * i, -h, h * i}},    // 17
      {{h, -h * i, -h, -h * i}},  // 18
      {{h, h * i, h, -h * i}},    // 19
      {{h, h, h * i, -h * i}},    // 20
      {{h, h, -h * i, h * i}},    // 21
      {{h, -h, -h * i, -h * i}},  // 22
      {{h, -h, h * i, h * i}},    // 23
  }};
  return m;
}

inline const Mat2& vop_matrix(int u) { return vop_matrices().at(static_cast<std::size_t>(u)); }

// The VOP whose matrix equals m up to phase, if exactly one does.
inline std::optional<int> identify(const Mat2& m) {
  std::optional<int> found;
  for (int u = 0; u < 24; ++u) {
    if (same_up_to_phase(m, vop_matrix(u))) {
      if (found) return std::nullopt;  // ambiguous: the numbering is broken
      found = u;
    }
  }
  return found;
}

// A signed Pauli axis: axis code 0..2 and sign +1 or -1.
struct SignedAxis {
  int axis;
  int sign;
  friend bool operator==(const SignedAxis&, const SignedAxis&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const SignedAxis& s) {
  return os << (s.sign < 0 ? '-' : '+') << "XYZ"[s.axis];
}

// U sigma U^dagger, normalised by the scale of U U^dagger so that matrices
// given with any overall factor conjugate correctly.
inline Mat2 conjugate(const Mat2& u, const Mat2& sigma) {
  const double scale = (u * dagger(u))(0, 0).real();
  return Complex(1.0 / scale) * (u * sigma * dagger(u));
}

// The signed axis s with m = s.sign * pauli(s.axis) exactly (no phase freedom).
inline std::optional<SignedAxis> as_signed_pauli(const Mat2& m) {
  for (int b = 0; b < 3; ++b) {
    for (int s : {1, -1}) {
      if (max_abs_diff(m, Complex(s) * pauli(b)) < kTolerance) return SignedAxis{b, s};
    }
  }
  return std::nullopt;
}

// Where the matrix u carries axis a.
inline std::optional<SignedAxis> image_of_axis(const Mat2& u, int axis) {
  return as_signed_pauli(conjugate(u, pauli(axis)));
}

}  // namespace ordavine::test_matrices
