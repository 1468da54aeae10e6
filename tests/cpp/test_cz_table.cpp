// The controlled-Z table checked against 4x4 matrix arithmetic, and the
// structural properties the controlled-Z update relies on.
#include <gtest/gtest.h>

#include "clifford/cz_table.hpp"
#include "support/dense_state.hpp"

namespace ordavine {
namespace {

using oracle::Amplitude;
using oracle::equal_up_to_phase;
using oracle::kron;
using oracle::Matrix2;
using oracle::Matrix4;
using oracle::vop_matrix;
namespace gates = oracle::gates;

// The oracle's VOP matrices are typed in; this pins each one down by where it
// carries the three Pauli axes, a description independent of the matrices.
// Each entry lists the signed images of X, Y and Z, e.g. "+Z-Y+X" for H.
TEST(VopMatrices, CarryThePauliAxesAsNumbered) {
  const char* images[24] = {"+X+Y+Z", "+X-Y-Z", "-X+Y-Z", "-X-Y+Z", "-Y-X-Z", "-Y+X+Z", "+Y-X+Z", "+Y+X-Z",
                            "-Z-Y-X", "-Z+Y+X", "+Z-Y+X", "+Z+Y-X", "-X-Z-Y", "-X+Z+Y", "+X-Z+Y", "+X+Z-Y",
                            "+Y+Z+X", "+Y-Z-X", "-Y+Z-X", "-Y-Z+X", "+Z+X+Y", "+Z-X-Y", "-Z+X-Y", "-Z-X+Y"};
  const auto pauli_named = [](char axis) {
    return axis == 'X' ? gates::pauli_x() : axis == 'Y' ? gates::pauli_y() : gates::pauli_z();
  };
  for (Vop v = 0; v < 24; ++v) {
    const Matrix2 u = vop_matrix(v);
    // unitary
    const Matrix2 u_u_dagger = oracle::product(u, oracle::adjoint(u));
    EXPECT_TRUE(equal_up_to_phase(u_u_dagger, gates::identity())) << int(v);
    for (int a = 0; a < 3; ++a) {
      const Matrix2 image = oracle::product(oracle::product(u, pauli_named("XYZ"[a])), oracle::adjoint(u));
      const double sign = images[v][2 * a] == '+' ? 1.0 : -1.0;
      const Matrix2 expected = oracle::scaled(pauli_named(images[v][2 * a + 1]), sign);
      for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(std::abs(image[k] - expected[k]), 0.0, 1e-12) << "VOP " << int(v) << " axis " << a;
      }
    }
  }
}

// G_0 = |++>, G_1 = CZ|++>, as vectors of the two-qubit space.
std::array<Amplitude, 4> graph_state(int edge) {
  std::array<Amplitude, 4> g{0.5, 0.5, 0.5, 0.5};
  if (edge == 1) g[3] = -0.5;
  return g;
}

std::array<Amplitude, 4> times_vector(const Matrix4& m, const std::array<Amplitude, 4>& v) {
  std::array<Amplitude, 4> out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[r] += m[r * 4 + c] * v[c];
  return out;
}

TEST(CzTable, EveryEntryDescribesControlledZ) {
  int checked = 0;
  for (int e = 0; e < 2; ++e) {
    for (Vop a = 0; a < 24; ++a) {
      for (Vop b = 0; b < 24; ++b) {
        const CzEntry& t = CZ_TABLE[e][a][b];
        ASSERT_LE(t.edge, 1);
        ASSERT_LT(t.first_vop, 24);
        ASSERT_LT(t.second_vop, 24);
        const Matrix4 gate_after_vops =
            oracle::product(gates::controlled_z(), kron(vop_matrix(a), vop_matrix(b)));
        const auto before = times_vector(gate_after_vops, graph_state(e));
        const Matrix4 new_vops = kron(vop_matrix(t.first_vop), vop_matrix(t.second_vop));
        const auto after = times_vector(new_vops, graph_state(t.edge));
        EXPECT_TRUE(equal_up_to_phase(before, after))
            << "entry [" << e << "][" << int(a) << "][" << int(b) << "]";
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 1152);
}

TEST(CzTable, CommutingVopsStayCommutingAndOnlyTheEdgeToggles) {
  const auto commutes = [](Vop v) { return v == 0 || v == 3 || v == 5 || v == 6; };
  for (int e = 0; e < 2; ++e) {
    for (Vop a = 0; a < 24; ++a) {
      for (Vop b = 0; b < 24; ++b) {
        const CzEntry& t = CZ_TABLE[e][a][b];
        SCOPED_TRACE(::testing::Message() << "entry [" << e << "][" << int(a) << "][" << int(b) << "]");
        if (commutes(a)) {
          EXPECT_TRUE(commutes(t.first_vop));
        }
        if (commutes(b)) {
          EXPECT_TRUE(commutes(t.second_vop));
        }
        if (commutes(a) && commutes(b)) {
          EXPECT_EQ(t.edge, 1 - e);
          EXPECT_EQ(t.first_vop, a);
          EXPECT_EQ(t.second_vop, b);
        }
      }
    }
  }
}

TEST(CzTable, OperandsAreDistinctRolesIn284Entries) {
  int asymmetric = 0;
  for (int e = 0; e < 2; ++e) {
    for (int a = 0; a < 24; ++a) {
      for (int b = 0; b < 24; ++b) {
        const CzEntry& forward = CZ_TABLE[e][a][b];
        const CzEntry& swapped = CZ_TABLE[e][b][a];
        if (swapped.edge != forward.edge || swapped.first_vop != forward.second_vop ||
            swapped.second_vop != forward.first_vop) {
          ++asymmetric;
        }
      }
    }
  }
  EXPECT_EQ(asymmetric, 284);
}

}  // namespace
}  // namespace ordavine
