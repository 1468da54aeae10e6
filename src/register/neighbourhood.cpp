#include "register/neighbourhood.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

// Below this many members a linear search of the member list is cheaper
// than touching the per-qubit marks.
constexpr std::size_t kLinearSearchLimit = 12;

// Position of a qubit in a member list, or none.
template <class Entry>
class MemberIndex {
 public:
  MemberIndex(std::span<const Entry> members, std::size_t register_size) : members_(members) {
    if (members.size() > kLinearSearchLimit) {
      thread_local QubitMarks<std::uint32_t> marks;
      marks.begin(register_size);
      for (std::size_t i = 0; i < members.size(); ++i) marks[members[i]] = static_cast<std::uint32_t>(i + 1);
      marks_ = &marks;
    }
  }

  static constexpr std::size_t kNone = ~std::size_t{0};

  std::size_t find(Qubit q) const {
    if (marks_ != nullptr) {
      const std::uint32_t mark = marks_->get(q);
      return mark == 0 ? kNone : mark - 1;
    }
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (members_[i] == q) return i;
    }
    return kNone;
  }

 private:
  std::span<const Entry> members_;
  const QubitMarks<std::uint32_t>* marks_ = nullptr;
};

}  // namespace

template <class Entry>
void complement_among_impl(Register& reg, std::span<const Entry> members, Qubit drop) {
  const MemberIndex<Entry> index(members, reg.size());
  // Which members the list being rewritten was joined to: bits of one word
  // for up to 64 members, else a per-thread byte array.
  constexpr std::size_t kMaskBits = 64;
  const bool use_mask = members.size() <= kMaskBits;
  thread_local std::vector<std::uint8_t> joined_storage;
  std::vector<std::uint8_t>& joined = joined_storage;  // one look-up of thread storage
  if (!use_mask) joined.assign(members.size(), 0);

  // Every list that will grow gets its room first, so that running out of
  // memory throws before any list has changed, and gives the room back
  // then: a failed complementation holds no more memory than before (the
  // lists of a large neighbourhood can ask for far more than there is).  A
  // member joined to j other members ends with (size - j - drop entries) +
  // (m - 1 - j) entries.  The count is only needed when the list might not
  // have the room already.
  std::size_t prepared = 0;
  try {
    for (; prepared < members.size(); ++prepared) {
      NeighbourList& list = reg[members[prepared]].neighbors;
      if (list.size() + members.size() - 1 <= list.capacity()) continue;
      std::size_t leaving = 0, joined_members = 0;
      for (const Qubit entry : list) {
        if (entry == drop) {
          ++leaving;
        } else if (index.find(entry) != MemberIndex<Entry>::kNone) {
          ++joined_members;
        }
      }
      reserve_room(list, list.size() + members.size() - 1 - leaving - 2 * joined_members);
    }
  } catch (...) {
    for (std::size_t k = 0; k < prepared; ++k) give_back_room(reg[members[k]].neighbors);
    throw;
  }

  for (std::size_t k = 0; k < members.size(); ++k) {
    NeighbourList& list = reg[members[k]].neighbors;
    // Writes go through a pointer had once: entries are 32-bit words like
    // the list's own length, so writing through list[] would make the
    // compiler reread where the entries are after every write.
    NeighbourList::value_type* const entries = list.data();
    std::uint64_t joined_mask = 0;
    if (!use_mask) std::fill(joined.begin(), joined.end(), 0);
    // Entries of other members leave (their toggle removes them); the rest
    // close up in order.
    std::size_t kept = 0, joined_count = 0;
    for (const Qubit entry : list) {
      if (entry == drop) continue;
      const std::size_t position = index.find(entry);
      if (position == MemberIndex<Entry>::kNone) {
        entries[kept++] = static_cast<NeighbourList::value_type>(entry);
        continue;
      }
      ++joined_count;
      if (use_mask) {
        joined_mask |= std::uint64_t{1} << position;
      } else {
        joined[position] = 1;
      }
    }
    // Members it was not joined to are appended in the order they are met.
    // When there is a spare slot past the end, every member is written and
    // the end only advances past the ones taken, so the loop has no branch
    // to mispredict on a dense neighbourhood; the spare slot takes the write
    // after the last one.  A list exactly full writes only the ones taken.
    const std::size_t appended = members.size() - 1 - joined_count;
    const std::size_t final_size = kept + appended;
    const auto taken = [&](std::size_t j) {
      return j != k && !(use_mask ? (joined_mask >> j) & 1 : joined[j] != 0);
    };
    if (final_size < list.capacity()) {
      list.resize(final_size + 1);
      NeighbourList::value_type* out = list.data() + kept;
      for (std::size_t j = 0; j < members.size(); ++j) {
        *out = static_cast<NeighbourList::value_type>(members[j]);
        out += static_cast<std::size_t>(taken(j));
      }
      list.pop_back();
    } else {
      list.resize(final_size);
      NeighbourList::value_type* out = list.data() + kept;
      for (std::size_t j = 0; j < members.size(); ++j) {
        if (taken(j)) *out++ = static_cast<NeighbourList::value_type>(members[j]);
      }
    }
    list.settle();
  }
}

