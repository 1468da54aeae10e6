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
  void toggle(Qubit a, Qubit b) { pairs_.emplace_back(a, b); }
  std::size_t size() const noexcept { return pairs_.size(); }

  // Forgets the recorded toggles (after recording was cut short).
  void clear() noexcept { pairs_.clear(); }

  // Applies the recorded toggles in order and empties the batch.  When
  // memory runs out it throws std::bad_alloc before any list has changed.
  void apply(Register& reg) {
    prepare(reg);
    commit(reg);
  }

  // The two halves of apply: `prepare` plans the rewrite and makes room in
  // every list it lengthens (it may throw std::bad_alloc, having changed
  // nothing); `commit`, right after it on the same thread and register,
  // rewrites the lists and cannot fail.
  void prepare(Register& reg);
  void commit(Register& reg) noexcept;

 private:
  // What one list rewrite knows about a partner of the vertex rewritten.
  struct PartnerState {
    std::uint32_t toggles = 0;  // how often the pair was toggled
    std::uint32_t last = 0;     // position of its last toggle among the vertex's
    bool originally_joined = false;
  };

  std::vector<std::pair<Qubit, Qubit>> pairs_;
  std::vector<Qubit> touched_;
  std::vector<std::size_t> offsets_;
  std::vector<Qubit> partners_;
  // For each entry of partners_, the entry of the same pair in the other
  // vertex's group, and whether the pair was joined before the batch as
  // far as a finished rewrite has found out.
  std::vector<std::size_t> mirror_;
  std::vector<std::uint8_t> joined_;
  static constexpr std::uint8_t kUnknown = 0, kNotJoined = 1, kJoined = 2;
  static constexpr std::size_t kFewToggles = 8;

  // Rewrites the list of touched_[slot]; called once per slot by commit.
  void rewrite(Register& reg, std::size_t slot) noexcept;
  // Removes from `list` the `expected` entries whose bits are set in
  // is_partner_, keeping the order of the rest; returns how many it found.
  std::size_t close_up(NeighbourList& list, std::size_t expected) noexcept;
  // Positions of those entries, room for the largest group had in prepare.
  std::vector<std::uint32_t> hits_;

  // Per-qubit scratch, kept with the batch rather than in thread-locals:
  // the loops reach it through `this`, with no look-up of thread storage.
  QubitMarks<std::uint32_t> slot_of_;  // touched vertex -> slot + 1
  QubitMarks<PartnerState> states_;
  QubitBits is_partner_;  // the partners of the list being rewritten
};

}  // namespace ordavine
