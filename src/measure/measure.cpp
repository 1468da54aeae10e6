#include "measure/measure.hpp"

#include <cstddef>
#include <vector>

#include "measure/disjoint_x_update.hpp"
#include "register/neighbourhood.hpp"
#include "register/qubit_marks.hpp"
#include "register/toggle_batch.hpp"

namespace ordavine {
namespace {

// A correction inserted underneath the present VOP.
void right_multiply(Node& node, Vop factor) { node.vop = MULT_TABLE[node.vop][factor]; }

// Neighbour indices come from the lists; a register that keeps its
// invariants always passes this check.
Node& neighbour(Register& reg, Qubit n) { return reg.at(n); }

// Effective axis Z: cut q out of the graph.  For outcome 1 every former
// neighbour picks up a Z and q an X underneath its VOP.
//
// Inlined into both entry points (drawn and chosen outcomes), as is the
// leaf X update below: together they are most of a wire's measurements.
[[gnu::always_inline]] inline Measurement measure_graph_z(Register& reg, Qubit q, std::uint8_t sign,
                                                          std::uint8_t r) {
  for (const Qubit n : reg[q].neighbors) {
    Node& former = neighbour(reg, n);
    if (r == 1) right_multiply(former, vop::pauli_z);
  }
  // Removing the edges one neighbour at a time leaves the same lists.
  cut_out(reg, q);
  if (r == 1) right_multiply(reg[q], vop::pauli_x);
  right_multiply(reg[q], vop::hadamard);
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

// Effective axis Y: complement the neighbourhood of q and cut q out, with
// S (outcome 0) or S-dagger (outcome 1) underneath q and every neighbour.
Measurement measure_graph_y(Register& reg, Qubit q, std::uint8_t sign, std::uint8_t r) {
  const Vop correction = r == 0 ? vop::s : vop::s_dagger;
  // Each neighbour n_i toggles its pairs with the later neighbours and then
  // its edge to q: every pair of neighbours is toggled once, in list order,
  // and q leaves every list.  The rewrite either completes or changes
  // nothing, so it goes first and the corrections, which cannot fail, after.
  for (const Qubit n : reg[q].neighbors) neighbour(reg, n);
  complement_among(reg, std::span<const NeighbourList::value_type>(reg[q].neighbors), q);
  for (const Qubit n : reg[q].neighbors) right_multiply(reg[n], correction);
  clear_list(reg[q].neighbors);
  right_multiply(reg[q], correction);
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

// Up to this many cross pairs the toggles go straight to the lists; beyond
// it they are batched so that each list is rewritten once.
constexpr std::size_t kDirectToggleLimit = 64;

// Where a qubit stands in a short list, or none.
constexpr std::size_t kAbsent = ~std::size_t{0};

std::size_t position_in(const std::vector<Qubit>& list, Qubit value) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == value) return i;
  }
  return kAbsent;
}

// Membership of the two neighbourhoods of an X measurement: q's list A and
// b's list B.  Short lists are searched; long ones are marked per qubit.
class Neighbourhoods {
 public:
  Neighbourhoods(const std::vector<Qubit>& a, const std::vector<Qubit>& b, std::size_t size)
      : a_(a), b_(b), marked_(a.size() + b.size() > kSearchLimit) {
    if (marked_) {
      thread_local QubitMarks<Mark> marks;
      marks.begin(size);
      for (std::size_t i = 0; i < a.size(); ++i) {
        marks[a[i]].position_in_a = static_cast<std::uint32_t>(i + 1);
      }
      for (const Qubit w : b) marks[w].in_b = true;
      marks_ = &marks;
    }
  }

  // Position in A, or kAbsent.
  std::size_t in_a(Qubit v) const {
    if (marked_) {
      const std::size_t p = marks_->get(v).position_in_a;
      return p == 0 ? kAbsent : p - 1;
    }
    return position_in(a_, v);
  }
  bool in_b(Qubit v) const { return marked_ ? marks_->get(v).in_b : position_in(b_, v) != kAbsent; }

 private:
  static constexpr std::size_t kSearchLimit = 16;
  struct Mark {
    std::uint32_t position_in_a = 0;  // position + 1; 32 bits keep a mark at 12 bytes
    bool in_b = false;
  };
  const std::vector<Qubit>& a_;
  const std::vector<Qubit>& b_;
  bool marked_;
  const QubitMarks<Mark>* marks_ = nullptr;
};

// The edge changes of an X measurement, in order, handed to `toggle`:
// every pair of a vertex of A with a different vertex of B once (a pair of
// two vertices in both lists is met twice and handled the first time, when
// its vertex earlier in A is the one from A); then every pair of `common`,
// the vertices of A that are also in B, in A's order; then b with every
// other vertex of A.
template <class Toggle>
void x_measurement_toggles(const std::vector<Qubit>& a, const std::vector<Qubit>& b,
                           const std::vector<Qubit>& common, Qubit chosen, const Neighbourhoods& sets,
                           Toggle&& toggle) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Qubit v = a[i];
    const bool v_in_b = sets.in_b(v);
    for (const Qubit w : b) {
      if (v == w) continue;
      if (v_in_b) {
        const std::size_t w_in_a = sets.in_a(w);
        if (w_in_a != kAbsent && w_in_a < i) continue;  // met before as (w, v)
      }
      toggle(v, w);
    }
  }
  for (std::size_t i = 0; i < common.size(); ++i) {
    for (std::size_t j = i + 1; j < common.size(); ++j) toggle(common[i], common[j]);
  }
  for (const Qubit e : a) {
    if (e != chosen) toggle(chosen, e);
  }
}

