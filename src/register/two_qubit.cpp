#include "register/two_qubit.hpp"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "clifford/cz_table.hpp"
#include "register/local_complement.hpp"
#include "register/single_qubit.hpp"

namespace ordavine {
namespace {

// Checks the two operands in the order given, then refuses a gate on a
// single qubit: the edge update and the lookup would treat the qubit as its
// own neighbour.  Nothing has changed when any of these fails.
void check_operands(const Register& reg, Qubit first_checked, Qubit second_checked) {
  reg.check(first_checked);
  reg.check(second_checked);
  if (first_checked == second_checked) {
    fail("control and target must be different qubits, both are " + std::to_string(first_checked));
  }
}

// Lists hold distinct entries, so two entries always include one besides y.
bool has_neighbor_other_than(const Register& reg, Qubit x, Qubit y) {
  const auto& list = reg[x].neighbors;
  return list.size() > 1 || (list.size() == 1 && list.front() != y);
}

// Whether cz must reduce x's VOP before the lookup: x has a neighbour
// besides y.  Reducing the identity only reorders the lists of x's
// neighbours (remove_vop), which is nothing when x has a single one.
bool needs_reduction(const Register& reg, Qubit x, Qubit y) {
  if (!has_neighbor_other_than(reg, x, y)) return false;
  return reg[x].vop != vop::identity || reg[x].neighbors.size() > 1;
}

// Applies single-qubit gates to one qubit in the order listed.
void apply_gates(Register& reg, Qubit q, std::initializer_list<Vop> gates) {
  for (Vop gate : gates) apply_to_vop(reg[q], gate);
}

constexpr Vop H = vop::hadamard;
constexpr Vop S = vop::s;
constexpr Vop SDAG = vop::s_dagger;

}  // namespace

void cz(Register& reg, Qubit a, Qubit b) {
  check_operands(reg, a, b);

  // The table lookup is only valid for an operand that has no neighbour
  // besides the other operand or whose VOP commutes with controlled-Z.  Each
  // test is made on the register as it stands just before its own step: the
  // reduction of one operand can give the other one new neighbours.
  if (needs_reduction(reg, a, b)) remove_vop(reg, a, b);
  if (needs_reduction(reg, b, a)) remove_vop(reg, b, a);
  // Reducing b can give a new neighbours while a's VOP is still arbitrary.
  if (has_neighbor_other_than(reg, a, b) && !in_cz_commuting_set(reg[a].vop)) {
    remove_vop(reg, a, b);
  }

  const bool joined = has_edge(reg, a, b);
  const CzEntry& entry = CZ_TABLE[joined ? 1 : 0][reg[a].vop][reg[b].vop];
  // Lists hold each entry once, so the edge changes only when the table
  // says it does: appended when absent, removed when present.
  if (entry.edge == 1 && !joined) {
    append_edge(reg, a, b);
  } else if (entry.edge == 0 && joined) {
    remove_edge(reg, a, b);
  }
  reg[a].vop = entry.first_vop;
  reg[b].vop = entry.second_vop;
}

// Runs `before`, cz on (first, second), then `after`.  In every gate of the
// family `after` undoes `before`, so when cz runs out of memory (having only
// changed how the state is represented) running `after` and passing the
// exception on leaves the state as it was.
template <class Before, class After>
void conjugated_cz(Register& reg, Qubit first, Qubit second, Before&& before, After&& after) {
  before();
  try {
    cz(reg, first, second);
  } catch (...) {
    after();
    throw;
  }
  after();
}

// In each gate below, the operands are checked in the order in which the
// gate's steps first use them (the controlled-Z step checks its first operand
// before its second).

void cx(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, t, c);
  conjugated_cz(
      reg, c, t, [&] { apply_gates(reg, t, {H}); }, [&] { apply_gates(reg, t, {H}); });
}

void cy(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, t, c);
  conjugated_cz(
      reg, c, t,
      [&] {
        apply_gates(reg, t, {SDAG, H});
      },
      [&] {
        apply_gates(reg, t, {H, S});
      });
}

void xcx(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, c, t);
  conjugated_cz(
      reg, c, t,
      [&] {
        apply_gates(reg, c, {H});
        apply_gates(reg, t, {H});
      },
      [&] {
        apply_gates(reg, t, {H});
        apply_gates(reg, c, {H});
      });
}

void xcy(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, t, c);
  conjugated_cz(
      reg, t, c,
      [&] {
        apply_gates(reg, t, {SDAG, H});
        apply_gates(reg, c, {H});
      },
      [&] {
        apply_gates(reg, c, {H});
        apply_gates(reg, t, {H, S});
      });
}

void xcz(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, c, t);
  conjugated_cz(
      reg, t, c, [&] { apply_gates(reg, c, {H}); }, [&] { apply_gates(reg, c, {H}); });
}

void ycx(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, c, t);
  conjugated_cz(
      reg, c, t,
      [&] {
        apply_gates(reg, c, {SDAG, H});
        apply_gates(reg, t, {H});
      },
      [&] {
        apply_gates(reg, t, {H});
        apply_gates(reg, c, {H, S});
      });
}

void ycy(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, t, c);
  conjugated_cz(
      reg, c, t,
      [&] {
        apply_gates(reg, t, {SDAG});
        apply_gates(reg, c, {SDAG, H});
        apply_gates(reg, t, {H});
      },
      [&] {
        apply_gates(reg, t, {H});
        apply_gates(reg, c, {H, S});
        apply_gates(reg, t, {S});
      });
}

void ycz(Register& reg, Qubit c, Qubit t) {
  check_operands(reg, c, t);
  conjugated_cz(
      reg, t, c,
      [&] {
        apply_gates(reg, c, {SDAG, H});
      },
      [&] {
        apply_gates(reg, c, {H, S});
      });
}

}  // namespace ordavine
