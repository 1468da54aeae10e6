#include "register/register.hpp"

#include <algorithm>

namespace ordavine {
namespace {

// Removes every occurrence of `value`, closing up the rest in order; returns
// whether anything was removed.
bool erase_all(std::vector<Qubit>& list, Qubit value) {
  const auto new_end = std::remove(list.begin(), list.end(), value);
  const bool removed = new_end != list.end();
  list.erase(new_end, list.end());
  return removed;
}

std::vector<Node> make_nodes(std::size_t count) {
  std::vector<Node> nodes;
  if (count > nodes.max_size()) fail_capacity();
  nodes.resize(count);  // one allocation of exactly `count` nodes
  return nodes;
}

}  // namespace

Register::Register(std::size_t count) : nodes_(make_nodes(count)) {}

bool has_edge(const Register& reg, Qubit a, Qubit b) {
  // The adjacency is symmetric, so the shorter list answers for both: a hub
  // asked about a leaf costs one look, not a scan of the hub's list.
  const auto& from_a = reg[a].neighbors;
  const auto& from_b = reg[b].neighbors;
  if (from_b.size() < from_a.size()) return std::find(from_b.begin(), from_b.end(), a) != from_b.end();
  return std::find(from_a.begin(), from_a.end(), b) != from_a.end();
}

void add_edge(Register& reg, Qubit a, Qubit b) {
  if (has_edge(reg, a, b)) return;
  reg[a].neighbors.push_back(b);
  reg[b].neighbors.push_back(a);
}

void remove_edge(Register& reg, Qubit a, Qubit b) {
  erase_all(reg[a].neighbors, b);
  erase_all(reg[b].neighbors, a);
}

void toggle_edge(Register& reg, Qubit a, Qubit b) {
  const bool was_present = erase_all(reg[a].neighbors, b);
  erase_all(reg[b].neighbors, a);
  if (!was_present) {
    reg[a].neighbors.push_back(b);
    reg[b].neighbors.push_back(a);
  }
}

}  // namespace ordavine
