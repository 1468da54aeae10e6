// Checks every lookup table of the local Clifford group against facts derived
// numerically from the 2x2 matrices of the VOP numbering
// (support/clifford_matrices.hpp).  The tables themselves are never used to
// compute an expected value.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "clifford/tables.hpp"
#include "support/clifford_matrices.hpp"

namespace ordavine {
namespace {

using test_matrices::Complex;
using test_matrices::dagger;
using test_matrices::identify;
using test_matrices::image_of_axis;
using test_matrices::kI;
using test_matrices::kIdentity;
using test_matrices::kRoot2;
using test_matrices::Mat2;
using test_matrices::pauli;
using test_matrices::same_up_to_phase;
using test_matrices::SignedAxis;
using test_matrices::vop_matrix;

constexpr int kX = 0, kY = 1, kZ = 2;

// Where each VOP carries X, Y and Z, as listed with the numbering.
// +1/-1 = +-X, +2/-2 = +-Y, +3/-3 = +-Z.
constexpr std::array<std::array<int, 3>, 24> kListedImages{{
    {+1, +2, +3},  // 0
    {+1, -2, -3},  // 1
    {-1, +2, -3},  // 2
    {-1, -2, +3},  // 3
    {-2, -1, -3},  // 4
    {-2, +1, +3},  // 5
    {+2, -1, +3},  // 6
    {+2, +1, -3},  // 7
    {-3, -2, -1},  // 8
    {-3, +2, +1},  // 9
    {+3, -2, +1},  // 10
    {+3, +2, -1},  // 11
    {-1, -3, -2},  // 12
    {-1, +3, +2},  // 13
    {+1, -3, +2},  // 14
    {+1, +3, -2},  // 15
    {+2, +3, +1},  // 16
    {+2, -3, -1},  // 17
    {-2, +3, -1},  // 18
    {-2, -3, +1},  // 19
    {+3, +1, +2},  // 20
    {+3, -1, -2},  // 21
    {-3, +1, -2},  // 22
    {-3, -1, +2},  // 23
}};

SignedAxis listed_image(int u, int axis) {
  const int code = kListedImages[u][axis];
  return SignedAxis{(code < 0 ? -code : code) - 1, code < 0 ? -1 : 1};
}

// The operator of each VOP written in the Pauli basis, coefficients of
// (I, X, Y, Z) up to an overall factor, as the numbering names it.
std::array<Complex, 4> listed_operator(int u) {
  const Complex i = kI;
  const std::array<std::array<Complex, 4>, 24> ops{{
      {1, 0, 0, 0},     // 0  I
      {0, 1, 0, 0},     // 1  X
      {0, 0, 1, 0},     // 2  Y
      {0, 0, 0, 1},     // 3  Z
      {0, 1, -1, 0},    // 4  (X - Y)/sqrt2
      {1, 0, 0, i},     // 5  sqrt(iZ)
      {1, 0, 0, -i},    // 6  sqrt(-iZ)
      {0, 1, 1, 0},     // 7  (X + Y)/sqrt2
      {0, 1, 0, -1},    // 8  (X - Z)/sqrt2
      {1, 0, -i, 0},    // 9  sqrt(-iY)
      {0, 1, 0, 1},     // 10 (X + Z)/sqrt2
      {1, 0, i, 0},     // 11 sqrt(iY)
      {0, 0, 1, -1},    // 12 (Y - Z)/sqrt2
      {0, 0, 1, 1},     // 13 (Y + Z)/sqrt2
      {1, i, 0, 0},     // 14 sqrt(iX)
      {1, -i, 0, 0},    // 15 sqrt(-iX)
      {1, -i, -i, -i},  // 16
      {1, i, i, -i},    // 17
      {1, -i, i, i},    // 18
      {1, i, -i, i},    // 19
      {1, i, i, i},     // 20
      {1, -i, i, -i},   // 21
      {1, -i, -i, i},   // 22
      {1, i, -i, -i},   // 23
  }};
  return ops[u];
}

Mat2 from_pauli_basis(const std::array<Complex, 4>& c) {
  return c[0] * kIdentity + c[1] * pauli(kX) + c[2] * pauli(kY) + c[3] * pauli(kZ);
}

// sqrt(+-iP) = (I +- iP)/sqrt2, built from the Pauli matrices only.
Mat2 sqrt_i(int axis, int sign) {
  return Complex(1.0 / kRoot2) * (kIdentity + (Complex(sign) * kI) * pauli(axis));
}

Vop as_vop(int u) { return static_cast<Vop>(u); }

// ---------------------------------------------------------------------------
// The numbering itself.

TEST(CliffordNumbering, MatricesAreUnitaryUpToScaleAndPairwiseDistinct) {
  for (int u = 0; u < 24; ++u) {
    const Mat2& m = vop_matrix(u);
    const Mat2 g = m * dagger(m);
    const double scale = g(0, 0).real();
    EXPECT_GT(scale, 0.5) << "VOP " << u;
    EXPECT_LT(test_matrices::max_abs_diff(g, Complex(scale) * kIdentity), test_matrices::kTolerance)
        << "VOP " << u << " is not unitary up to scale: " << m;
    for (int w = 0; w < u; ++w) {
      EXPECT_FALSE(same_up_to_phase(m, vop_matrix(w))) << "VOPs " << w << " and " << u;
    }
    EXPECT_EQ(identify(m), std::optional<int>(u));
  }
}

TEST(CliffordNumbering, MatricesCarryThePauliAxesAsListed) {
  for (int u = 0; u < 24; ++u) {
    for (int a = 0; a < 3; ++a) {
      const std::optional<SignedAxis> image = image_of_axis(vop_matrix(u), a);
      ASSERT_TRUE(image.has_value()) << "VOP " << u << " does not map axis " << a << " to a Pauli";
      EXPECT_EQ(*image, listed_image(u, a)) << "VOP " << u << ", axis "
                                            << "XYZ"[a];
    }
  }
}

TEST(CliffordNumbering, MatricesMatchTheNamedOperators) {
  for (int u = 0; u < 24; ++u) {
    EXPECT_TRUE(same_up_to_phase(vop_matrix(u), from_pauli_basis(listed_operator(u))))
        << "VOP " << u << ": " << vop_matrix(u);
  }
  // The constants other code uses by name, built from the Pauli matrices.
  const Mat2 s{{1.0, 0.0, 0.0, kI}};
  const Mat2 s_dagger{{1.0, 0.0, 0.0, -kI}};
  const Mat2 hadamard = Complex(1.0 / kRoot2) * (pauli(kX) + pauli(kZ));
  const std::vector<std::pair<Vop, Mat2>> named{
      {vop::identity, kIdentity},
      {vop::pauli_x, pauli(kX)},
      {vop::pauli_y, pauli(kY)},
      {vop::pauli_z, pauli(kZ)},
      {vop::s_dagger, s_dagger},
      {vop::s, s},
      {vop::sqrt_minus_iy, sqrt_i(kY, -1)},
      {vop::hadamard, hadamard},
      {vop::sqrt_iy, sqrt_i(kY, +1)},
      {vop::sqrt_ix, sqrt_i(kX, +1)},
  };
  for (const auto& [v, m] : named) {
    EXPECT_EQ(identify(m), std::optional<int>(v)) << "named VOP " << int{v};
  }
  // S-dagger and S are also the square roots of +-iZ.
  EXPECT_EQ(identify(sqrt_i(kZ, +1)), std::optional<int>(vop::s_dagger));
  EXPECT_EQ(identify(sqrt_i(kZ, -1)), std::optional<int>(vop::s));
}

TEST(CliffordNumbering, EachVopIsItsClassRepresentativeAfterAPauli) {
  const std::array<Mat2, 4> pauli_part{kIdentity, pauli(kX), pauli(kY), pauli(kZ)};
  for (int k = 0; k < 6; ++k) {
    for (int p = 0; p < 4; ++p) {
      EXPECT_TRUE(same_up_to_phase(vop_matrix(4 * k) * pauli_part[p], vop_matrix(4 * k + p)))
          << "class " << k << ", Pauli part " << p;
      // Members of a class permute the axes the same way.
      for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(image_of_axis(vop_matrix(4 * k + p), a).value().axis,
                  image_of_axis(vop_matrix(4 * k), a).value().axis);
      }
    }
  }
}

TEST(CliffordNumbering, PhaseComparisonIgnoresOnlyAGlobalFactor) {
  const Mat2& h = vop_matrix(10);
  EXPECT_TRUE(same_up_to_phase(h, kI * h));
  EXPECT_TRUE(same_up_to_phase(h, Complex(-3.0) * h));
  EXPECT_TRUE(same_up_to_phase(h, std::polar(2.0, 0.7) * h));
  EXPECT_FALSE(same_up_to_phase(h, h * vop_matrix(3)));
  EXPECT_FALSE(same_up_to_phase(vop_matrix(5), vop_matrix(6)));
  EXPECT_FALSE(same_up_to_phase(Mat2{}, Mat2{}));
  // An image is signed: the conjugate of Z by X is -Z, not Z.
  EXPECT_EQ(image_of_axis(pauli(kX), kZ), (SignedAxis{kZ, -1}));
}

// ---------------------------------------------------------------------------
// The tables against the matrices.

TEST(CliffordTables, MultTableIsTheMatrixProduct) {
  for (int a = 0; a < 24; ++a) {
    for (int b = 0; b < 24; ++b) {
      // b acts first, then a.
      const std::optional<int> product = identify(vop_matrix(a) * vop_matrix(b));
      ASSERT_TRUE(product.has_value()) << a << " * " << b << " is not in the group";
      EXPECT_EQ(int{MULT_TABLE[a][b]}, *product) << "MULT_TABLE[" << a << "][" << b << "]";
    }
  }
}

TEST(CliffordTables, AdjointTableIsTheConjugateTranspose) {
  for (int u = 0; u < 24; ++u) {
    const std::optional<int> adjoint = identify(dagger(vop_matrix(u)));
    ASSERT_TRUE(adjoint.has_value()) << "VOP " << u;
    EXPECT_EQ(int{ADJOINT_TABLE[u]}, *adjoint) << "ADJOINT_TABLE[" << u << "]";
  }
}

TEST(CliffordTables, ConjTableAndSignRuleMatchConjugation) {
  for (int u = 0; u < 24; ++u) {
    for (int a = 0; a < 3; ++a) {
      const std::optional<SignedAxis> image = image_of_axis(vop_matrix(u), a);
      ASSERT_TRUE(image.has_value()) << "VOP " << u << ", axis " << a;
      const Axis axis = static_cast<Axis>(a);
      EXPECT_EQ(int{CONJ_TABLE[a][u]}, image->axis) << "CONJ_TABLE[" << a << "][" << u << "]";
      EXPECT_EQ(static_cast<int>(conj_axis(as_vop(u), axis)), image->axis)
          << "conj_axis(" << u << ", " << a << ")";
      EXPECT_EQ(conj_sign_negative(as_vop(u), axis), image->sign < 0) << "conj_sign_negative(" << u << ", "
                                                                      << "XYZ"[a] << "), image " << *image;
    }
  }
}

TEST(CliffordTables, XPreimageTableIsTheAxisCarriedToX) {
  for (int u = 0; u < 24; ++u) {
    std::vector<int> preimages;
    for (int a = 0; a < 3; ++a) {
      const std::optional<SignedAxis> image = image_of_axis(vop_matrix(u), a);
      ASSERT_TRUE(image.has_value());
      if (image->axis == kX) preimages.push_back(a);
    }
    ASSERT_EQ(preimages.size(), 1u) << "VOP " << u;
    EXPECT_EQ(int{X_PREIMAGE_TABLE[u]}, preimages[0]) << "X_PREIMAGE_TABLE[" << u << "]";
  }
  // The determined axis of an isolated qubit with VOP v is the axis v carries X
  // to; through the adjoint, the preimage table must give it.
  for (int v = 0; v < 24; ++v) {
    const std::optional<SignedAxis> x_image = image_of_axis(vop_matrix(v), kX);
    ASSERT_TRUE(x_image.has_value());
    EXPECT_EQ(int{X_PREIMAGE_TABLE[ADJOINT_TABLE[v]]}, x_image->axis) << "VOP " << v;
  }
}

TEST(CliffordTables, CzCommutingSetIsExactlyTheDiagonalElements) {
  // Controlled-Z on two qubits, and U (x) I, I (x) U as 4x4 matrices.
  using Mat4 = std::array<std::array<Complex, 4>, 4>;
  const auto kron = [](const Mat2& a, const Mat2& b) {
    Mat4 r{};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) r[i][j] = a(i / 2, j / 2) * b(i % 2, j % 2);
    return r;
  };
  const auto mul = [](const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 4; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
  };
  const auto equal_up_to_phase = [](const Mat4& a, const Mat4& b) {
    int bi = 0, bj = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        if (std::abs(b[i][j]) > std::abs(b[bi][bj])) bi = i, bj = j;
    const Complex phase = a[bi][bj] / b[bi][bj];
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        if (std::abs(a[i][j] - phase * b[i][j]) > test_matrices::kTolerance) return false;
    return true;
  };
  Mat4 cz{};
  cz[0][0] = cz[1][1] = cz[2][2] = 1.0;
  cz[3][3] = -1.0;

