// The edge update of an X measurement whose two neighbourhoods share no
// vertex, written down as its net effect instead of toggled pair by pair.
//
// q is measured about its first neighbour b; A is q's list and B is b's
// list, so b is in A and q is in B.  When no vertex is in both, the plain
// update toggles every pair (v of A, w of B) once, v in A's order and w in
// B's order within it, and then (b, e) for every other e of A, in A's
// order.  No pair is toggled twice, so every list ends as its untoggled
// entries in their order followed by the partners it gained, in the order
// of their toggles:
//   - w of B other than q: its entries not in A (b leaves: w held it), then
//     the members of A it did not hold, in A's order;
//   - v of A other than b: its entries not in B (q leaves: v held it), then
//     the members of B it did not hold, in B's order, then b (v was not
//     joined to b, or it would be in B);
//   - b: A without b (all of B leaves, then the rest of A arrives);
//   - q: empty (every member of A leaves it);
//   - every other list: unchanged.
// Which members of B each member of A holds is found once, by reading
// whole the lists of the side (A's members other than b, or B's other than
// q) that hold fewer entries in all; the other side's lists, the long ones
// of a dense front, are then searched only for the entries that leave.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "register/qubit_bits.hpp"
#include "register/qubit_marks.hpp"
#include "register/register.hpp"

namespace ordavine {

class DisjointXUpdate {
 public:
  // Whether A (q's list) and B (b's list, b = A's first entry) share no
  // vertex.  When they share none, reads what the update needs and makes
  // room in every list it lengthens; `commit` must then follow on the same
  // register before any list changes.  Throws std::bad_alloc having
  // changed no list, with the room it had given back.  Every member of A and B must be below the register
  // size, and A must have at least one entry.  A and B are read from the
  // lists themselves, which keep their entries until commit rewrites b's
  // and empties q's, last.
  bool prepare(Register& reg, Qubit q);

  // Rewrites the lists of A's and B's members and empties q's.
  void commit(Register& reg, Qubit q) noexcept;

 private:
  using Entries = std::span<const NeighbourList::value_type>;

  // held_[j * words_ + k / 64] bit k % 64: A[j] held B[k] before the update.
  bool holds(std::size_t j, std::size_t k) const noexcept {
    return (held_[j * words_ + k / 64] >> (k % 64)) & 1;
  }
  void forget_members(Entries a, Entries b) noexcept;
  // Frees the tables sized by A and B, after a failure: those of a large
  // update may be most of the memory there was.
  void release_scratch() noexcept;

  std::size_t words_ = 0;  // words per member of A
  std::vector<std::uint64_t> held_;
  std::vector<std::uint32_t> held_count_;     // per member of A: how many of B it holds
  std::vector<std::uint32_t> holding_count_;  // per member of B: how many of A it holds
  std::vector<std::uint32_t> hits_;           // positions close_up finds
  QubitBits in_a_, in_b_;                     // set from prepare to commit only
  // Positions + 1 in the side not read whole, when it has more members
  // than a search is worth.
  static constexpr std::size_t kSearchLimit = 16;
  QubitMarks<std::uint32_t> position_;
};

}  // namespace ordavine
