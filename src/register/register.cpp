#include "register/register.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace ordavine {
namespace {

// Removes every occurrence of `value`, closing up the rest in order.  A
// short list is compacted in one pass; in a long one the entry is found
// and the shorter side of it moves.
void erase_all(NeighbourList& list, Qubit value) {
  if (list.size() <= 2 * NeighbourList::kInline) {
    NeighbourList::value_type* entries = list.data();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (entries[i] != value) entries[kept++] = entries[i];
    }
    list.truncate(kept);
    return;
  }
  for (auto at = std::find(list.begin(), list.end(), value); at != list.end();
       at = std::find(at, list.end(), value)) {
    at = list.erase(at);
  }
}

Register::Nodes make_nodes(std::size_t count) {
  Register::Nodes nodes;
  if (count > kMaxQubits || count > nodes.max_size()) fail_capacity();
  nodes.resize(count);  // one allocation of exactly `count` nodes
  return nodes;
}

}  // namespace

void* allocate_huge_pages(std::size_t bytes) {
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* memory = std::aligned_alloc(kHugePage, rounded);
  if (memory == nullptr) throw std::bad_alloc();
  // Advice only: without huge pages the memory is as good, if slower.
  madvise(memory, rounded, MADV_HUGEPAGE);
  return memory;
}

void free_huge_pages(void* memory) noexcept { std::free(memory); }

Register::Register(std::size_t count) : nodes_(make_nodes(count)) {}

void Register::add_qubits(std::size_t count) {
  const std::size_t size = nodes_.size();
  if (count > kMaxQubits - size) fail_capacity();
  const std::size_t needed = size + count;
  if (needed > nodes_.capacity()) {
    // Twice the room when that can be had, else exactly what is needed.
    // Nodes move without throwing, so a failed reservation changes nothing.
    const std::size_t doubled = std::min(kMaxQubits, std::max(needed, 2 * nodes_.capacity()));
    try {
      nodes_.reserve(doubled);
    } catch (const std::bad_alloc&) {
      if (doubled == needed) throw;
      nodes_.reserve(needed);
    }
  }
  nodes_.resize(needed);  // within capacity: nothing left to fail
}

std::size_t heap_bytes(const Register& reg) noexcept {
  std::size_t bytes = reg.nodes().capacity() * sizeof(Node);
  for (const Node& node : reg.nodes()) bytes += node.neighbors.heap_bytes();
  return bytes;
}

void append_edge(Register& reg, Qubit a, Qubit b) {
  NeighbourList& from_a = reg[a].neighbors;
  NeighbourList& from_b = reg[b].neighbors;
  reserve_room(from_a, from_a.size() + 1);
  try {
    reserve_room(from_b, from_b.size() + 1);
  } catch (...) {
    give_back_room(from_a);
    throw;
  }
  from_a.push_back(b);
  from_b.push_back(a);
}

void add_edge(Register& reg, Qubit a, Qubit b) {
  if (!has_edge(reg, a, b)) append_edge(reg, a, b);
}

void remove_edge(Register& reg, Qubit a, Qubit b) {
  erase_all(reg[a].neighbors, b);
  erase_all(reg[b].neighbors, a);
  reg[a].neighbors.settle();
  reg[b].neighbors.settle();
}

void toggle_edge_in_reserved_room(Register& reg, Qubit a, Qubit b) {
  if (has_edge(reg, a, b)) {
    erase_all(reg[a].neighbors, b);
    erase_all(reg[b].neighbors, a);
  } else {
    append_edge(reg, a, b);
  }
}

void toggle_edge(Register& reg, Qubit a, Qubit b) {
  if (has_edge(reg, a, b)) {
    remove_edge(reg, a, b);
  } else {
    append_edge(reg, a, b);
  }
}

}  // namespace ordavine
