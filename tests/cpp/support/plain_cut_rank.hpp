// The cut's rank written plainly: one dense bit matrix of every set member
// with a cut edge against every other qubit with one, eliminated column by
// column.  The core's leaf removal and per-piece basis must give the same
// rank; tests run both side by side.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "register/register.hpp"

namespace ordavine::plain {

// The GF(2) rank of a bit matrix of `rows` rows, each `words` 64-bit words
// long, of which the first `columns` bits are used.  Eliminates in place.
inline std::size_t gf2_rank(std::vector<std::uint64_t>& matrix, std::size_t rows, std::size_t words,
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
    for (std::size_t r = rank + 1; r < rows; ++r) {
      std::uint64_t* row = matrix.data() + r * words;
      if ((row[word] & bit) == 0) continue;
      for (std::size_t w = word; w < words; ++w) row[w] ^= top[w];
    }
    ++rank;
  }
  return rank;
}

// The rank of the adjacency between `qubits` and the other qubits.
inline std::size_t entanglement_entropy(const Register& reg, std::span<const Qubit> qubits) {
  std::vector<bool> in_set(reg.size(), false);
  for (const Qubit q : qubits) {
    reg.check(q);
    in_set[q] = true;
  }
  std::map<Qubit, std::size_t> row_of, column_of;
  std::vector<std::pair<std::size_t, std::size_t>> ones;
  for (const Qubit a : qubits) {
    for (const Qubit b : reg[a].neighbors) {
      if (in_set[b]) continue;
      const std::size_t row = row_of.emplace(a, row_of.size()).first->second;
      ones.emplace_back(row, column_of.emplace(b, column_of.size()).first->second);
    }
  }
  const std::size_t words = (column_of.size() + 63) / 64;
  std::vector<std::uint64_t> matrix(row_of.size() * words, 0);
  for (const auto& [row, column] : ones)
    matrix[row * words + column / 64] |= std::uint64_t{1} << (column % 64);
  return gf2_rank(matrix, row_of.size(), words, column_of.size());
}

}  // namespace ordavine::plain
