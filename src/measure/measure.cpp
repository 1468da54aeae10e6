#include "measure/measure.hpp"

#include <cstddef>
#include <functional>
#include <unordered_set>
#include <utility>
#include <vector>

namespace ordavine {
namespace {

// A correction inserted underneath the present VOP.
void right_multiply(Node& node, Vop factor) { node.vop = MULT_TABLE[node.vop][factor]; }

// Neighbour indices come from the lists; a register that keeps its
// invariants always passes this check.
Node& neighbour(Register& reg, Qubit n) { return reg.at(n); }

bool contains(const std::vector<Qubit>& list, Qubit value) {
  for (const Qubit entry : list) {
    if (entry == value) return true;
  }
  return false;
}

// Effective axis Z: cut q out of the graph.  For outcome 1 every former
// neighbour picks up a Z and q an X underneath its VOP.
Measurement measure_graph_z(Register& reg, Qubit q, std::uint8_t sign, RandomSource& random) {
  const std::uint8_t r = random_bit(random) ? 1 : 0;
  const std::vector<Qubit> former = reg[q].neighbors;
  for (const Qubit n : former) {
    neighbour(reg, n);
    remove_edge(reg, q, n);
    if (r == 1) right_multiply(reg[n], vop::pauli_z);
  }
  if (r == 1) right_multiply(reg[q], vop::pauli_x);
  right_multiply(reg[q], vop::hadamard);
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

// Effective axis Y: complement the neighbourhood of q and cut q out, with
// S (outcome 0) or S-dagger (outcome 1) underneath q and every neighbour.
Measurement measure_graph_y(Register& reg, Qubit q, std::uint8_t sign, RandomSource& random) {
  const std::uint8_t r = random_bit(random) ? 1 : 0;
  const Vop correction = r == 0 ? vop::s : vop::s_dagger;
  for (const Qubit n : reg[q].neighbors) right_multiply(neighbour(reg, n), correction);

  const std::vector<Qubit> former = reg[q].neighbors;
  for (std::size_t i = 0; i < former.size(); ++i) {
    for (std::size_t j = i + 1; j < former.size(); ++j) toggle_edge(reg, former[i], former[j]);
    toggle_edge(reg, former[i], q);
  }
  right_multiply(reg[q], correction);
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

struct PairHash {
  std::size_t operator()(const std::pair<Qubit, Qubit>& pair) const noexcept {
    return std::hash<Qubit>{}(pair.first) * 0x9e3779b97f4a7c15ull ^ std::hash<Qubit>{}(pair.second);
  }
};

// Toggles every edge between a vertex of `a` and a different vertex of `b`
// exactly once, even when a vertex lies in both lists.
void toggle_cross_pairs(Register& reg, const std::vector<Qubit>& a, const std::vector<Qubit>& b) {
  std::unordered_set<std::pair<Qubit, Qubit>, PairHash> handled;
  for (const Qubit v : a) {
    for (const Qubit w : b) {
      if (v == w) continue;
      const auto pair = v < w ? std::pair{v, w} : std::pair{w, v};
      if (handled.insert(pair).second) toggle_edge(reg, pair.first, pair.second);
    }
  }
}

// Toggles every edge among the vertices common to both lists, in the order
// they appear in `a`.
void toggle_common_pairs(Register& reg, const std::vector<Qubit>& a, const std::vector<Qubit>& b) {
  std::vector<Qubit> common;
  for (const Qubit v : a) {
    if (contains(b, v)) common.push_back(v);
  }
  for (std::size_t i = 0; i < common.size(); ++i) {
    for (std::size_t j = i + 1; j < common.size(); ++j) toggle_edge(reg, common[i], common[j]);
  }
}

// Effective axis X on a qubit with neighbours: works about the first
// neighbour b.  The VOP corrections read the graph as it was; the edge
// updates then walk fixed copies of the two neighbourhoods.
Measurement measure_graph_x(Register& reg, Qubit q, std::uint8_t sign, RandomSource& random) {
  const std::uint8_t r = random_bit(random) ? 1 : 0;
  const Qubit b = reg[q].neighbors.front();
  neighbour(reg, b);

  if (r == 0) {
    right_multiply(reg[b], vop::sqrt_iy);
    for (const Qubit w : reg[q].neighbors) {
      if (w != b && !has_edge(reg, b, w)) right_multiply(neighbour(reg, w), vop::pauli_z);
    }
  } else {
    right_multiply(reg[b], vop::sqrt_minus_iy);
    right_multiply(reg[q], vop::pauli_z);
    for (const Qubit w : reg[b].neighbors) {
      if (w != q && !has_edge(reg, q, w)) right_multiply(neighbour(reg, w), vop::pauli_z);
    }
  }

  const std::vector<Qubit> q_neighbours = reg[q].neighbors;
  const std::vector<Qubit> b_neighbours = reg[b].neighbors;
  for (const Qubit v : q_neighbours) neighbour(reg, v);
  for (const Qubit v : b_neighbours) neighbour(reg, v);
  toggle_cross_pairs(reg, q_neighbours, b_neighbours);
  toggle_common_pairs(reg, q_neighbours, b_neighbours);
  for (const Qubit e : q_neighbours) {
    if (e != b) toggle_edge(reg, b, e);
  }
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

}  // namespace

Measurement measure(Register& reg, Qubit q, Axis axis, RandomSource& random) {
  const Vop inverse = ADJOINT_TABLE[reg.at(q).vop];
  const Axis effective = conj_axis(inverse, axis);
  const std::uint8_t sign = conj_sign_negative(inverse, axis) ? 1 : 0;
  switch (effective) {
    case Axis::z:
      return measure_graph_z(reg, q, sign, random);
    case Axis::y:
      return measure_graph_y(reg, q, sign, random);
    default:
      if (reg[q].neighbors.empty()) return {sign, true};
      return measure_graph_x(reg, q, sign, random);
  }
}

Axis find_deterministic(const Register& reg, Qubit q) {
  const Node& node = reg.at(q);
  if (!node.neighbors.empty()) return Axis::none;
  return static_cast<Axis>(X_PREIMAGE_TABLE[ADJOINT_TABLE[node.vop]]);
}

}  // namespace ordavine