// Gives every list the toggles of an X measurement reach the room they can
// need, before any list changes.  A list takes at most one append per
// toggle it is part of, and a removal does not always give room back at its
// end (an entry in the front half of a list on the heap leaves its room in
// front), so every toggle is counted, the pairs present now included.  Used
// when there are at most kDirectToggleLimit cross pairs: every toggled
// vertex is in A or in B, so at most kDirectToggleLimit + 1 vertices are
// counted, on the stack.
void reserve_for_direct_toggles(Register& reg, const std::vector<Qubit>& a, const std::vector<Qubit>& b,
                                const std::vector<Qubit>& common, Qubit chosen, const Neighbourhoods& sets) {
  struct Count {
    Qubit vertex;
    std::size_t toggles;
  };
  constexpr std::size_t kMaxVertices = kDirectToggleLimit + 1;
  Count counts[kMaxVertices];  // left uninitialised: only the used part is read
  std::size_t used = 0;
  const auto count = [&](Qubit v) {
    for (std::size_t i = 0; i < used; ++i) {
      if (counts[i].vertex == v) {
        ++counts[i].toggles;
        return;
      }
    }
    if (used == kMaxVertices) fail("an X measurement toggled a vertex outside both neighbourhoods");
    counts[used++] = {v, 1};
  };
  x_measurement_toggles(a, b, common, chosen, sets, [&](Qubit v, Qubit w) {
    count(v);
    count(w);
  });
  std::size_t reserved = 0;
  try {
    for (; reserved < used; ++reserved) {
      NeighbourList& list = reg[counts[reserved].vertex].neighbors;
      reserve_room(list, list.size() + counts[reserved].toggles);
    }
  } catch (...) {
    for (std::size_t i = 0; i < reserved; ++i) give_back_room(reg[counts[i].vertex].neighbors);
    throw;
  }
}

