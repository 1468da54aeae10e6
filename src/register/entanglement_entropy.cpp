#include "register/entanglement_entropy.hpp"

#include <algorithm>

#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

struct CutMark {
  bool in_set = false;
  bool reached = false;
  std::size_t column = 0;  // bit position of a boundary qubit on the packed side
};

// One table per thread, reused across calls like the other qubit marks.
QubitMarks<CutMark>& cut_marks() {
  thread_local QubitMarks<CutMark> marks;
  return marks;
}

bool crosses_cut(const Register& reg, QubitMarks<CutMark>& marks, Qubit q) {
  const bool inside = marks.get(q).in_set;
  for (const Qubit next : reg[q].neighbors) {
    if (marks.get(next).in_set != inside) return true;
  }
  return false;
}

// The rank of the cut block of one component, given its boundary qubits on
// each side.  The larger side gives the rows and the smaller one the packed
// bits, which keeps the elimination at rows * columns^2 / 64 word operations.
std::size_t component_cut_rank(const Register& reg, QubitMarks<CutMark>& marks,
                               const std::vector<Qubit>& inside, const std::vector<Qubit>& outside) {
  const bool inside_is_rows = inside.size() >= outside.size();
  const std::vector<Qubit>& rows = inside_is_rows ? inside : outside;
  const std::vector<Qubit>& columns = inside_is_rows ? outside : inside;
  for (std::size_t i = 0; i < columns.size(); ++i) marks[columns[i]].column = i;
  const std::size_t words = (columns.size() + 63) / 64;
  std::vector<std::uint64_t> matrix(rows.size() * words, 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const bool row_inside = marks.get(rows[r]).in_set;
    std::uint64_t* row = matrix.data() + r * words;
    for (const Qubit next : reg[rows[r]].neighbors) {
      const CutMark mark = marks.get(next);
      if (mark.in_set == row_inside) continue;
      row[mark.column / 64] |= std::uint64_t{1} << (mark.column % 64);
    }
  }
  return gf2_rank(matrix, rows.size(), words, columns.size());
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

  std::size_t entropy = 0;
  std::vector<Qubit> component, inside, outside;
  for (const Qubit start : qubits) {
    if (marks.get(start).reached) continue;
    component.assign(1, start);
    marks[start].reached = true;
    for (std::size_t head = 0; head < component.size(); ++head) {
      for (const Qubit next : reg[component[head]].neighbors) {
        reg.check(next);  // before its mark is touched
        CutMark& mark = marks[next];
        if (!mark.reached) {
          mark.reached = true;
          component.push_back(next);
        }
      }
    }
    inside.clear();
    outside.clear();
    for (const Qubit q : component) {
      if (crosses_cut(reg, marks, q)) (marks.get(q).in_set ? inside : outside).push_back(q);
    }
    if (!inside.empty()) entropy += component_cut_rank(reg, marks, inside, outside);
  }
  return entropy;
}

}  // namespace ordavine
