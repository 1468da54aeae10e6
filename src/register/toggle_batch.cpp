#include "register/toggle_batch.hpp"

#include <algorithm>

#include "register/close_up.hpp"

namespace ordavine {

void ToggleBatch::prepare(Register& reg) {
  // Everything that needs memory happens here, before any list changes:
  // running out of it then leaves the graph as it was, and what was had
  // so far (room in the lists, the batch's own tables) goes back.
  std::size_t reserved = 0;
  try {
    plan(reg);
    for (; reserved < touched_.size(); ++reserved) {
      NeighbourList& list = reg[touched_[reserved]].neighbors;
      reserve_room(list, list.size() + offsets_[reserved + 1] - offsets_[reserved]);
    }
  } catch (...) {
    for (std::size_t slot = 0; slot < reserved; ++slot) give_back_room(reg[touched_[slot]].neighbors);
    release();
    throw;
  }
}

void ToggleBatch::plan(Register& reg) {
  // Group the partners of every touched vertex, keeping the toggle order.
  // Recording counted each slot's toggles; they become group starts.
  if (!recording_) start_recording();
  std::size_t start = 0;
  for (std::size_t& offset : offsets_) start += std::exchange(offset, start);
  offsets_.push_back(start);
  partners_.resize(start);
  mirror_.resize(start);
  joined_.assign(start, kUnknown);
  for (const auto& [slot_a, slot_b] : pairs_) {
    const std::size_t at_a = offsets_[slot_a]++;
    const std::size_t at_b = offsets_[slot_b]++;
    partners_[at_a] = static_cast<NeighbourList::value_type>(touched_[slot_b]);
    partners_[at_b] = static_cast<NeighbourList::value_type>(touched_[slot_a]);
    mirror_[at_a] = static_cast<std::uint32_t>(at_b);
    mirror_[at_b] = static_cast<std::uint32_t>(at_a);
  }
  // Filling advanced each offset to the start of the next group.
  for (std::size_t i = offsets_.size() - 1; i > 0; --i) offsets_[i] = offsets_[i - 1];
  offsets_[0] = 0;

  // Room for every toggle of a list to add an entry is had by prepare;
  // the scratch of the rewrites here.
  states_.begin(reg.size());
  is_partner_.reserve(reg.size());
  std::size_t largest_group = 0;
  for (std::size_t slot = 0; slot < touched_.size(); ++slot) {
    largest_group = std::max(largest_group, offsets_[slot + 1] - offsets_[slot]);
  }
  if (hits_.size() < largest_group) hits_.resize(largest_group);
}

void ToggleBatch::release() noexcept {
  clear();
  pairs_ = {};
  touched_ = {};
  offsets_ = {};
  partners_ = {};
  mirror_ = {};
  joined_ = {};
  hits_ = {};
}

void ToggleBatch::rewrite(Register& reg, std::size_t slot) noexcept {
  QubitMarks<PartnerState>& states = states_;
  QubitBits& is_partner = is_partner_;
  NeighbourList& list = reg[touched_[slot]].neighbors;
  const std::size_t first = offsets_[slot], last = offsets_[slot + 1];
  states.begin(reg.size());  // a new epoch; no allocation after the first
  // One pass over the partners counts their toggles and finds whether the
  // list holds each one, which is known when every partner's own list was
  // rewritten before (the edge is in both lists or in neither).  The
  // partners known to be held are marked for close_up.
  bool known = true;
  std::size_t expected = 0;
  for (std::size_t i = first; i < last; ++i) {
    PartnerState& state = states[partners_[i]];
    ++state.toggles;
    state.last = static_cast<std::uint32_t>(i);
    const std::uint8_t joined = joined_[mirror_[i]];
    known = known && joined != kUnknown;
    if (joined == kJoined && !state.originally_joined) {
      state.originally_joined = true;
      is_partner.set(partners_[i]);
      ++expected;
    }
  }

  const std::size_t length = list.size();
  NeighbourList::value_type* const entries = list.data();
  std::size_t kept = 0;
  if (known) {
    // Only the partners it holds are looked for.
    kept = length - close_up(list, expected, is_partner, hits_.data());
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
  list.resize(kept);
  for (std::size_t i = first; i < last; ++i) {
    const Qubit partner = partners_[i];
    is_partner.reset(partner);
    const PartnerState state = states.get(partner);
    joined_[i] = state.originally_joined ? kJoined : kNotJoined;
    const bool joined_at_end = state.originally_joined != (state.toggles % 2 == 1);
    if (state.last == i && joined_at_end) list.push_back(static_cast<NeighbourList::value_type>(partner));
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
  recording_ = false;
}

}  // namespace ordavine