// Effective axis X on a qubit q whose only neighbour is b: the general
// update below, worked out for A = {b}.  Its toggles pair b with every
// entry of b's list, in order, so b leaves every list it stands in and its
// own list ends empty (q's with it); no pair among b's neighbours changes,
// and common is empty.  That is b cut out of the graph, with the
// corrections of the general case read off for A = {b}.  Lists only
// shrink, so nothing can fail once the checks have passed.
[[gnu::always_inline]] inline Measurement measure_graph_x_of_leaf(Register& reg, Qubit q, std::uint8_t sign,
                                                                  std::uint8_t r) {
  const Qubit b = reg[q].neighbors.front();
  for (const Qubit w : neighbour(reg, b).neighbors) neighbour(reg, w);
  if (r == 0) {
    right_multiply(reg[b], vop::sqrt_iy);
  } else {
    right_multiply(reg[b], vop::sqrt_minus_iy);
    right_multiply(reg[q], vop::pauli_z);
    for (const Qubit w : reg[b].neighbors) {
      if (w != q) right_multiply(reg[w], vop::pauli_z);
    }
  }
  cut_out(reg, b);
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

// Effective axis X on a qubit with neighbours: works about the first
// neighbour b.  Everything that needs memory (copies of the two
// neighbourhoods, their index, the planned toggles and the room in every
// list they lengthen) is had first; then the VOP corrections read the graph
// as it was, and the edge updates walk the fixed copies.  Running out of
// memory therefore changes nothing.
Measurement measure_graph_x(Register& reg, Qubit q, std::uint8_t sign, std::uint8_t r) {
  const Qubit b = reg[q].neighbors.front();
  neighbour(reg, b);

  for (const Qubit v : reg[q].neighbors) neighbour(reg, v);
  for (const Qubit v : reg[b].neighbors) neighbour(reg, v);

  // Per-thread scratch, bound to references once: a thread-local named in
  // a loop looks up the thread's storage at every use.
  thread_local DisjointXUpdate disjoint_storage;
  DisjointXUpdate& disjoint = disjoint_storage;
  if (disjoint.prepare(reg, q)) {
    // The lists are as they were.  No member of A is joined to b and none
    // of B to q, but b and q themselves.
    if (r == 0) {
      right_multiply(reg[b], vop::sqrt_iy);
      for (const Qubit w : reg[q].neighbors) {
        if (w != b) right_multiply(reg[w], vop::pauli_z);
      }
    } else {
      right_multiply(reg[b], vop::sqrt_minus_iy);
      right_multiply(reg[q], vop::pauli_z);
      for (const Qubit w : reg[b].neighbors) {
        if (w != q) right_multiply(reg[w], vop::pauli_z);
      }
    }
    disjoint.commit(reg, q);
    return {static_cast<std::uint8_t>(sign ^ r), false};
  }

  thread_local std::vector<Qubit> q_neighbours_storage, b_neighbours_storage, common_storage;
  thread_local ToggleBatch batch_storage;
  std::vector<Qubit>& q_neighbours = q_neighbours_storage;
  std::vector<Qubit>& b_neighbours = b_neighbours_storage;
  std::vector<Qubit>& common = common_storage;
  ToggleBatch& batch = batch_storage;
  q_neighbours.assign(reg[q].neighbors.begin(), reg[q].neighbors.end());
  b_neighbours.assign(reg[b].neighbors.begin(), reg[b].neighbors.end());

  const Neighbourhoods sets(q_neighbours, b_neighbours, reg.size());
  common.clear();
  for (const Qubit v : q_neighbours) {
    if (sets.in_b(v)) common.push_back(v);
  }
  const bool direct = q_neighbours.size() * b_neighbours.size() <= kDirectToggleLimit;
  if (direct) {
    reserve_for_direct_toggles(reg, q_neighbours, b_neighbours, common, b, sets);
  } else {
    batch.clear();
    try {
      x_measurement_toggles(q_neighbours, b_neighbours, common, b, sets,
                            [&](Qubit v, Qubit w) { batch.toggle(v, w); });
    } catch (...) {
      batch.release();  // the recorded toggles of a large update take much room
      throw;
    }
    batch.prepare(reg);
  }

  // The graph is still as it was, so "joined to b" is "in B" and "joined
  // to q" is "in A": one look-up each instead of a list scan.
  if (r == 0) {
    right_multiply(reg[b], vop::sqrt_iy);
    for (const Qubit w : q_neighbours) {
      if (w != b && !sets.in_b(w)) right_multiply(reg[w], vop::pauli_z);
    }
  } else {
    right_multiply(reg[b], vop::sqrt_minus_iy);
    right_multiply(reg[q], vop::pauli_z);
    for (const Qubit w : b_neighbours) {
      if (w != q && sets.in_a(w) == kAbsent) right_multiply(reg[w], vop::pauli_z);
    }
  }

  if (direct) {
    x_measurement_toggles(q_neighbours, b_neighbours, common, b, sets,
                          [&](Qubit v, Qubit w) { toggle_edge_in_reserved_room(reg, v, w); });
  } else {
    batch.commit(reg);
  }
  // Room was had for the longest the lists could grow on the way; those
  // that end short go back inside their nodes.
  for (const Qubit v : q_neighbours) reg[v].neighbors.settle();
  for (const Qubit v : b_neighbours) reg[v].neighbors.settle();
  clear_list(reg[q].neighbors);  // q is left without neighbours
  return {static_cast<std::uint8_t>(sign ^ r), false};
}

// The axis and sign the requested observable has on the bare graph state.
// Carries the observable through q's VOP onto the bare graph state, where
// it is +-sigma_e for an effective axis e, and runs the update for e with
// the graph outcome `graph_outcome(sign)` gives.  One body for drawn and
// chosen outcomes, so that both inline into their callers.
template <class GraphOutcome>
Measurement measure_by(Register& reg, Qubit q, Axis axis, GraphOutcome&& graph_outcome) {
  const Vop inverse = ADJOINT_TABLE[reg.at(q).vop];
  const Axis effective = conj_axis(inverse, axis);
  const std::uint8_t sign = conj_sign_negative(inverse, axis) ? 1 : 0;
  switch (effective) {
    case Axis::z: return measure_graph_z(reg, q, sign, graph_outcome(sign));
    case Axis::y: return measure_graph_y(reg, q, sign, graph_outcome(sign));
    default:
      if (reg[q].neighbors.empty()) return {sign, true};
      if (reg[q].neighbors.size() == 1) return measure_graph_x_of_leaf(reg, q, sign, graph_outcome(sign));
      return measure_graph_x(reg, q, sign, graph_outcome(sign));
  }
}

}  // namespace

Measurement measure(Register& reg, Qubit q, Axis axis, RandomSource& random) {
  return measure_by(reg, q, axis, [&](std::uint8_t) -> std::uint8_t { return random_bit(random) ? 1 : 0; });
}

Measurement measure_with_outcome(Register& reg, Qubit q, Axis axis, std::uint8_t wanted) {
  return measure_by(reg, q, axis,
                    [&](std::uint8_t sign) { return static_cast<std::uint8_t>((wanted ^ sign) & 1); });
}

Axis find_deterministic(const Register& reg, Qubit q) {
  const Node& node = reg.at(q);
  if (!node.neighbors.empty()) return Axis::none;
  return static_cast<Axis>(X_PREIMAGE_TABLE[ADJOINT_TABLE[node.vop]]);
}

}  // namespace ordavine
