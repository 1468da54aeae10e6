#include "register/toggle_batch.hpp"

#include <algorithm>

namespace ordavine {

void ToggleBatch::prepare(Register& reg) {
  QubitMarks<std::uint32_t>& slot_of = slot_of_;

  // Group the partners of every touched vertex, keeping the toggle order.
  slot_of.begin(reg.size());
  touched_.clear();
  offsets_.clear();
  auto count = [&](Qubit v) {
    std::uint32_t& slot = slot_of[v];
    if (slot == 0) {
      touched_.push_back(v);
      offsets_.push_back(0);
      slot = static_cast<std::uint32_t>(touched_.size());
    }
    ++offsets_[slot - 1];
  };
  for (const auto& [a, b] : pairs_) {
    count(a);
    count(b);
  }
  std::size_t start = 0;
  for (std::size_t& offset : offsets_) start += std::exchange(offset, start);
  offsets_.push_back(start);
  partners_.resize(start);
  mirror_.resize(start);
  joined_.assign(start, kUnknown);
  for (const auto& [a, b] : pairs_) {
    const std::size_t at_a = offsets_[slot_of.get(a) - 1]++;
    const std::size_t at_b = offsets_[slot_of.get(b) - 1]++;
    partners_[at_a] = b;
    partners_[at_b] = a;
    mirror_[at_a] = at_b;
    mirror_[at_b] = at_a;
  }
  // Filling advanced each offset to the start of the next group.
  for (std::size_t i = offsets_.size() - 1; i > 0; --i) offsets_[i] = offsets_[i - 1];
  offsets_[0] = 0;

  // Room for every toggle of a list to add an entry, had before any list
  // changes: running out of memory then leaves the graph as it was.
  states_.begin(reg.size());
  is_partner_.reserve(reg.size());
  for (std::size_t slot = 0; slot < touched_.size(); ++slot) {
    NeighbourList& list = reg[touched_[slot]].neighbors;
    reserve_room(list, list.size() + offsets_[slot + 1] - offsets_[slot]);
  }
}

void ToggleBatch::rewrite(Register& reg, std::size_t slot) noexcept {
  QubitMarks<PartnerState>& states = states_;
  QubitBits& is_partner = is_partner_;
  NeighbourList& list = reg[touched_[slot]].neighbors;
  const std::size_t first = offsets_[slot], last = offsets_[slot + 1];
  states.begin(reg.size());  // a new epoch; no allocation after the first
  for (std::size_t i = first; i < last; ++i) {
    PartnerState& state = states[partners_[i]];
    ++state.toggles;
    state.last = static_cast<std::uint32_t>(i);
  }

  // Whether the list holds each partner is known when every partner's own
  // list was rewritten before (the edge is in both lists or in neither).
  bool known = true;
  for (std::size_t i = first; i < last && known; ++i) known = joined_[mirror_[i]] != kUnknown;

  const std::size_t length = list.size();
  NeighbourList::value_type* const entries = list.data();
  std::size_t kept = 0;
  if (known) {
    // Only the partners it holds are looked for, and the scan stops at the
    // last of them.
    std::size_t expected = 0;
    for (std::size_t i = first; i < last; ++i) {
      PartnerState& state = states[partners_[i]];
      if (joined_[mirror_[i]] == kJoined && !state.originally_joined) {
        state.originally_joined = true;
        is_partner.set(partners_[i]);
        ++expected;
      }
    }
    // Find the first and the last partner held, then close up the gap
    // from whichever side moves fewer entries: the entries before the last
    // partner move towards the end and leave room in front, or those after
    // the first move towards the front.
    std::size_t read = 0, found = 0, first_hit = length;
    for (; found < expected && read < length; ++read) {
      if (is_partner.test(entries[read])) {
        if (found++ == 0) first_hit = read;
      }
    }
    if (found == 0) {
      kept = length;
    } else if (read <= length - first_hit) {
      std::size_t write = read;
      for (std::size_t i = read; i-- > first_hit;) {
        if (!is_partner.test(entries[i])) entries[--write] = entries[i];
      }
      std::copy_backward(entries, entries + first_hit, entries + write);
      list.drop_front(found);
      kept = length - found;
    } else {
      kept = first_hit;
      for (std::size_t i = first_hit; i < read; ++i) {
        if (!is_partner.test(entries[i])) entries[kept++] = entries[i];
      }
      std::copy(entries + read, entries + length, entries + kept);
      kept += length - read;
    }
  } else {
    // One bit test per entry finds the partners the list holds, and only
    // those reach their records.
    for (std::size_t i = first; i < last; ++i) is_partner.set(partners_[i]);
    std::size_t read = 0;
    while (read < length && !is_partner.test(entries[read])) ++read;
    kept = read;
    for (; read < length; ++read) {
      const Qubit entry = entries[read];
      if (is_partner.test(entry)) {
        states[entry].originally_joined = true;
      } else {
        entries[kept++] = entry;
      }
    }
  }
  for (std::size_t i = first; i < last; ++i) is_partner.reset(partners_[i]);
  list.resize(kept);
  for (std::size_t i = first; i < last; ++i) {
    const PartnerState state = states.get(partners_[i]);
    joined_[i] = state.originally_joined ? kJoined : kNotJoined;
    const bool joined_at_end = state.originally_joined != (state.toggles % 2 == 1);
    if (state.last == i && joined_at_end) list.push_back(partners_[i]);
  }
  list.settle();
}

void ToggleBatch::commit(Register& reg) noexcept {
  // Each list is rewritten from its own entries and its partners alone, so
  // the order of the rewrites does not matter.  Lists with many toggles go
  // first and are scanned whole; what they find tells the lists with few
  // toggles which partners they hold, so that those need not be scanned
  // past the last one.
  for (std::size_t slot = 0; slot < touched_.size(); ++slot) {
    if (offsets_[slot + 1] - offsets_[slot] > kFewToggles) rewrite(reg, slot);
  }
  for (std::size_t slot = 0; slot < touched_.size(); ++slot) {
    if (offsets_[slot + 1] - offsets_[slot] <= kFewToggles) rewrite(reg, slot);
  }
  pairs_.clear();
}

}  // namespace ordavine
