// Local complementation, VOP reduction, the two-qubit gates and the
// entangled-group query: exact representations where they are fixed, the
// graph invariants, and agreement with the dense state-vector oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "register/entangled_group.hpp"
#include "register/local_complement.hpp"
#include "register/register.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/dense_state.hpp"

namespace ordavine {
namespace {

using List = std::vector<Qubit>;
using oracle::DenseState;
using oracle::Matrix2;
using oracle::Matrix4;
using oracle::same_up_to_phase;
using oracle::state_of;
namespace gates = oracle::gates;

// ---- helpers ---------------------------------------------------------------

::testing::AssertionResult graph_invariants_hold(const Register& reg) {
  for (Qubit a = 0; a < reg.size(); ++a) {
    const List& list = reg[a].neighbors;
    if (reg[a].vop >= 24) return ::testing::AssertionFailure() << "VOP of " << a << " is " << int(reg[a].vop);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Qubit b = list[i];
      if (b >= reg.size()) return ::testing::AssertionFailure() << a << " lists " << b;
      if (b == a) return ::testing::AssertionFailure() << a << " lists itself";
      if (std::count(list.begin(), list.end(), b) != 1)
        return ::testing::AssertionFailure() << a << " lists " << b << " twice";
      const List& back = reg[b].neighbors;
      if (std::find(back.begin(), back.end(), a) == back.end())
        return ::testing::AssertionFailure() << a << " lists " << b << " but not vice versa";
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult same_register(const Register& a, const Register& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (Qubit q = 0; q < a.size(); ++q) {
    if (a[q].vop != b[q].vop)
      return ::testing::AssertionFailure()
             << "VOP of " << q << ": " << int(a[q].vop) << " vs " << int(b[q].vop);
    if (a[q].neighbors != b[q].neighbors)
      return ::testing::AssertionFailure() << "list of " << q << " differs";
  }
  return ::testing::AssertionSuccess();
}

// A register with a random graph and random VOPs: every neighbourhood shape
// and VOP the gates may meet, not only those reachable from |0...0> cheaply.
Register random_register(std::mt19937_64& rng, std::size_t qubits, double edge_probability) {
  Register reg(qubits);
  std::bernoulli_distribution joined(edge_probability);
  std::uniform_int_distribution<int> any_vop(0, 23);
  for (Qubit a = 0; a < qubits; ++a)
    for (Qubit b = a + 1; b < qubits; ++b)
      if (joined(rng)) add_edge(reg, a, b);
  for (Qubit q = 0; q < qubits; ++q) reg[q].vop = static_cast<Vop>(any_vop(rng));
  return reg;
}

Register with_lists(std::vector<List> lists, Vop vop) {
  Register reg(lists.size());
  for (Qubit q = 0; q < lists.size(); ++q) {
    reg[q].neighbors = std::move(lists[q]);
    reg[q].vop = vop;
  }
  return reg;
}

std::string index_failure(std::size_t len, std::size_t index) {
  return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
         std::to_string(index);
}

using TwoQubitFn = void (*)(Register&, Qubit, Qubit);

struct TwoQubitGate {
  const char* name;
  TwoQubitFn apply;
  Axis control_axis;  // the control's eigenbasis
  Axis target_axis;   // the Pauli applied to the target
  bool checks_target_first;
};

const std::vector<TwoQubitGate>& two_qubit_gates() {
  static const std::vector<TwoQubitGate> all{
      {"cz", cz, Axis::z, Axis::z, false},   {"cx", cx, Axis::z, Axis::x, true},
      {"cy", cy, Axis::z, Axis::y, true},    {"xcx", xcx, Axis::x, Axis::x, false},
      {"xcy", xcy, Axis::x, Axis::y, true},  {"xcz", xcz, Axis::x, Axis::z, false},
      {"ycx", ycx, Axis::y, Axis::x, false}, {"ycy", ycy, Axis::y, Axis::y, true},
      {"ycz", ycz, Axis::y, Axis::z, false},
  };
  return all;
}

struct SingleQubitGate {
  const char* name;
  void (*apply)(Register&, Qubit);
  Matrix2 matrix;
};

const std::vector<SingleQubitGate>& single_qubit_gates() {
  static const std::vector<SingleQubitGate> all{
      {"h", h, gates::hadamard()}, {"s", s, gates::s()},       {"sdag", sdag, gates::s_dagger()},
      {"x", x, gates::pauli_x()},  {"y", y, gates::pauli_y()}, {"z", z, gates::pauli_z()},
  };
  return all;
}

void apply_to_oracle(DenseState& state, const TwoQubitGate& gate, Qubit c, Qubit t) {
  const Matrix4 controlled_pauli =
      gates::controlled(gates::pauli(gate.control_axis), gates::pauli(gate.target_axis));
  state.apply(c, t, controlled_pauli);
}

// ---- local complementation and VOP reduction ---------------------------------

TEST(LocalComplement, TogglesPairsInListOrderAndCorrectsVops) {
  // 0 joined to 1, 2, 3, 4; 2 and 4 already joined.
  Register reg = with_lists({{1, 2, 3, 4}, {0}, {0, 4}, {0}, {0, 2}}, vop::identity);
  local_complement(reg, 0);
  // Pairs (1,2) (1,3) (1,4) (2,3) appended, (2,4) removed, (3,4) appended.
  EXPECT_EQ(reg[0].neighbors, (List{1, 2, 3, 4}));
  EXPECT_EQ(reg[1].neighbors, (List{0, 2, 3, 4}));
  EXPECT_EQ(reg[2].neighbors, (List{0, 1, 3}));
  EXPECT_EQ(reg[3].neighbors, (List{0, 1, 2, 4}));
  EXPECT_EQ(reg[4].neighbors, (List{0, 1, 3}));
  EXPECT_EQ(reg[0].vop, vop::sqrt_ix);
  for (Qubit q : {1, 2, 3, 4}) EXPECT_EQ(reg[q].vop, vop::s);
}

TEST(RemoveVop, IdentityVopIsStillComplementedFourTimes) {
  Register reg = with_lists({{1, 2}, {0, 2, 3}, {0, 1}, {1}}, vop::identity);
  const Register before = reg;
  remove_vop(reg, 0, 3);
  EXPECT_EQ(reg[1].neighbors, (List{0, 3, 2}));
  for (Qubit q : {0, 2, 3}) EXPECT_EQ(reg[q].neighbors, before[q].neighbors);
  for (Qubit q = 0; q < 4; ++q) EXPECT_EQ(reg[q].vop, 0);
}

TEST(RemoveVop, PartnerIsFirstNeighbourOtherThanAvoid) {
  // v = 0 with list [avoid=1, p=2, q=3]; 2 also joined to 4, 3 to 5.  VOP 5
  // reduces by one complementation about the partner, which toggles edges
  // between 0 and the partner's other neighbours only.
  Register reg = with_lists({{1, 2, 3}, {0}, {0, 4}, {0, 5}, {2}, {3}}, vop::identity);
  reg[0].vop = vop::s_dagger;
  remove_vop(reg, 0, 1);
  EXPECT_EQ(reg[0].vop, 0);
  EXPECT_EQ(reg[0].neighbors, (List{1, 2, 3, 4}));  // edge to the partner stays
  EXPECT_EQ(reg[4].neighbors, (List{2, 0}));
  EXPECT_EQ(reg[5].neighbors, (List{3}));
  EXPECT_EQ(reg[4].vop, vop::s);  // neighbours of the partner pick up S
  EXPECT_EQ(reg[3].vop, 0);       // not a neighbour of the partner
  EXPECT_EQ(reg[2].vop, vop::sqrt_ix);
}

TEST(RemoveVop, LeavesTheStateUnchangedForEveryVop) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 40; ++round) {
    Register base = random_register(rng, 6, 0.5);
    for (Qubit v = 0; v < base.size(); ++v) {
      Qubit avoid = (v + 1) % base.size();
      const bool has_other = std::any_of(base[v].neighbors.begin(), base[v].neighbors.end(),
                                         [avoid](Qubit q) { return q != avoid; });
      if (!has_other) continue;
      for (Vop u = 0; u < 24; ++u) {
        Register reg = base;
        reg[v].vop = u;
        const DenseState before = state_of(reg);
        remove_vop(reg, v, avoid);
        ASSERT_EQ(reg[v].vop, 0) << "VOP " << int(u);
        ASSERT_TRUE(graph_invariants_hold(reg));
        ASSERT_TRUE(same_up_to_phase(before, state_of(reg))) << "VOP " << int(u) << " round " << round;
      }
    }
  }
}

TEST(LocalComplement, LeavesTheStateUnchanged) {
  std::mt19937_64 rng(12);
  for (int round = 0; round < 100; ++round) {
    Register reg = random_register(rng, 7, 0.45);
    const DenseState before = state_of(reg);
    local_complement(reg, round % 7);
    ASSERT_TRUE(graph_invariants_hold(reg));
    ASSERT_TRUE(same_up_to_phase(before, state_of(reg))) << "round " << round;
  }
}

// ---- controlled-Z: fixed representations --------------------------------------

TEST(Cz, ExactRepresentations) {
  Register fresh(2);
  cz(fresh, 0, 1);  // |00>: nothing changes
  EXPECT_TRUE(same_register(fresh, Register(2)));

  Register reg(2);
  h(reg, 0);
  h(reg, 1);
  cz(reg, 0, 1);
  EXPECT_EQ(reg[0].neighbors, (List{1}));
  EXPECT_EQ(reg[1].neighbors, (List{0}));
  EXPECT_EQ(reg[0].vop, 0);
  EXPECT_EQ(reg[1].vop, 0);
  cz(reg, 0, 1);
  EXPECT_TRUE(reg[0].neighbors.empty());
  EXPECT_TRUE(reg[1].neighbors.empty());

  cz(reg, 0, 1);
  h(reg, 1);
  cz(reg, 0, 1);
  EXPECT_EQ(reg[0].neighbors, (List{1}));
  EXPECT_EQ(reg[1].neighbors, (List{0}));
  EXPECT_EQ(reg[0].vop, 5);
  EXPECT_EQ(reg[1].vop, 21);
}

// Reducing the first operand can give the second one neighbours while its VOP
// does not commute with controlled-Z; the second operand's test must see that.
TEST(Cz, ReductionOfFirstOperandCanGiveSecondOneNeighbours) {
  // 0 - 1 and 0 - 2; VOP 15 reduces by one complementation about 0 itself,
  // which joins 1 to 2.
  Register reg = with_lists({{1, 2}, {0}, {0}}, vop::identity);
  reg[0].vop = 15;
  reg[1].vop = vop::hadamard;
  DenseState expected = state_of(reg);
  expected.apply(0, 1, gates::controlled_z());
  cz(reg, 0, 1);
  EXPECT_TRUE(graph_invariants_hold(reg));
  EXPECT_TRUE(same_up_to_phase(expected, state_of(reg)));
}

// ---- the gate family ------------------------------------------------------------

TEST(TwoQubitGates, CxOnFreshRegisterChangesNothingAndMakesBellPairAfterH) {
  Register reg(2);
  cx(reg, 0, 1);
  EXPECT_TRUE(same_register(reg, Register(2)));

  h(reg, 0);
  cx(reg, 0, 1);
  EXPECT_EQ(reg[0].neighbors, (List{1}));
  EXPECT_EQ(reg[1].neighbors, (List{0}));
  EXPECT_EQ(reg[0].vop, 0);
  EXPECT_EQ(reg[1].vop, 10);
  DenseState bell(2);
  bell.amplitudes()[0] = bell.amplitudes()[3] = oracle::kInvSqrt2;
  EXPECT_TRUE(same_up_to_phase(bell, state_of(reg)));
}

// The oracle's measurement helper, on the Bell pair (|00> + |11>)/sqrt2.
TEST(Oracle, PauliMeasurementProjectsAndNormalises) {
  Register reg(2);
  h(reg, 0);
  cx(reg, 0, 1);
  const DenseState bell = state_of(reg);

  const auto z_minus = oracle::measure_pauli(bell, 1, Axis::z, 1);
  EXPECT_NEAR(z_minus.probability, 0.5, 1e-12);
  DenseState one_one(2);
  one_one.amplitudes() = {0.0, 0.0, 0.0, 1.0};
  EXPECT_TRUE(same_up_to_phase(one_one, z_minus.after));

  // X on one half is random; XX stabilises the pair, so the other half's X
  // outcome is then fixed to match.
  const auto x_plus = oracle::measure_pauli(bell, 0, Axis::x, 0);
  EXPECT_NEAR(x_plus.probability, 0.5, 1e-12);
  EXPECT_NEAR(oracle::measure_pauli(x_plus.after, 1, Axis::x, 0).probability, 1.0, 1e-12);
  EXPECT_NEAR(oracle::measure_pauli(x_plus.after, 1, Axis::x, 1).probability, 0.0, 1e-12);
}

TEST(TwoQubitGates, MirroredMembersLeaveIdenticalRegisters) {
  std::mt19937_64 rng(21);
  const std::pair<TwoQubitFn, TwoQubitFn> mirrors[] = {{xcz, cx}, {ycz, cy}, {xcy, ycx}};
  for (int round = 0; round < 60; ++round) {
    const Register base = random_register(rng, 6, 0.4);
    const Qubit c = round % 6, t = (round / 6 + 1 + c) % 6;
    if (c == t) continue;
    for (const auto& [member, mirror] : mirrors) {
      Register a = base, b = base;
      member(a, c, t);
      mirror(b, t, c);
      ASSERT_TRUE(same_register(a, b)) << "round " << round;
    }
  }
}

TEST(TwoQubitGates, EachActsAsItsControlledPauli) {
  std::mt19937_64 rng(22);
  for (const TwoQubitGate& gate : two_qubit_gates()) {
    for (int round = 0; round < 60; ++round) {
      Register reg = random_register(rng, 5, 0.5);
      const Qubit c = rng() % 5;
      const Qubit t = (c + 1 + rng() % 4) % 5;
      DenseState expected = state_of(reg);
      apply_to_oracle(expected, gate, c, t);
      gate.apply(reg, c, t);
      ASSERT_TRUE(graph_invariants_hold(reg)) << gate.name;
      ASSERT_TRUE(same_up_to_phase(expected, state_of(reg))) << gate.name << " round " << round;
    }
  }
}

// Random circuits from |0...0> over all fifteen gates, compared with the
// oracle after every gate.
TEST(TwoQubitGates, RandomCircuitsMatchTheOracleAfterEveryGate) {
  std::mt19937_64 rng(23);
  const auto& pairs = two_qubit_gates();
  const auto& singles = single_qubit_gates();
  for (std::size_t qubits = 2; qubits <= 8; ++qubits) {
    for (int circuit = 0; circuit < 12; ++circuit) {
      Register reg(qubits);
      DenseState state(qubits);
      for (int step = 0; step < 120; ++step) {
        const Qubit a = rng() % qubits;
        std::string what;
        if (rng() % 5 < 2) {
          const SingleQubitGate& gate = singles[rng() % singles.size()];
          gate.apply(reg, a);
          state.apply(a, gate.matrix);
          what = std::string(gate.name) + " " + std::to_string(a);
        } else {
          const Qubit b = (a + 1 + rng() % (qubits - 1)) % qubits;
          const TwoQubitGate& gate = pairs[rng() % pairs.size()];
          gate.apply(reg, a, b);
          apply_to_oracle(state, gate, a, b);
          what = std::string(gate.name) + " " + std::to_string(a) + " " + std::to_string(b);
        }
        ASSERT_TRUE(graph_invariants_hold(reg)) << what;
        ASSERT_TRUE(same_up_to_phase(state, state_of(reg)))
            << qubits << " qubits, circuit " << circuit << ", step " << step << ": " << what;
      }
    }
  }
}

TEST(TwoQubitGates, LongRandomSequencesKeepTheGraphInvariants) {
  std::mt19937_64 rng(24);
  const std::size_t qubits = 30;
  Register reg(qubits);
  for (Qubit q = 0; q < qubits; ++q) h(reg, q);
  for (int step = 0; step < 4000; ++step) {
    const Qubit a = rng() % qubits;
    const Qubit b = (a + 1 + rng() % (qubits - 1)) % qubits;
    if (rng() % 4 == 0) {
      single_qubit_gates()[rng() % 6].apply(reg, a);
    } else {
      two_qubit_gates()[rng() % 9].apply(reg, a, b);
    }
    ASSERT_TRUE(graph_invariants_hold(reg)) << "step " << step;
  }
}

TEST(TwoQubitGates, FailingIndexCheckChangesNothingAndReportsTheFirstCheck) {
  std::mt19937_64 rng(25);
  const Register base = random_register(rng, 4, 0.6);
  for (const TwoQubitGate& gate : two_qubit_gates()) {
    struct Case {
      Qubit control, target, reported;
    };
    const Qubit first_bad = gate.checks_target_first ? 7 : 5;
    const Case cases[] = {{5, 1, 5}, {1, 7, 7}, {5, 7, first_bad}};
    for (const Case& c : cases) {
      Register reg = base;
      try {
        gate.apply(reg, c.control, c.target);
        ADD_FAILURE() << gate.name << " accepted a bad index";
      } catch (const Failure& f) {
        EXPECT_EQ(f.message(), index_failure(4, c.reported)) << gate.name;
      }
      EXPECT_TRUE(same_register(reg, base)) << gate.name;
    }
  }
}

TEST(TwoQubitGates, ControlEqualToTargetIsRefused) {
  std::mt19937_64 rng(26);
  const Register base = random_register(rng, 4, 0.6);
  for (const TwoQubitGate& gate : two_qubit_gates()) {
    Register reg = base;
    try {
      gate.apply(reg, 2, 2);
      ADD_FAILURE() << gate.name << " accepted equal operands";
    } catch (const Failure& f) {
      EXPECT_EQ(f.message(), "control and target must be different qubits, both are 2") << gate.name;
    }
    EXPECT_TRUE(same_register(reg, base)) << gate.name;
    try {
      gate.apply(reg, 9, 9);  // the index check comes first
      ADD_FAILURE() << gate.name << " accepted a bad index";
    } catch (const Failure& f) {
      EXPECT_EQ(f.message(), index_failure(4, 9)) << gate.name;
    }
  }
}

TEST(TwoQubitGates, GhzStateOnAHighDegreeHub) {
  const auto build_ghz = [](std::size_t qubits) {
    Register reg(qubits);
    h(reg, 0);
    for (Qubit q = 1; q < qubits; ++q) cx(reg, 0, q);
    return reg;
  };
  DenseState ghz(8);
  ghz.amplitudes()[0] = ghz.amplitudes()[255] = oracle::kInvSqrt2;
  EXPECT_TRUE(same_up_to_phase(ghz, state_of(build_ghz(8))));

  // Every cx reduces the hub, of growing degree, by four complementations.
  const Register big = build_ghz(100);
  EXPECT_TRUE(graph_invariants_hold(big));
  EXPECT_EQ(entangled_group(big, 99).size(), 100u);
}

TEST(TwoQubitGates, LineClusterOfManyQubitsIsAPathWithIdentityVops) {
  const std::size_t qubits = 100000;
  Register reg(qubits);
  for (Qubit q = 0; q < qubits; ++q) h(reg, q);
  for (Qubit q = 0; q + 1 < qubits; ++q) cz(reg, q, q + 1);
  for (Qubit q = 0; q < qubits; ++q) {
    List expected;
    if (q > 0) expected.push_back(q - 1);
    if (q + 1 < qubits) expected.push_back(q + 1);
    ASSERT_EQ(reg[q].neighbors, expected) << q;
    ASSERT_EQ(reg[q].vop, 0) << q;
  }
}

// ---- entangled groups ----------------------------------------------------------

List sorted(List list) {
  std::sort(list.begin(), list.end());
  return list;
}

TEST(EntangledGroup, FollowsConnectedComponents) {
  Register reg(4);
  for (Qubit q = 0; q < 4; ++q) EXPECT_EQ(entangled_group(reg, q), (List{q}));
  h(reg, 0);
  cx(reg, 0, 1);
  h(reg, 2);
  cx(reg, 2, 3);
  EXPECT_EQ(sorted(entangled_group(reg, 0)), (List{0, 1}));
  EXPECT_EQ(sorted(entangled_group(reg, 3)), (List{2, 3}));
  cz(reg, 1, 2);
  for (Qubit q = 0; q < 4; ++q) EXPECT_EQ(sorted(entangled_group(reg, q)), (List{0, 1, 2, 3}));
}

TEST(EntangledGroup, OutOfRangeQubitFails) {
  for (std::size_t n : {0u, 3u}) {
    const Register reg(n);
    try {
      entangled_group(reg, n);
      ADD_FAILURE() << "accepted index " << n;
    } catch (const Failure& f) {
      EXPECT_EQ(f.message(), index_failure(n, n));
    }
  }
}

}  // namespace
}  // namespace ordavine
