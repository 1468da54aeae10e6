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
class MemberIndex {
 public:
  MemberIndex(std::span<const Qubit> members, std::size_t register_size) : members_(members) {
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
  std::span<const Qubit> members_;
  const QubitMarks<std::uint32_t>* marks_ = nullptr;
};

}  // namespace

void complement_among(Register& reg, std::span<const Qubit> members, Qubit drop) {
  const MemberIndex index(members, reg.size());
  thread_local std::vector<std::uint8_t> joined;
  joined.assign(members.size(), 0);
  for (std::size_t k = 0; k < members.size(); ++k) {
    std::vector<Qubit>& list = reg[members[k]].neighbors;
    std::fill(joined.begin(), joined.end(), 0);
    // Entries of other members leave (their toggle removes them); the rest
    // close up in order.
    std::size_t kept = 0;
    for (const Qubit entry : list) {
      if (entry == drop) continue;
      const std::size_t position = index.find(entry);
      if (position != MemberIndex::kNone) {
        joined[position] = 1;
      } else {
        list[kept++] = entry;
      }
    }
    list.resize(kept);
    // Members it was not joined to are appended in the order they are met.
    for (std::size_t j = 0; j < members.size(); ++j) {
      if (j != k && joined[j] == 0) list.push_back(members[j]);
    }
  }
}

void move_joined_members_to_end(Register& reg, std::span<const Qubit> members) {
  // A member whose list holds only the centre has nothing to move, so the
  // leaves of a star cost one look each and no index is built for them.
  // The same pass checks every member before anything changes.
  const auto has_others = [&](Qubit member) { return reg[member].neighbors.size() > 1; };
  bool any_to_move = false;
  for (const Qubit member : members) {
    reg.check(member);
    any_to_move = any_to_move || has_others(member);
  }
  if (!any_to_move) return;
  const MemberIndex index(members, reg.size());
  thread_local std::vector<std::pair<std::size_t, Qubit>> moved;
  for (const Qubit member : members) {
    if (!has_others(member)) continue;
    std::vector<Qubit>& list = reg[member].neighbors;
    moved.clear();
    std::size_t kept = 0;
    for (const Qubit entry : list) {
      const std::size_t position = index.find(entry);
      if (position != MemberIndex::kNone) {
        moved.emplace_back(position, entry);
      } else {
        list[kept++] = entry;
      }
    }
    if (moved.empty()) continue;
    std::sort(moved.begin(), moved.end());
    list.resize(kept);
    for (const auto& [position, entry] : moved) list.push_back(entry);
  }
}

void cut_out(Register& reg, Qubit q) {
  for (const Qubit n : reg[q].neighbors) {
    std::vector<Qubit>& list = reg[n].neighbors;
    list.erase(std::remove(list.begin(), list.end(), q), list.end());
  }
  reg[q].neighbors.clear();
}

}  // namespace ordavine
