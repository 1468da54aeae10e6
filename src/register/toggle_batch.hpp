// A run of edge toggles applied with one rewrite per touched list.
//
// Calling toggle_edge for each pair costs a scan of both lists per pair.
// The batch records the pairs and then rewrites each touched list once: its
// untouched entries keep their order, entries toggled an odd number of times
// leave or arrive, and every entry present at the end whose pair was toggled
// stands at the end, ordered by its pair's last toggle.  That is exactly
// what the toggles one by one leave behind.
#pragma once

#include <utility>
#include <vector>

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
  std::vector<std::pair<Qubit, Qubit>> pairs_;
  std::vector<Qubit> touched_;
  std::vector<std::size_t> offsets_;
  std::vector<Qubit> partners_;
};

}  // namespace ordavine