  int members = 0;
  for (int v = 0; v < 24; ++v) {
    const Mat2& m = vop_matrix(v);
    const bool diagonal =
        std::abs(m(0, 1)) < test_matrices::kTolerance && std::abs(m(1, 0)) < test_matrices::kTolerance;
    const Mat4 left = kron(m, kIdentity), right = kron(kIdentity, m);
    const bool commutes =
        equal_up_to_phase(mul(cz, left), mul(left, cz)) && equal_up_to_phase(mul(cz, right), mul(right, cz));
    EXPECT_EQ(diagonal, commutes) << "VOP " << v;
    EXPECT_EQ(in_cz_commuting_set(as_vop(v)), diagonal) << "VOP " << v;
    members += diagonal ? 1 : 0;
  }
  EXPECT_EQ(members, 4);
}

// ---------------------------------------------------------------------------
// Reduction words.

// Applies a word by right multiplication with the matrices of VOP 14 (letter
// 0, complementation about the vertex) and VOP 6 (letter 1, complementation
// about its partner).
Mat2 apply_word(Mat2 m, const std::vector<int>& letters) {
  for (int letter : letters) m = m * vop_matrix(letter == 0 ? 14 : 6);
  return m;
}

std::vector<int> letters_of(const DecompWord& w) {
  return std::vector<int>(w.letters.begin(), w.letters.begin() + w.length);
}