namespace {

// move_joined_members_to_end for a short member list: the index searches the
// list itself and the moved entries wait in a buffer on the stack, so
// nothing is allocated and nothing can fail.
template <class Entry>
void move_joined_among_few(Register& reg, std::span<const Entry> members) {
  const MemberIndex<Entry> index(members, reg.size());  // short: no marks
  struct Moved {
    std::size_t position;  // in `members`
    Qubit entry;
  };
  Moved moved[kLinearSearchLimit];  // left uninitialised: only the used part is read
  for (const Qubit member : members) {
    NeighbourList& list = reg[member].neighbors;
    if (list.size() < 2) continue;
    NeighbourList::value_type* const entries = list.data();
    std::size_t moved_count = 0, kept = 0;
    for (const Qubit entry : list) {
      const std::size_t position = index.find(entry);
      if (position != MemberIndex<Entry>::kNone) {
        // Lists hold distinct entries, none of them the member itself.
        if (moved_count == kLinearSearchLimit) fail("neighbour list holds a qubit twice");
        moved[moved_count++] = {position, entry};
      } else {
        entries[kept++] = static_cast<NeighbourList::value_type>(entry);
      }
    }
    if (moved_count == 0) continue;
    // Insertion sort by position: there are fewer than kLinearSearchLimit.
    for (std::size_t i = 1; i < moved_count; ++i) {
      const Moved next = moved[i];
      std::size_t j = i;
      for (; j > 0 && moved[j - 1].position > next.position; --j) moved[j] = moved[j - 1];
      moved[j] = next;
    }
    for (std::size_t i = 0; i < moved_count; ++i)
      entries[kept++] = static_cast<NeighbourList::value_type>(moved[i].entry);
  }
}

}  // namespace

template <class Entry>
void move_joined_members_to_end_impl(Register& reg, std::span<const Entry> members) {
  // A member whose list holds only the centre has nothing to move, so the
  // leaves of a star cost one look each and nothing more.  The same pass
  // checks every member before anything changes.
  const auto has_others = [&](Qubit member) { return reg[member].neighbors.size() > 1; };
  bool any_to_move = false;
  for (const Qubit member : members) {
    reg.check(member);
    any_to_move = any_to_move || has_others(member);
  }
  // A lone member has no other member to be joined to.
  if (!any_to_move || members.size() < 2) return;
  if (members.size() <= kLinearSearchLimit) {
    move_joined_among_few(reg, members);
    return;
  }
  // The scratch space is had before any list changes.
  std::size_t longest = 0;
  for (const Qubit member : members) longest = std::max(longest, reg[member].neighbors.size());
  const MemberIndex<Entry> index(members, reg.size());
  thread_local std::vector<std::pair<std::size_t, Qubit>> moved_storage;
  std::vector<std::pair<std::size_t, Qubit>>& moved = moved_storage;
  moved.reserve(longest);
  for (const Qubit member : members) {
    if (!has_others(member)) continue;
    NeighbourList& list = reg[member].neighbors;
    NeighbourList::value_type* const entries = list.data();
    moved.clear();
    std::size_t kept = 0;
    for (const Qubit entry : list) {
      const std::size_t position = index.find(entry);
      if (position != MemberIndex<Entry>::kNone) {
        moved.emplace_back(position, entry);
      } else {
        entries[kept++] = static_cast<NeighbourList::value_type>(entry);
      }
    }
    if (moved.empty()) continue;
    std::sort(moved.begin(), moved.end());
    list.resize(kept);
    for (const auto& [position, entry] : moved) list.push_back(entry);
  }
}

void complement_among(Register& reg, std::span<const Qubit> members, Qubit drop) {
  complement_among_impl(reg, members, drop);
}

void complement_among(Register& reg, std::span<const NeighbourList::value_type> members, Qubit drop) {
  complement_among_impl(reg, members, drop);
}

void move_joined_members_to_end(Register& reg, std::span<const Qubit> members) {
  move_joined_members_to_end_impl(reg, members);
}

void move_joined_members_to_end(Register& reg, std::span<const NeighbourList::value_type> members) {
  move_joined_members_to_end_impl(reg, members);
}

namespace {

// Where `value` stands in `list`, looked for from both ends at once: an
// entry near either end (an old edge at the front, a recent one at the
// back) is found after about twice its distance from that end.
const NeighbourList::value_type* find_from_both_ends(const NeighbourList& list, Qubit value) {
  const NeighbourList::value_type* low = list.begin();
  const NeighbourList::value_type* high = list.end();
  while (low < high) {
    if (*low == value) return low;
    if (*--high == value) return high;
    ++low;
  }
  return list.end();
}

}  // namespace

void cut_out(Register& reg, Qubit q) {
  // Lists hold distinct entries: q stands once in each neighbour's list, and
  // only the entries on the shorter side of it move.
  for (const Qubit n : reg[q].neighbors) {
    NeighbourList& list = reg[n].neighbors;
    const auto at = find_from_both_ends(list, q);
    if (at != list.end()) list.erase(at);
    list.settle();
  }
  clear_list(reg[q].neighbors);
}

}  // namespace ordavine
