// Removing a few known entries from a long list, keeping the order of the
// rest, without scanning past the last of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "register/neighbour_list.hpp"
#include "register/qubit_bits.hpp"

namespace ordavine {

// Moves `count` entries from `from` to `to` within one list.  The runs
// close_up moves are mostly a few entries long, and a loop moves those
// for less than a call would; long runs go to memmove.
inline void move_run(NeighbourList::value_type* to, const NeighbourList::value_type* from,
                     std::size_t count) noexcept {
  constexpr std::size_t kShortRun = 16;
  if (count > kShortRun) {
    std::memmove(to, from, count * sizeof *to);
  } else if (to < from) {
    for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
  } else {
    for (std::size_t i = count; i-- > 0;) to[i] = from[i];
  }
}

// Removes from `list` the `expected` entries whose bits are set in
// `leaving`, keeping the order of the rest; returns how many it found
// (fewer only when the list holds fewer).  `hits` has room for `expected`
// positions.  The entries are looked for from both ends at once, so one
// near either end (an old entry at the front, a recent one at the back) is
// found after about twice its distance from that end, not after the whole
// list.  Positions found from the front fill hits upwards, those from the
// back fill it downwards from `expected`.
inline std::size_t close_up(NeighbourList& list, std::size_t expected, const QubitBits& leaving,
                            std::uint32_t* hits) noexcept {
  const std::size_t length = list.size();
  NeighbourList::value_type* const entries = list.data();
  std::size_t low = 0, high = length, from_front = 0, from_back = 0;
  while (from_front + from_back < expected && low < high) {
    if (leaving.test(entries[low])) hits[from_front++] = static_cast<std::uint32_t>(low);
    ++low;
    if (from_front + from_back == expected || low == high) break;
    --high;
    if (leaving.test(entries[high])) hits[expected - ++from_back] = static_cast<std::uint32_t>(high);
  }
  const std::size_t found = from_front + from_back;
  if (found == 0) return 0;
  if (from_back > 0 && found < expected) {
    std::memmove(hits + from_front, hits + expected - from_back, from_back * sizeof *hits);
  }
  // hits[0, found) are ascending.  Close up the gaps from whichever side
  // moves fewer entries: the entries before the last one found move towards
  // the end and leave room in front, or those after the first move towards
  // the front.
  const std::size_t first_hit = hits[0], last_hit = hits[found - 1];
  if (last_hit + 1 <= length - first_hit) {
    for (std::size_t j = found; j-- > 0;) {
      const std::size_t from = j == 0 ? 0 : hits[j - 1] + 1;
      move_run(entries + from + (found - j), entries + from, hits[j] - from);
    }
    list.drop_front(found);
  } else {
    for (std::size_t j = 0; j < found; ++j) {
      const std::size_t to = j + 1 < found ? hits[j + 1] : length;
      move_run(entries + hits[j] - j, entries + hits[j] + 1, to - hits[j] - 1);
    }
    list.truncate(length - found);
  }
  return found;
}

}  // namespace ordavine