TEST(CliffordReductionWords, EveryWordReducesItsVopToIdentity) {
  for (int v = 0; v < 24; ++v) {
    const DecompWord& w = DECOMP_TABLE[v];
    ASSERT_GE(w.length, 1) << "VOP " << v;
    ASSERT_LE(w.length, 5) << "VOP " << v;
    for (int i = 0; i < w.length; ++i) {
      EXPECT_LE(int{w.letters[i]}, 1) << "VOP " << v << ", letter " << i;
    }
    const Mat2 reduced = apply_word(vop_matrix(v), letters_of(w));
    EXPECT_EQ(identify(reduced), std::optional<int>(0)) << "VOP " << v << " reduces to " << reduced;
  }
}

TEST(CliffordReductionWords, WordsAreShortestExceptForIdentity) {
  // Level-by-level search over all words of 1..5 letters, evaluated with
  // matrices: for each VOP the shortest words that bring it to the identity.
  std::array<int, 24> shortest{};
  std::array<std::set<std::vector<int>>, 24> shortest_words;
  for (int v = 0; v < 24; ++v) {
    for (int length = 1; length <= 5 && shortest_words[v].empty(); ++length) {
      for (int bits = 0; bits < (1 << length); ++bits) {
        std::vector<int> word;
        for (int i = 0; i < length; ++i) word.push_back((bits >> (length - 1 - i)) & 1);
        if (identify(apply_word(vop_matrix(v), word)) == std::optional<int>(0)) {
          shortest_words[v].insert(word);
        }
      }
      if (!shortest_words[v].empty()) shortest[v] = length;
    }
    ASSERT_FALSE(shortest_words[v].empty()) << "no word of up to 5 letters reduces VOP " << v;
  }

  for (int v = 1; v < 24; ++v) {
    const std::vector<int> word = letters_of(DECOMP_TABLE[v]);
    EXPECT_EQ(int{DECOMP_TABLE[v].length}, shortest[v]) << "VOP " << v;
    EXPECT_TRUE(shortest_words[v].count(word)) << "VOP " << v << " has a word that is not shortest";
  }

  // The identity uses four complementations about the vertex itself, which
  // leave the graph and every VOP unchanged, rather than the empty word.
  EXPECT_EQ(letters_of(DECOMP_TABLE[0]), (std::vector<int>{0, 0, 0, 0}));

  // The choice only matters where several shortest words exist.
  std::set<int> ambiguous;
  for (int v = 1; v < 24; ++v)
    if (shortest_words[v].size() > 1) ambiguous.insert(v);
  EXPECT_EQ(ambiguous, (std::set<int>{2, 8, 9, 10, 11, 17, 23}));
}

}  // namespace
}  // namespace ordavine
