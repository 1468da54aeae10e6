// The graph updates written as plainly as possible: one toggle_edge per pair,
// in the order the algorithms define, with linear list scans.  The core's
// faster versions must leave exactly the same lists (order included), VOPs
// and results; tests run both side by side.
#pragma once

#include <algorithm>
#include <functional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "clifford/cz_table.hpp"
#include "measure/measure.hpp"
#include "measure/peek.hpp"
#include "random/random_source.hpp"
#include "register/register.hpp"

namespace ordavine::plain {

inline void right_multiply(Node& node, Vop factor) { node.vop = MULT_TABLE[node.vop][factor]; }

inline void local_complement(Register& reg, Qubit w) {
  const std::vector<Qubit> around = reg.at(w).neighbors;
  for (std::size_t i = 0; i < around.size(); ++i) {
    for (std::size_t j = i + 1; j < around.size(); ++j) toggle_edge(reg, around[i], around[j]);
    right_multiply(reg[around[i]], vop::s);
  }
  right_multiply(reg[w], vop::sqrt_ix);
}

inline void remove_vop(Register& reg, Qubit v, Qubit avoid) {
  const auto& list = reg.at(v).neighbors;
  const auto it = std::find_if(list.begin(), list.end(), [avoid](Qubit q) { return q != avoid; });
  const Qubit partner = it == list.end() ? avoid : *it;
  const DecompWord word = DECOMP_TABLE[reg[v].vop];
  for (std::size_t i = 0; i < word.length; ++i) {
    plain::local_complement(reg, word.letters[i] == 0 ? v : partner);
  }
}

inline bool has_neighbor_other_than(const Register& reg, Qubit x, Qubit y) {
  const auto& list = reg[x].neighbors;
  return std::any_of(list.begin(), list.end(), [y](Qubit q) { return q != y; });
}

inline void cz(Register& reg, Qubit a, Qubit b) {
  if (has_neighbor_other_than(reg, a, b)) plain::remove_vop(reg, a, b);
  if (has_neighbor_other_than(reg, b, a)) plain::remove_vop(reg, b, a);
  if (has_neighbor_other_than(reg, a, b) && !in_cz_commuting_set(reg[a].vop)) plain::remove_vop(reg, a, b);
  const CzEntry& entry = CZ_TABLE[has_edge(reg, a, b) ? 1 : 0][reg[a].vop][reg[b].vop];
  if (entry.edge == 1) {
    add_edge(reg, a, b);
  } else {
    remove_edge(reg, a, b);
  }
  reg[a].vop = entry.first_vop;
  reg[b].vop = entry.second_vop;
}

struct PairHash {
  std::size_t operator()(const std::pair<Qubit, Qubit>& p) const noexcept {
    return std::hash<Qubit>{}(p.first) * 0x9e3779b97f4a7c15ull ^ std::hash<Qubit>{}(p.second);
  }
};

inline Measurement measure(Register& reg, Qubit q, Axis axis, RandomSource& random) {
  const Vop inverse = ADJOINT_TABLE[reg.at(q).vop];
  const Axis effective = conj_axis(inverse, axis);
  const std::uint8_t sign = conj_sign_negative(inverse, axis) ? 1 : 0;
  if (effective == Axis::x && reg[q].neighbors.empty()) return {sign, true};
  const std::uint8_t r = random_bit(random) ? 1 : 0;
  if (effective == Axis::z) {
    const std::vector<Qubit> former = reg[q].neighbors;
    for (const Qubit n : former) {
      remove_edge(reg, q, n);
      if (r == 1) right_multiply(reg[n], vop::pauli_z);
    }
    if (r == 1) right_multiply(reg[q], vop::pauli_x);
    right_multiply(reg[q], vop::hadamard);
  } else if (effective == Axis::y) {
    const Vop k = r == 0 ? vop::s : vop::s_dagger;
    for (const Qubit n : reg[q].neighbors) right_multiply(reg[n], k);
    const std::vector<Qubit> former = reg[q].neighbors;
    for (std::size_t i = 0; i < former.size(); ++i) {
      for (std::size_t j = i + 1; j < former.size(); ++j) toggle_edge(reg, former[i], former[j]);
      toggle_edge(reg, former[i], q);
    }
    right_multiply(reg[q], k);
  } else {
    const Qubit b = reg[q].neighbors.front();
    if (r == 0) {
      right_multiply(reg[b], vop::sqrt_iy);
      for (const Qubit w : reg[q].neighbors) {
        if (w != b && !has_edge(reg, b, w)) right_multiply(reg[w], vop::pauli_z);
      }
    } else {
      right_multiply(reg[b], vop::sqrt_minus_iy);
      right_multiply(reg[q], vop::pauli_z);
      for (const Qubit w : reg[b].neighbors) {
        if (w != q && !has_edge(reg, q, w)) right_multiply(reg[w], vop::pauli_z);
      }
    }
    const std::vector<Qubit> a_list = reg[q].neighbors;
    const std::vector<Qubit> b_list = reg[b].neighbors;
    std::unordered_set<std::pair<Qubit, Qubit>, PairHash> handled;
    for (const Qubit v : a_list) {
      for (const Qubit w : b_list) {
        if (v == w) continue;
        const auto pair = v < w ? std::pair{v, w} : std::pair{w, v};
        if (handled.insert(pair).second) toggle_edge(reg, pair.first, pair.second);
      }
    }
    std::vector<Qubit> common;
    for (const Qubit v : a_list) {
      if (std::find(b_list.begin(), b_list.end(), v) != b_list.end()) common.push_back(v);
    }
    for (std::size_t i = 0; i < common.size(); ++i) {
      for (std::size_t j = i + 1; j < common.size(); ++j) toggle_edge(reg, common[i], common[j]);
    }
    for (const Qubit e : a_list) {
      if (e != b) toggle_edge(reg, b, e);
    }
  }
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

// The peek on a copy of the whole register.
inline std::vector<PeekOutcome> peek_measure_set(const Register& reg, std::vector<Qubit> qubits,
                                                 RandomSource& random) {
  std::sort(qubits.begin(), qubits.end());
  qubits.erase(std::unique(qubits.begin(), qubits.end()), qubits.end());
  Register copy = reg;
  std::vector<PeekOutcome> outcomes;
  for (const Qubit q : qubits) {
    Axis axis = find_deterministic(copy, q);
    if (axis == Axis::none) axis = random_axis(random);
    const Measurement m = plain::measure(copy, q, axis, random);
    outcomes.push_back({q, m.result,
                        static_cast<std::uint8_t>(static_cast<std::uint8_t>(axis) |
                                                  (m.determined ? PeekOutcome::kDeterminedFlag : 0))});
  }
  return outcomes;
}

}  // namespace ordavine::plain
