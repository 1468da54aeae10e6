#include "register/entangled_group.hpp"

#include <deque>
#include <unordered_set>

namespace ordavine {

std::vector<Qubit> entangled_group(const Register& reg, Qubit q) {
  std::vector<Qubit> members;
  std::unordered_set<Qubit> visited;
  std::deque<Qubit> queue;
  queue.push_back(q);
  visited.insert(q);
  while (!queue.empty()) {
    const Qubit current = queue.front();
    queue.pop_front();
    // Checked as it leaves the queue, before any of its neighbours is read.
    const Node& node = reg.at(current);
    members.push_back(current);
    for (Qubit next : node.neighbors) {
      // Testing before appending keeps every qubit in the queue at most once.
      if (visited.insert(next).second) queue.push_back(next);
    }
  }
  return members;
}

}  // namespace ordavine
