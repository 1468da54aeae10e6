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

  // Applies the recorded toggles in order and empties the batch.
  void apply(Register& reg);

 private:
  std::vector<std::pair<Qubit, Qubit>> pairs_;
  std::vector<Qubit> touched_;
  std::vector<std::size_t> offsets_;
  std::vector<Qubit> partners_;
};

}  // namespace ordavine
