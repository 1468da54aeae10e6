#include "register/entangled_group.hpp"

namespace ordavine {

QubitMarks<std::size_t>& ComponentSearch::marks() {
  thread_local QubitMarks<std::size_t> position_plus_one;
  return position_plus_one;
}

ComponentSearch::ComponentSearch(const Register& reg, std::span<const Qubit> starts) {
  QubitMarks<std::size_t>& reached = marks();
  reached.begin(reg.size());
  const auto visit = [&](Qubit q) {
    std::size_t& slot = reached[q];
    if (slot == 0) {
      members_.push_back(q);
      slot = members_.size();
    }
  };
  for (const Qubit q : starts) visit(q);
  // The member list is also the queue: members are read in the order met.
  for (std::size_t head = 0; head < members_.size(); ++head) {
    for (const Qubit next : reg[members_[head]].neighbors) {
      reg.check(next);  // before its mark is touched
      visit(next);
    }
  }
}

std::vector<Qubit> entangled_group(const Register& reg, Qubit q) {
  reg.check(q);
  const Qubit start[] = {q};
  return ComponentSearch(reg, start).members();
}

}  // namespace ordavine
