#include "register/toggle_batch.hpp"

#include <cstdint>

#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

// What one list rewrite knows about a partner of the vertex being rewritten.
struct PartnerState {
  std::uint32_t toggles = 0;    // how often the pair was toggled
  std::uint32_t last = 0;       // position of its last toggle among the vertex's
  bool originally_joined = false;
};

// Scratch shared by the two halves of a batch on this thread.
thread_local QubitMarks<PartnerState> partner_state;

}  // namespace

void ToggleBatch::prepare(Register& reg) {
  thread_local QubitMarks<std::uint32_t> slot_of;  // touched vertex -> slot + 1

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
  for (const auto& [a, b] : pairs_) {
    partners_[offsets_[slot_of.get(a) - 1]++] = b;
    partners_[offsets_[slot_of.get(b) - 1]++] = a;
  }
  // Filling advanced each offset to the start of the next group.
  for (std::size_t i = offsets_.size() - 1; i > 0; --i) offsets_[i] = offsets_[i - 1];
  offsets_[0] = 0;

  // Room for every toggle of a list to add an entry, had before any list
  // changes: running out of memory then leaves the graph as it was.
  partner_state.begin(reg.size());
  for (std::size_t slot = 0; slot < touched_.size(); ++slot) {
    std::vector<Qubit>& list = reg[touched_[slot]].neighbors;
    reserve_room(list, list.size() + offsets_[slot + 1] - offsets_[slot]);
  }
}

void ToggleBatch::commit(Register& reg) noexcept {
  for (std::size_t slot = 0; slot < touched_.size(); ++slot) {
    std::vector<Qubit>& list = reg[touched_[slot]].neighbors;
    const std::size_t first = offsets_[slot], last = offsets_[slot + 1];
    partner_state.begin(reg.size());  // a new epoch; no allocation after the first
    for (std::size_t i = first; i < last; ++i) {
      PartnerState& state = partner_state[partners_[i]];
      ++state.toggles;
      state.last = static_cast<std::uint32_t>(i);
    }
    std::size_t kept = 0;
    for (const Qubit entry : list) {
      const PartnerState state = partner_state.get(entry);
      if (state.toggles == 0) {
        list[kept++] = entry;
      } else {
        partner_state[entry].originally_joined = true;
      }
    }
    list.resize(kept);
    for (std::size_t i = first; i < last; ++i) {
      const PartnerState state = partner_state.get(partners_[i]);
      const bool joined_at_end = state.originally_joined != (state.toggles % 2 == 1);
      if (state.last == i && joined_at_end) list.push_back(partners_[i]);
    }
  }
  pairs_.clear();
}

}  // namespace ordavine
