#include "register/pauli_product.hpp"

#include <array>
#include <unordered_map>

#include "register/qubit_marks.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine {

namespace {

// The product of two single-qubit Paulis, codes 0 = I, 1 = X, 2 = Y, 3 = Z:
// the Pauli and the power of i in front (X Y = iZ: {3, 1}).
struct PauliTimes {
  std::uint8_t pauli;
  std::uint8_t i_power;
};
constexpr PauliTimes kPauliTimes[4][4] = {
    {{0, 0}, {1, 0}, {2, 0}, {3, 0}},
    {{1, 0}, {0, 0}, {3, 1}, {2, 3}},
    {{2, 0}, {3, 3}, {0, 0}, {1, 1}},
    {{3, 0}, {2, 1}, {1, 3}, {0, 0}},
};

constexpr std::uint8_t code_of(Axis axis) {
  return static_cast<std::uint8_t>(static_cast<unsigned>(axis) + 1);
}

}  // namespace

bool reduce_product(std::span<const PauliFactor> written, bool& negative, std::vector<PauliFactor>& out) {
  struct Slot {
    Qubit qubit;
    std::uint8_t pauli;
  };
  // Short products, the common case, keep their slots on the stack.
  constexpr std::size_t kScanLimit = 16;
  const bool indexed = written.size() > kScanLimit;
  std::array<Slot, kScanLimit> short_slots;
  std::vector<Slot> long_slots;
  if (indexed) long_slots.reserve(written.size());
  std::size_t used = 0;
  const auto slot_at = [&](std::size_t k) -> Slot& { return indexed ? long_slots[k] : short_slots[k]; };
  const auto add_slot = [&](Qubit q) {
    if (indexed) {
      long_slots.push_back({q, 0});
    } else {
      short_slots[used] = {q, 0};
    }
    ++used;
  };
  std::unordered_map<Qubit, std::size_t> where;  // used only for long products
  unsigned i_power = 0;
  for (const PauliFactor& f : written) {
    std::size_t at = used;
    if (indexed) {
      const auto [it, inserted] = where.try_emplace(f.qubit, used);
      at = it->second;
    } else {
      for (std::size_t k = 0; k < used; ++k) {
        if (short_slots[k].qubit == f.qubit) at = k;
      }
    }
    if (at == used) add_slot(f.qubit);
    Slot& slot = slot_at(at);
    const PauliTimes times = kPauliTimes[slot.pauli][code_of(f.axis)];
    slot.pauli = times.pauli;
    i_power += times.i_power;
  }
  out.clear();
  for (std::size_t k = 0; k < used; ++k) {
    const Slot& slot = slot_at(k);
    if (slot.pauli != 0) out.push_back({slot.qubit, static_cast<Axis>(slot.pauli - 1)});
  }
  if (i_power % 2 != 0) return false;
  if (i_power % 4 == 2) negative = !negative;
  return true;
}

void check_product(const Register& reg, std::span<const PauliFactor> factors) {
  for (const PauliFactor& f : factors) {
    reg.check(f.qubit);
    if (f.axis == Axis::none) fail("a Pauli factor without an axis");
  }
  if (factors.size() <= 8) {
    for (std::size_t i = 0; i < factors.size(); ++i) {
      for (std::size_t j = i + 1; j < factors.size(); ++j) {
        if (factors[i].qubit == factors[j].qubit) fail("a Pauli product names a qubit twice");
      }
    }
    return;
  }
  thread_local QubitMarks<bool> seen_storage;
  QubitMarks<bool>& seen = seen_storage;
  seen.begin(reg.size());
  for (const PauliFactor& f : factors) {
    if (seen[f.qubit]) fail("a Pauli product names a qubit twice");
    seen[f.qubit] = true;
  }
}

namespace {

void undo_parity_steps(Register& reg, std::span<const PauliFactor> factors, std::size_t cx_done) {
  const Qubit pivot = factors[0].qubit;
  for (std::size_t i = cx_done; i-- > 1;) cx(reg, factors[i].qubit, pivot);
  for (const PauliFactor& f : factors) {
    apply_to_vop(reg[f.qubit], ADJOINT_TABLE[kTakeToZ[static_cast<unsigned>(f.axis)]]);
  }
}

}  // namespace

void gather_product(Register& reg, std::span<const PauliFactor> factors) {
  for (const PauliFactor& f : factors) apply_to_vop(reg[f.qubit], kTakeToZ[static_cast<unsigned>(f.axis)]);
  const Qubit pivot = factors[0].qubit;
  std::size_t done = 1;
  try {
    for (; done < factors.size(); ++done) cx(reg, factors[done].qubit, pivot);
  } catch (...) {
    // cx changes nothing when it fails, so the steps before it are undone.
    undo_parity_steps(reg, factors, done);
    throw;
  }
}

void scatter_product(Register& reg, std::span<const PauliFactor> factors) {
  undo_parity_steps(reg, factors, factors.size());
}

void rotate_product(Register& reg, std::span<const PauliFactor> factors, bool negative, bool dagger) {
  check_product(reg, factors);
  if (factors.empty()) return;
  gather_product(reg, factors);
  // S phases the -1 eigenspace of +Z by i; the -1 eigenspace of -Z is the
  // +1 eigenspace of Z, phased by i up to a global phase with S-dagger.
  apply_to_vop(reg[factors[0].qubit], negative == dagger ? vop::s : vop::s_dagger);
  scatter_product(reg, factors);
}

}  // namespace ordavine
