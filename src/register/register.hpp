// The graph-state register: n qubits, each a vertex of an undirected simple
// graph with an ordered neighbour list and a vertex operator (VOP).  The
// represented state is |+>^n, then CZ on every edge, then each qubit's VOP.
//
// Neighbour lists are ordered and the order is observable: entries are
// appended at the end and removals keep the order of the rest, because VOP
// reduction, local complementation and X measurement all read list order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "clifford/tables.hpp"
#include "failure/failure.hpp"
#include "register/neighbour_list.hpp"

namespace ordavine {

struct Node {
  NeighbourList neighbors;
  Vop vop = vop::hadamard;  // H on |+> is |0>: a new qubit starts in |0>
};

// 32 bytes a qubit: the list with its first four entries inside, and the VOP.
static_assert(sizeof(Node) == 32);

// Memory for the node array.  A large register is read at random places
// (a query on a few qubits anywhere in it), and each such read risks a TLB
// miss on top of a cache miss; a large array is therefore aligned to 2 MiB
// and marked for transparent huge pages, which take the TLB misses away.
// Small arrays come from operator new like everything else.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;
inline constexpr std::size_t kHugeNodeArray = 2 * kHugePage;

// std::bad_alloc when the memory cannot be had.
void* allocate_huge_pages(std::size_t bytes);
void free_huge_pages(void* memory) noexcept;

template <class T>
struct NodeAllocator {
  using value_type = T;
  NodeAllocator() noexcept = default;
  template <class U>
  NodeAllocator(const NodeAllocator<U>&) noexcept {}
  T* allocate(std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    return static_cast<T*>(bytes >= kHugeNodeArray ? allocate_huge_pages(bytes) : ::operator new(bytes));
  }
  void deallocate(T* p, std::size_t count) noexcept {
    if (count * sizeof(T) >= kHugeNodeArray) {
      free_huge_pages(p);
    } else {
      ::operator delete(p);
    }
  }
  friend bool operator==(const NodeAllocator&, const NodeAllocator&) noexcept { return true; }
};

// List entries are 32 bits wide, so a register holds fewer than 2^32 qubits.
inline constexpr std::size_t kMaxQubits = NeighbourList::kMaxLength;

class Register {
 public:
  // `count` qubits, every one in |0> (no edges, VOP 10).  A count above
  // kMaxQubits, or whose node vector cannot be addressed, fails with
  // "capacity overflow"; one whose memory cannot be had throws
  // std::bad_alloc.
  explicit Register(std::size_t count);

  std::size_t size() const noexcept { return nodes_.size(); }

  // Appends `count` qubits in |0> (no edges, VOP 10); the qubits already
  // there keep their lists and VOPs.  A total above kMaxQubits fails with
  // "capacity overflow"; when memory cannot be had, std::bad_alloc with the
  // register unchanged.  Room grows geometrically, so adding qubits one at
  // a time costs amortised constant time each.
  void add_qubits(std::size_t count);

  // Index failure unless q is below the register size.
  void check(Qubit q, std::source_location where = std::source_location::current()) const {
    if (q >= nodes_.size()) fail_index(nodes_.size(), q, where);
  }

  // Checked access: the index failure for q at or above the size.
  Node& at(Qubit q, std::source_location where = std::source_location::current()) {
    check(q, where);
    return nodes_[q];
  }
  const Node& at(Qubit q, std::source_location where = std::source_location::current()) const {
    check(q, where);
    return nodes_[q];
  }

  // Unchecked access, for indices already checked or read from the lists.
  Node& operator[](Qubit q) noexcept { return nodes_[q]; }
  const Node& operator[](Qubit q) const noexcept { return nodes_[q]; }

  using Nodes = std::vector<Node, NodeAllocator<Node>>;
  const Nodes& nodes() const noexcept { return nodes_; }

 private:
  Nodes nodes_;
};

// The bytes `reg` holds on the heap: its node array and every list block,
// counted in O(n).
std::size_t heap_bytes(const Register& reg) noexcept;

// Makes room for `needed` entries in a list without moving it again for a
// while (capacity at least doubles, as a growing vector's does).  Every
// graph update calls this for each list it will lengthen before it changes
// any list, so that running out of memory leaves the graph as it was.
template <class List>
void reserve_room(List& list, std::size_t needed) {
  if (needed > list.capacity()) list.reserve(std::max(needed, 2 * list.capacity()));
}

// Undoes reserve_room for the lists of an update that failed before it
// changed any list: the room it had stays with nobody.
inline void give_back_room(NeighbourList& list) noexcept { list.shrink_to_fit(); }

// Empties the list of a qubit cut out of the graph.  A list inside its node
// stays there; one on the heap gives its block back.
inline void clear_list(NeighbourList& list) noexcept {
  list.clear();
  if (list.capacity() > NeighbourList::kInline) NeighbourList().swap(list);
}

// Graph primitives on two distinct, checked qubits.  Each one either
// completes or, when memory runs out, throws std::bad_alloc having changed
// nothing.

// Whether a and b are joined (b occurs in a's list).  The adjacency is
// symmetric, so the shorter list answers for both: a hub asked about a leaf
// costs one look, not a scan of the hub's list.
inline bool has_edge(const Register& reg, Qubit a, Qubit b) {
  const NeighbourList& from_a = reg[a].neighbors;
  const NeighbourList& from_b = reg[b].neighbors;
  if (from_b.size() < from_a.size()) return std::find(from_b.begin(), from_b.end(), a) != from_b.end();
  return std::find(from_a.begin(), from_a.end(), b) != from_a.end();
}

// Appends b to a's list and then a to b's list; the edge must be absent.
void append_edge(Register& reg, Qubit a, Qubit b);

// Makes the edge present, appending b to a's list and then a to b's list
// when it is absent.
void add_edge(Register& reg, Qubit a, Qubit b);

// Removes every b from a's list and every a from b's list, keeping order.
void remove_edge(Register& reg, Qubit a, Qubit b);

// Removes a present edge from both lists, or appends an absent one to both.
void toggle_edge(Register& reg, Qubit a, Qubit b);

// The same inside a run of toggles whose room was reserved beforehand: a
// removal keeps the lists' blocks (toggle_edge may move a short list back
// inside its node, giving the reserved room away, so that a later append
// would have to allocate).  The caller settles the lists after the run.
void toggle_edge_in_reserved_room(Register& reg, Qubit a, Qubit b);

}  // namespace ordavine
