#include "register/entanglement_entropy.hpp"

#include <utility>
#include <vector>

#include "register/cut_rank.hpp"
#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

struct CutMark {
  bool in_set = false;
  std::size_t end_plus_one = 0;  // position + 1 among the ends of cut edges
};

// One table per thread, reused across calls like the other qubit marks.
QubitMarks<CutMark>& cut_marks() {
  thread_local QubitMarks<CutMark> marks;
  return marks;
}

// The cut edges as pairs of end positions (the end in the set first), and
// for every end whether it is in the set.
struct Cut {
  std::vector<std::pair<std::size_t, std::size_t>> edges;
  std::vector<bool> end_in_set;
};

Cut find_cut(const Register& reg, std::span<const Qubit> qubits, QubitMarks<CutMark>& marks) {
  Cut cut;
  const auto end_of = [&](Qubit q, bool in_set) {
    CutMark& mark = marks[q];
    if (mark.end_plus_one == 0) {
      cut.end_in_set.push_back(in_set);
      mark.end_plus_one = cut.end_in_set.size();
    }
    return mark.end_plus_one - 1;
  };
  for (const Qubit a : qubits) {
    for (const Qubit b : reg[a].neighbors) {
      reg.check(b);  // before its mark is touched
      if (marks.get(b).in_set) continue;
      const std::size_t inside = end_of(a, true);
      cut.edges.emplace_back(inside, end_of(b, false));
    }
  }
  return cut;
}

}  // namespace

std::size_t entanglement_entropy(const Register& reg, std::span<const Qubit> qubits, CancelCheck* cancel) {
  for (const Qubit q : qubits) reg.check(q);
  QubitMarks<CutMark>& marks = cut_marks();
  marks.begin(reg.size());
  for (const Qubit q : qubits) marks[q].in_set = true;
  const Cut cut = find_cut(reg, qubits, marks);
  if (cut.edges.empty()) return 0;
  WorkMeter meter(cancel);
  return cut_rank(cut.end_in_set, cut.edges, meter);
}

}  // namespace ordavine
