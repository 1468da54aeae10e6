#include "measure/disjoint_x_update.hpp"

#include <algorithm>

#include "register/close_up.hpp"

namespace ordavine {

void DisjointXUpdate::forget_members(Entries a, Entries b) noexcept {
  for (const Qubit v : a) in_a_.reset(v);
  for (const Qubit w : b) in_b_.reset(w);
}

namespace {

// Appends the `count` entries of `from` that `taken(i)` selects, in order.
// Every entry is written and the end only advances past the taken ones, so
// the loop has no branch to mispredict; the list has room for one more
// entry than it ends with, which takes the write after the last one.
template <class Taken>
void append_taken(NeighbourList& list, std::span<const NeighbourList::value_type> from, std::size_t count,
                  Taken taken) noexcept {
  const std::size_t start = list.size();
  list.resize(start + count + 1);  // within the room had before
  NeighbourList::value_type* out = list.data() + start;
  for (std::size_t i = 0; i < from.size(); ++i) {
    *out = from[i];
    out += static_cast<std::size_t>(taken(i));
  }
  list.truncate(start + count);
}

}  // namespace

bool DisjointXUpdate::prepare(Register& reg, Qubit q) {
  const Entries a(reg[q].neighbors);
  const Entries b(reg[a.front()].neighbors);  // b's list moves only when its room is had, last
  // Whether A and B meet, from bits of B: the shared-vertex updates, which
  // take over when they do, pay for no more than that.
  const auto forget_b = [&] {
    for (const Qubit w : b) in_b_.reset(w);
  };
  in_b_.reserve(reg.size());
  for (const Qubit w : b) in_b_.set(w);
  for (const Qubit v : a) {
    if (in_b_.test(v)) {
      forget_b();
      return false;
    }
  }
  try {
    in_a_.reserve(reg.size());
    position_in_a_.begin(reg.size());
    words_ = (b.size() + 63) / 64;
    held_.assign(a.size() * words_, 0);
    held_count_.assign(a.size(), 1);  // q, of B, is held by every member of A
    holding_count_.resize(b.size());
    if (hits_.size() < std::max(a.size(), b.size())) hits_.resize(std::max(a.size(), b.size()));
  } catch (...) {
    forget_b();
    throw;
  }
  for (std::size_t j = 0; j < a.size(); ++j) {
    in_a_.set(a[j]);
    position_in_a_[a[j]] = static_cast<std::uint32_t>(j + 1);
  }

  // Who holds whom, from the lists of B's members: q holds all of A.
  try {
    for (std::size_t k = 0; k < b.size(); ++k) {
      const std::uint64_t bit = std::uint64_t{1} << (k % 64);
      std::uint64_t* const column = held_.data() + k / 64;
      if (b[k] == q) {
        for (std::size_t j = 0; j < a.size(); ++j) column[j * words_] |= bit;
        holding_count_[k] = static_cast<std::uint32_t>(a.size());
        continue;
      }
      NeighbourList& list = reg[b[k]].neighbors;
      std::size_t count = 0;
      for (const Qubit e : list) {
        if (!in_a_.test(e)) continue;
        const std::size_t j = position_in_a_.get(e) - 1;
        column[j * words_] |= bit;
        ++held_count_[j];
        ++count;
      }
      holding_count_[k] = static_cast<std::uint32_t>(count);
      // close_up may leave the room it frees in front, where appending
      // cannot use it: the room is counted from the present length, with
      // one entry more for append_taken.
      reserve_room(list, list.size() + (a.size() - count) + 1);
    }
    for (std::size_t j = 1; j < a.size(); ++j) {  // A's first member is b
      // The same, with b appended last.
      NeighbourList& list = reg[a[j]].neighbors;
      reserve_room(list, list.size() + (b.size() - held_count_[j]) + 2);
    }
    reserve_room(reg[a.front()].neighbors, a.size() - 1);
  } catch (...) {
    forget_members(a, b);
    throw;
  }
  return true;
}

void DisjointXUpdate::commit(Register& reg, Qubit q) noexcept {
  const Entries a(reg[q].neighbors);
  const Qubit centre = a.front();
  const Entries b(reg[centre].neighbors);
  // A member of B other than q: its entries outside A in order, then the
  // members of A it did not hold.
  for (std::size_t k = 0; k < b.size(); ++k) {
    if (b[k] == q) continue;
    NeighbourList& list = reg[b[k]].neighbors;
    // A few entries to remove are found from both ends and the runs
    // between them moved; many (a row sweep's lists lose about a third)
    // cost less as one branch-free pass over the list.
    if (8 * holding_count_[k] <= list.size()) {
      close_up(list, holding_count_[k], in_a_, hits_.data());
    } else {
      NeighbourList::value_type* const entries = list.data();
      std::size_t kept = 0;
      for (std::size_t i = 0; i < list.size(); ++i) {
        const NeighbourList::value_type entry = entries[i];
        entries[kept] = entry;
        kept += !in_a_.test(entry);
      }
      list.truncate(kept);
    }
    append_taken(list, a, a.size() - holding_count_[k], [&](std::size_t j) { return !holds(j, k); });
    list.settle();
  }
  // A member of A other than b: its entries outside B in order, then the
  // members of B it did not hold, then b.
  for (std::size_t j = 1; j < a.size(); ++j) {
    NeighbourList& list = reg[a[j]].neighbors;
    close_up(list, held_count_[j], in_b_, hits_.data());
    append_taken(list, b, b.size() - held_count_[j], [&](std::size_t k) { return !holds(j, k); });
    list.push_back(static_cast<NeighbourList::value_type>(centre));
    list.settle();
  }
  // b: the rest of A.  B is read for the last time first.
  forget_members(a, b);
  NeighbourList& around_centre = reg[centre].neighbors;
  around_centre.clear();
  for (std::size_t j = 1; j < a.size(); ++j) around_centre.push_back(a[j]);
  around_centre.settle();
  clear_list(reg[q].neighbors);
}

}  // namespace ordavine
