#include "register/cut_rank.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

namespace ordavine {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Each end's neighbours, packed: those of end v at ends[first[v] .. first[v + 1]).
struct Adjacency {
  std::vector<std::size_t> first;
  std::vector<std::size_t> ends;

  std::span<const std::size_t> of(std::size_t v) const {
    return std::span<const std::size_t>(ends).subspan(first[v], first[v + 1] - first[v]);
  }
};

Adjacency adjacency_of(std::size_t count, std::span<const std::pair<std::size_t, std::size_t>> edges) {
  Adjacency adjacency;
  adjacency.first.assign(count + 1, 0);
  for (const auto& [a, b] : edges) {
    ++adjacency.first[a + 1];
    ++adjacency.first[b + 1];
  }
  for (std::size_t v = 0; v < count; ++v) adjacency.first[v + 1] += adjacency.first[v];
  adjacency.ends.resize(2 * edges.size());
  std::vector<std::size_t> next(adjacency.first.begin(), adjacency.first.end() - 1);
  for (const auto& [a, b] : edges) {
    adjacency.ends[next[a]++] = b;
    adjacency.ends[next[b]++] = a;
  }
  return adjacency;
}

class CutRank {
 public:
  CutRank(const std::vector<bool>& side, std::span<const std::pair<std::size_t, std::size_t>> edges,
          WorkMeter& meter)
      : side_(side), adjacency_(adjacency_of(side.size(), edges)), meter_(meter) {
    const std::size_t count = side.size();
    alive_.assign(count, true);
    degree_.resize(count);
    for (std::size_t v = 0; v < count; ++v) degree_[v] = adjacency_.of(v).size();
  }

  std::size_t rank() {
    std::size_t rank = remove_leaves();
    std::vector<bool> seen(side_.size(), false);
    for (std::size_t v = 0; v < side_.size(); ++v) {
      if (alive_[v] && degree_[v] != 0 && !seen[v]) rank += piece_rank(v, seen);
    }
    return rank;
  }

 private:
  // Takes end u and its edges out, noting the ends this leaves with one edge.
  void remove(std::size_t u) {
    alive_[u] = false;
    const auto around = adjacency_.of(u);
    meter_.count(around.size());
    for (const std::size_t w : around) {
      if (alive_[w] && --degree_[w] == 1) leaves_.push_back(w);
    }
  }

  // The leaves stage: each end with a single edge, with its one neighbour.
  std::size_t remove_leaves() {
    std::size_t rank = 0;
    for (std::size_t v = 0; v < side_.size(); ++v) {
      if (degree_[v] == 1) leaves_.push_back(v);
    }
    while (!leaves_.empty()) {
      const std::size_t v = leaves_.back();
      leaves_.pop_back();
      if (!alive_[v] || degree_[v] != 1) continue;  // its neighbour went first
      const auto around = adjacency_.of(v);
      meter_.count(around.size());
      const auto u = std::find_if(around.begin(), around.end(), [&](std::size_t w) { return alive_[w]; });
      alive_[v] = false;
      remove(*u);
      ++rank;
    }
    return rank;
  }

  // The rank of the piece of what remains that holds `start`.
  std::size_t piece_rank(std::size_t start, std::vector<bool>& seen) {
    std::vector<std::size_t> piece{start};
    seen[start] = true;
    for (std::size_t k = 0; k < piece.size(); ++k) {
      const auto around = adjacency_.of(piece[k]);
      meter_.count(around.size());
      for (const std::size_t w : around) {
        if (alive_[w] && !seen[w]) {
          seen[w] = true;
          piece.push_back(w);
        }
      }
    }
    const auto first_side = static_cast<std::size_t>(
        std::count_if(piece.begin(), piece.end(), [&](std::size_t v) { return side_[v]; }));
    // The larger side gives the rows, the smaller the columns of the basis.
    const bool rows_side = first_side >= piece.size() - first_side;
    std::vector<std::size_t> rows;
    std::size_t columns = 0;
    if (column_.size() < side_.size()) column_.resize(side_.size());
    for (const std::size_t v : piece) {
      if (side_[v] == rows_side) {
        rows.push_back(v);
      } else {
        column_[v] = columns++;
      }
    }
    return eliminate(rows, columns);
  }

  // Each row reduced by the basis: a basis row's lowest 1 is its pivot
  // column, below which it is zero, so a reduction step works from the
  // word of that column on.  A row that reduces to zero is dropped.
  std::size_t eliminate(std::span<const std::size_t> rows, std::size_t columns) {
    const std::size_t words = (columns + 63) / 64;
    Basis basis{words, {}, std::vector<std::size_t>(columns, kNone), 0};
    std::vector<std::uint64_t> x(words);
    for (const std::size_t v : rows) {
      if (basis.rank == columns) break;  // the basis spans every column
      std::fill(x.begin(), x.end(), std::uint64_t{0});
      const auto around = adjacency_.of(v);
      meter_.count(words + around.size());
      for (const std::size_t w : around) {
        if (alive_[w]) x[column_[w] / 64] ^= std::uint64_t{1} << (column_[w] % 64);
      }
      reduce(basis, x);
    }
    return basis.rank;
  }

  struct Basis {
    std::size_t words;
    std::vector<std::uint64_t> rows;     // `words` words each
    std::vector<std::size_t> pivot_row;  // per column: the basis row whose pivot it is
    std::size_t rank;
  };

  // Reduces x by the basis; what is left, unless zero, joins it.
  void reduce(Basis& basis, std::vector<std::uint64_t>& x) {
    const std::size_t words = basis.words;
    for (std::size_t word = 0; word < words; ++word) {
      while (x[word] != 0) {
        const std::size_t column = 64 * word + static_cast<std::size_t>(std::countr_zero(x[word]));
        const std::size_t b = basis.pivot_row[column];
        if (b == kNone) {
          basis.pivot_row[column] = basis.rank++;
          basis.rows.insert(basis.rows.end(), x.begin(), x.end());
          return;
        }
        const std::uint64_t* by = basis.rows.data() + b * words;
        for (std::size_t k = word; k < words; ++k) x[k] ^= by[k];
        meter_.count(words - word);
      }
    }
  }

  const std::vector<bool>& side_;
  Adjacency adjacency_;
  WorkMeter& meter_;
  std::vector<bool> alive_;
  std::vector<std::size_t> degree_;
  std::vector<std::size_t> leaves_;
  std::vector<std::size_t> column_;  // per end of a piece's column side: its column
};

}  // namespace

std::size_t cut_rank(const std::vector<bool>& end_on_first_side,
                     std::span<const std::pair<std::size_t, std::size_t>> edges, WorkMeter& meter) {
  return CutRank(end_on_first_side, edges, meter).rank();
}

}  // namespace ordavine
