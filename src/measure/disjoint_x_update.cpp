#include "measure/disjoint_x_update.hpp"

#include <bit>

#include "register/close_up.hpp"

namespace ordavine {

void DisjointXUpdate::forget_members(std::span<const Qubit> a, std::span<const Qubit> b) noexcept {
  for (const Qubit v : a) in_a_.reset(v);
  for (const Qubit w : b) in_b_.reset(w);
}

bool DisjointXUpdate::prepare(Register& reg, Qubit q, std::span<const Qubit> a,
                              std::span<const Qubit> b) {
  // Scratch space first, while nothing is marked.
  const std::size_t n = reg.size();
  in_a_.reserve(n);
  in_b_.reserve(n);
  words_ = (b.size() + 63) / 64;
  held_.assign(a.size() * words_, 0);
  held_count_.resize(a.size());
  if (hits_.size() < b.size()) hits_.resize(b.size());
  position_in_a_.begin(n);

  for (const Qubit w : b) in_b_.set(w);
  for (const Qubit v : a) {
    if (in_b_.test(v)) {
      for (const Qubit w : b) in_b_.reset(w);
      return false;
    }
  }
  for (std::size_t j = 0; j < a.size(); ++j) {
    in_a_.set(a[j]);
    position_in_a_[a[j]] = static_cast<std::uint32_t>(j + 1);
  }

  // Who holds whom, from the lists of B's members: q holds all of A.
  const Qubit centre = a.front();
  try {
    for (std::size_t k = 0; k < b.size(); ++k) {
      const std::uint64_t bit = std::uint64_t{1} << (k % 64);
      std::uint64_t* const column = held_.data() + k / 64;
      std::size_t count = 0;
      if (b[k] == q) {
        for (std::size_t j = 0; j < a.size(); ++j) column[j * words_] |= bit;
        continue;
      }
      NeighbourList& list = reg[b[k]].neighbors;
      for (const Qubit e : list) {
        if (!in_a_.test(e)) continue;
        column[(position_in_a_.get(e) - 1) * words_] |= bit;
        ++count;
      }
      // It loses `count` entries and gains the other members of A; the
      // rewrite closes up towards the front, so it never holds more than
      // the larger of its lengths before and after.
      reserve_room(list, list.size() - count + (a.size() - count));
    }
    for (std::size_t j = 0; j < a.size(); ++j) {
      std::size_t count = 0;
      for (std::size_t word = 0; word < words_; ++word) count += std::popcount(held_[j * words_ + word]);
      held_count_[j] = static_cast<std::uint32_t>(count);
      if (a[j] == centre) continue;
      // close_up may leave the room it frees in front, where appending
      // cannot use it: the room is counted from the present length.
      NeighbourList& list = reg[a[j]].neighbors;
      reserve_room(list, list.size() + (b.size() - count) + 1);
    }
    reserve_room(reg[centre].neighbors, a.size() - 1);
  } catch (...) {
    forget_members(a, b);
    throw;
  }
  return true;
}

void DisjointXUpdate::commit(Register& reg, Qubit q, std::span<const Qubit> a,
                             std::span<const Qubit> b) noexcept {
  const Qubit centre = a.front();
  // A member of B other than q: its entries outside A in order, then the
  // members of A it did not hold.
  for (std::size_t k = 0; k < b.size(); ++k) {
    if (b[k] == q) continue;
    NeighbourList& list = reg[b[k]].neighbors;
    NeighbourList::value_type* const entries = list.data();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const NeighbourList::value_type entry = entries[i];
      if (!in_a_.test(entry)) entries[kept++] = entry;
    }
    list.truncate(kept);
    for (std::size_t j = 0; j < a.size(); ++j) {
      if (!holds(j, k)) list.push_back(static_cast<NeighbourList::value_type>(a[j]));
    }
    list.settle();
  }
  // A member of A other than b: its entries outside B in order, then the
  // members of B it did not hold, then b.
  for (std::size_t j = 0; j < a.size(); ++j) {
    if (a[j] == centre) continue;
    NeighbourList& list = reg[a[j]].neighbors;
    close_up(list, held_count_[j], in_b_, hits_.data());
    for (std::size_t k = 0; k < b.size(); ++k) {
      if (!holds(j, k)) list.push_back(static_cast<NeighbourList::value_type>(b[k]));
    }
    list.push_back(static_cast<NeighbourList::value_type>(centre));
    list.settle();
  }
  // b: the rest of A.
  NeighbourList& around_centre = reg[centre].neighbors;
  around_centre.clear();
  for (std::size_t j = 1; j < a.size(); ++j) around_centre.push_back(static_cast<NeighbourList::value_type>(a[j]));
  around_centre.settle();
  clear_list(reg[q].neighbors);
  forget_members(a, b);
}

}  // namespace ordavine
