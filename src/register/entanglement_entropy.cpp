#include "register/entanglement_entropy.hpp"

#include <algorithm>
#include <numeric>

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

// The piece of every end: the smallest end joined to it by cut edges.
std::vector<std::size_t> pieces(const Cut& cut) {
  std::vector<std::size_t> parent(cut.end_in_set.size());
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  const auto find = [&](std::size_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  for (const auto& [inside, outside] : cut.edges) {
    const std::size_t a = find(inside), b = find(outside);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  }
  for (std::size_t v = 0; v < parent.size(); ++v) parent[v] = find(v);
  return parent;
}

}  // namespace

std::size_t gf2_rank(std::vector<std::uint64_t>& matrix, std::size_t rows, std::size_t words,
                     std::size_t columns) {
  std::size_t rank = 0;
  for (std::size_t column = 0; column < columns && rank < rows; ++column) {
    const std::size_t word = column / 64;
    const std::uint64_t bit = std::uint64_t{1} << (column % 64);
    std::size_t pivot = rank;
    while (pivot < rows && (matrix[pivot * words + word] & bit) == 0) ++pivot;
    if (pivot == rows) continue;
    std::uint64_t* top = matrix.data() + rank * words;
    if (pivot != rank) std::swap_ranges(top, top + words, matrix.data() + pivot * words);
    // Words before `word` are zero in every row from `rank` on.
    for (std::size_t r = rank + 1; r < rows; ++r) {
      std::uint64_t* row = matrix.data() + r * words;
      if ((row[word] & bit) == 0) continue;
      for (std::size_t w = word; w < words; ++w) row[w] ^= top[w];
    }
    ++rank;
  }
  return rank;
}

std::size_t entanglement_entropy(const Register& reg, std::span<const Qubit> qubits) {
  for (const Qubit q : qubits) reg.check(q);
  QubitMarks<CutMark>& marks = cut_marks();
  marks.begin(reg.size());
  for (const Qubit q : qubits) marks[q].in_set = true;
  const Cut cut = find_cut(reg, qubits, marks);
  if (cut.edges.empty()) return 0;

  // Number the ends of each piece on each side, and bucket the edges by piece.
  const std::size_t ends = cut.end_in_set.size();
  const std::vector<std::size_t> piece = pieces(cut);
  std::vector<std::size_t> local(ends), inside_count(ends, 0), outside_count(ends, 0);
  for (std::size_t e = 0; e < ends; ++e) {
    local[e] = cut.end_in_set[e] ? inside_count[piece[e]]++ : outside_count[piece[e]]++;
  }
  std::vector<std::size_t> first(ends + 1, 0), order(cut.edges.size());
  for (const auto& edge : cut.edges) ++first[piece[edge.first] + 1];
  std::partial_sum(first.begin(), first.end(), first.begin());
  std::vector<std::size_t> next(first.begin(), first.end() - 1);
  for (std::size_t i = 0; i < cut.edges.size(); ++i) order[next[piece[cut.edges[i].first]]++] = i;

  std::size_t entropy = 0;
  std::vector<std::uint64_t> matrix;
  for (std::size_t p = 0; p < ends; ++p) {
    if (first[p] == first[p + 1]) continue;
    // The larger side gives the rows and the smaller the packed bits, which
    // keeps the elimination at rows * columns^2 / 64 word operations.
    const bool inside_rows = inside_count[p] >= outside_count[p];
    const std::size_t rows = inside_rows ? inside_count[p] : outside_count[p];
    const std::size_t columns = inside_rows ? outside_count[p] : inside_count[p];
    const std::size_t words = (columns + 63) / 64;
    matrix.assign(rows * words, 0);
    for (std::size_t k = first[p]; k < first[p + 1]; ++k) {
      const auto& [inside, outside] = cut.edges[order[k]];
      const std::size_t row = local[inside_rows ? inside : outside];
      const std::size_t column = local[inside_rows ? outside : inside];
      matrix[row * words + column / 64] |= std::uint64_t{1} << (column % 64);
    }
    entropy += gf2_rank(matrix, rows, words, columns);
  }
  return entropy;
}

}  // namespace ordavine
