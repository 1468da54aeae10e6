// A run of edge toggles applied with one rewrite per touched list.
//
// Calling toggle_edge for each pair costs a scan of both lists per pair.
// The batch records the pairs and then rewrites each touched list once: its
// untouched entries keep their order, entries toggled an odd number of times
// leave or arrive, and every entry present at the end whose pair was toggled
// stands at the end, ordered by its pair's last toggle.  That is exactly
// what the toggles one by one leave behind.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "register/qubit_bits.hpp"
#include "register/qubit_marks.hpp"
#include "register/register.hpp"

namespace ordavine {

class ToggleBatch {
 public:
  // Records a toggle of (a, b).  Each vertex gets its group (slot) the
  // first time it is met, so prepare need not look the vertices up again.
  // May throw std::bad_alloc; the recorded toggles are then as they were.
  void toggle(Qubit a, Qubit b) {
    if (!recording_) start_recording();
    const std::uint32_t slot_a = slot_for(a);
    const std::uint32_t slot_b = slot_for(b);
    pairs_.emplace_back(slot_a, slot_b);
    ++offsets_[slot_a];
    ++offsets_[slot_b];
  }
  std::size_t size() const noexcept { return pairs_.size(); }

  // Forgets the recorded toggles (after recording was cut short).
  void clear() noexcept {
    pairs_.clear();
    recording_ = false;
  }
  // Forgets them and frees the batch's storage, which a large run of
  // toggles makes large: for an update that failed.
  void release() noexcept;

  // Applies the recorded toggles in order and empties the batch.  When
  // memory runs out it throws std::bad_alloc before any list has changed.
  void apply(Register& reg) {
    prepare(reg);
    commit(reg);
  }

  // The two halves of apply: `prepare` plans the rewrite and makes room in
  // every list it lengthens (it may throw std::bad_alloc, having changed
  // nothing and released the batch, room in the lists included);
  // `commit`, right after it on the same thread and register, rewrites the
  // lists and cannot fail.
  void prepare(Register& reg);
  void commit(Register& reg) noexcept;

 private:
  // What one list rewrite knows about a partner of the vertex rewritten.
  struct PartnerState {
    std::uint32_t toggles = 0;  // how often the pair was toggled
    std::uint32_t last = 0;     // position of its last toggle among the vertex's
    bool originally_joined = false;
  };

  // Fresh slots for a new run of toggles.
  void start_recording() {
    slot_of_.begin(0);
    touched_.clear();
    offsets_.clear();
    recording_ = true;
  }
  // The slot of v, given a new one (with no toggles yet) when v is first met.
  std::uint32_t slot_for(Qubit v) {
    slot_of_.grow(v + 1);
    std::uint32_t& slot = slot_of_[v];
    if (slot == 0) {
      // Both grow or neither; the room doubles, as push_back's would.
      if (touched_.size() == touched_.capacity()) touched_.reserve(2 * touched_.size() + 16);
      offsets_.push_back(0);
      touched_.push_back(v);
      slot = static_cast<std::uint32_t>(touched_.size());
    }
    return slot - 1;
  }

  // The toggled pairs as the slots of their two vertices.  Positions in a
  // batch are 32 bits wide, as PartnerState::last is.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;
  bool recording_ = false;
  std::vector<Qubit> touched_;
  // While recording, the number of toggles of each slot; after prepare,
  // where each slot's group of partners starts (one more entry at the end).
  std::vector<std::size_t> offsets_;
  std::vector<NeighbourList::value_type> partners_;
  // For each entry of partners_, the entry of the same pair in the other
  // vertex's group, and whether the pair was joined before the batch as
  // far as a finished rewrite has found out.
  std::vector<std::uint32_t> mirror_;
  std::vector<std::uint8_t> joined_;
  static constexpr std::uint8_t kUnknown = 0, kNotJoined = 1, kJoined = 2;
  static constexpr std::size_t kFewToggles = 8;

  // The first part of prepare: groups the partners of each slot and has
  // the scratch of the rewrites.
  void plan(Register& reg);
  // Rewrites the list of touched_[slot]; called once per slot by commit.
  void rewrite(Register& reg, std::size_t slot) noexcept;
  // Positions of the held partners a rewrite removes (close_up), room for
  // the largest group had in prepare.
  std::vector<std::uint32_t> hits_;

  // Per-qubit scratch, kept with the batch rather than in thread-locals:
  // the loops reach it through `this`, with no look-up of thread storage.
  QubitMarks<std::uint32_t> slot_of_;  // touched vertex -> slot + 1
  QubitMarks<PartnerState> states_;
  QubitBits is_partner_;  // the partners of the list being rewritten
};

}  // namespace ordavine
