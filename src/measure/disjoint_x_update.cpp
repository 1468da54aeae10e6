#include "measure/disjoint_x_update.hpp"

#include <algorithm>

#include "register/close_up.hpp"

namespace ordavine {

void DisjointXUpdate::forget_members(Entries a, Entries b) noexcept {
  for (const Qubit v : a) in_a_.reset(v);
  for (const Qubit w : b) in_b_.reset(w);
}

namespace {

// Appends the entries of `from` that `taken(i)` selects, in order, then
// `last` unless it is kNoEntry.  Every entry is written and the end only
// advances past the taken ones, so the loop has no branch to mispredict;
// the list has room for one more entry than it ends with, which takes the
// write after the last one.
constexpr NeighbourList::value_type kNoEntry = ~NeighbourList::value_type{0};

template <class Taken>
void append_taken(NeighbourList& list, std::span<const NeighbourList::value_type> from, Taken taken,
                  NeighbourList::value_type last = kNoEntry) noexcept {
  NeighbourList::value_type* const start = list.data();
  NeighbourList::value_type* out = start + list.size();
  for (std::size_t i = 0; i < from.size(); ++i) {
    *out = from[i];
    out += static_cast<std::size_t>(taken(i));
  }
  *out = last;
  out += last != kNoEntry;
  list.adopt_written(static_cast<std::size_t>(out - start));
}

// Removes the `count` entries of `list` whose bits are set, keeping the
// order of the rest.  A few are found from both ends and the runs between
// them moved; many (a row sweep's B lists lose about a third) cost less as
// one branch-free pass over the list.
void remove_marked(NeighbourList& list, std::size_t count, const QubitBits& marked,
                   std::uint32_t* hits) noexcept {
  if (8 * count <= list.size()) {
    close_up(list, count, marked, hits);
    return;
  }
  NeighbourList::value_type* const entries = list.data();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const NeighbourList::value_type entry = entries[i];
    entries[kept] = entry;
    kept += !marked.test(entry);
  }
  list.truncate(kept);
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
  // Who holds whom is read from the lists of one side whole: the side
  // whose lists are shorter in all.  Along a sweep that alternates between
  // a long A and a long B, so reading the shorter side costs a fraction of
  // always reading B's.  The other side's lists are then only searched for
  // the entries that leave.
  std::size_t a_entries = 0, b_entries = 0;
  for (std::size_t j = 1; j < a.size(); ++j) a_entries += reg[a[j]].neighbors.size();
  for (const Qubit w : b) {
    if (w != q) b_entries += reg[w].neighbors.size();
  }
  const bool read_a = a_entries < b_entries;
  // Where an entry found in those lists stands in the other side: a short
  // side is searched, a long one marked per qubit, so that marks as large
  // as the register are had only once a large neighbourhood is met and a
  // sparse register does not pay for them.
  const Entries indexed = read_a ? b : a;
  const bool marked = indexed.size() > kSearchLimit;
  try {
    in_a_.reserve(reg.size());
    if (marked) position_.begin(reg.size());
    words_ = (b.size() + 63) / 64;
    held_.assign(a.size() * words_, 0);
    held_count_.assign(a.size(), 0);
    holding_count_.assign(b.size(), 0);
    if (hits_.size() < std::max(a.size(), b.size())) hits_.resize(std::max(a.size(), b.size()));
  } catch (...) {
    forget_b();
    release_scratch();
    throw;
  }
  for (const Qubit v : a) in_a_.set(v);
  if (marked) {
    for (std::size_t i = 0; i < indexed.size(); ++i)
      position_[indexed[i]] = static_cast<std::uint32_t>(i + 1);
  }
  const auto position_in_indexed = [&](Qubit member) -> std::size_t {
    if (marked) return position_.get(member) - 1;
    std::size_t i = 0;
    while (indexed[i] != member) ++i;
    return i;
  };

  const auto set_held = [&](std::size_t j, std::size_t k) {
    held_[j * words_ + k / 64] |= std::uint64_t{1} << (k % 64);
    ++held_count_[j];
    ++holding_count_[k];
  };
  if (read_a) {
    // b holds every member of B (and each of them holds b).
    for (std::size_t k = 0; k < b.size(); ++k) set_held(0, k);
    for (std::size_t j = 1; j < a.size(); ++j) {
      for (const Qubit e : reg[a[j]].neighbors) {
        if (in_b_.test(e)) set_held(j, position_in_indexed(e));
      }
    }
  } else {
    for (std::size_t k = 0; k < b.size(); ++k) {
      if (b[k] == q) {  // q holds every member of A
        for (std::size_t j = 0; j < a.size(); ++j) set_held(j, k);
        continue;
      }
      for (const Qubit e : reg[b[k]].neighbors) {
        if (in_a_.test(e)) set_held(position_in_indexed(e), k);
      }
    }
  }

  try {
    // remove_marked may leave the room it frees in front, where appending
    // cannot use it: the room is counted from the present length, with one
    // entry more for append_taken's last write (b in the lists of A's
    // members, a spare one in those of B's).  q's list is emptied and b's
    // written anew.
    for (std::size_t k = 0; k < b.size(); ++k) {
      if (b[k] == q) continue;
      NeighbourList& list = reg[b[k]].neighbors;
      reserve_room(list, list.size() + (a.size() - holding_count_[k]) + 1);
    }
    for (std::size_t j = 1; j < a.size(); ++j) {
      NeighbourList& list = reg[a[j]].neighbors;
      reserve_room(list, list.size() + (b.size() - held_count_[j]) + 1);
    }
    reserve_room(reg[a.front()].neighbors, a.size() - 1);
  } catch (...) {
    // Nothing has changed: the room had so far goes back, b's own list
    // last, since `b` reads it.
    forget_members(a, b);
    for (const Qubit w : b) {
      if (w != q) give_back_room(reg[w].neighbors);
    }
    for (std::size_t j = 1; j < a.size(); ++j) give_back_room(reg[a[j]].neighbors);
    give_back_room(reg[a.front()].neighbors);
    release_scratch();
    throw;
  }
  return true;
}

void DisjointXUpdate::release_scratch() noexcept {
  held_ = {};
  held_count_ = {};
  holding_count_ = {};
  hits_ = {};
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
    remove_marked(list, holding_count_[k], in_a_, hits_.data());
    append_taken(list, a, [&](std::size_t j) { return !holds(j, k); });
    list.settle();
  }
  // A member of A other than b: its entries outside B in order, then the
  // members of B it did not hold, then b.
  for (std::size_t j = 1; j < a.size(); ++j) {
    NeighbourList& list = reg[a[j]].neighbors;
    remove_marked(list, held_count_[j], in_b_, hits_.data());
    append_taken(
        list, b, [&](std::size_t k) { return !holds(j, k); }, static_cast<NeighbourList::value_type>(centre));
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
