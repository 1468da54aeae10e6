#include "register/reduced_state.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

struct SetMark {
  std::uint32_t position_plus_one = 0;  // in the set, at this position + 1
  std::uint32_t end_plus_one = 0;       // an end of a cut edge, numbered + 1
};

// Per-thread working storage, kept between calls so that a query on a few
// qubits allocates nothing once the thread has made one like it.
struct Scratch {
  std::vector<Qubit> end_qubit;                            // qubit of each cut end
  std::vector<std::uint8_t> end_inside;                    // whether that end is in the set
  std::vector<std::pair<std::size_t, std::size_t>> edges;  // (inside end, outside end)
  std::vector<Qubit> alone;                                // set qubits without a cut edge
  std::vector<std::size_t> parent, local, inside_count, outside_count;
  std::vector<std::size_t> piece_first, piece_next, piece_ends;  // inside ends bucketed by piece
  std::vector<std::size_t> edge_first, edge_next, piece_edges;   // edges bucketed by piece
  std::vector<std::uint64_t> matrix;
  std::vector<Qubit> kernel_members;  // the sets T, one after another
  std::vector<std::size_t> kernel_starts;
  std::vector<PauliFactor> written, reduced;
  QubitMarks<SetMark> marks;
};

// Not inlined: the thread's storage is then found once per call.  Inlined,
// the compiler may fold it into the callers as a constant, and every use
// of a member becomes a lookup of the thread's storage.
[[gnu::noinline]] Scratch& scratch() {
  thread_local Scratch storage;
  return storage;
}

// Where a qubit stands: its position in the set and its number as a cut
// end.  A large set marks every qubit it meets; a small one searches its
// few entries, so that a query on a pair reads no per-qubit table (each
// read of one is a cache miss in a large register).
class MarkedLookup {
 public:
  MarkedLookup(QubitMarks<SetMark>& marks, std::size_t size) : marks_(marks) { marks_.begin(size); }
  std::uint32_t position_plus_one(Qubit q) const { return marks_.get(q).position_plus_one; }
  void set_position(Qubit q, std::uint32_t plus_one) { marks_[q].position_plus_one = plus_one; }
  std::uint32_t end_plus_one(Qubit q) const { return marks_.get(q).end_plus_one; }
  void set_end(Qubit q, std::uint32_t plus_one) { marks_[q].end_plus_one = plus_one; }

 private:
  QubitMarks<SetMark>& marks_;
};

class SearchedLookup {
 public:
  SearchedLookup(std::span<const Qubit> qubits, const std::vector<Qubit>& end_qubit)
      : qubits_(qubits), end_qubit_(end_qubit) {}
  std::uint32_t position_plus_one(Qubit q) const {
    for (std::size_t i = 0; i < set_so_far_; ++i) {
      if (qubits_[i] == q) return static_cast<std::uint32_t>(i + 1);
    }
    return 0;
  }
  void set_position(Qubit, std::uint32_t plus_one) { set_so_far_ = plus_one; }
  std::uint32_t end_plus_one(Qubit q) const {
    for (std::size_t e = 0; e < end_qubit_.size(); ++e) {
      if (end_qubit_[e] == q) return static_cast<std::uint32_t>(e + 1);
    }
    return 0;
  }
  void set_end(Qubit, std::uint32_t) {}

 private:
  std::span<const Qubit> qubits_;
  const std::vector<Qubit>& end_qubit_;
  std::size_t set_so_far_ = 0;  // positions are set in order
};

// Sets of at most this many qubits, with at most kSmallDegrees list
// entries between them, are searched instead of marked.
constexpr std::size_t kSmallSet = 8;
constexpr std::size_t kSmallDegrees = 64;

std::size_t find(std::vector<std::size_t>& parent, std::size_t v) {
  while (parent[v] != v) v = parent[v] = parent[parent[v]];
  return v;
}

// Ranks one block of the cut: the inside ends `inside_ends` (numbered
// 0 .. rows-1 by s.local) against `outside` outside ends, with the cut edges
// `edge_index(k)`, k < edge_count.  Records the kernel as sets T of the
// set's qubits and returns the rank.
template <class EdgeIndex>
std::size_t rank_block(Scratch& s, std::span<const std::size_t> inside_ends, std::size_t outside,
                       std::size_t edge_count, EdgeIndex&& edge_index) {
  const std::size_t rows = inside_ends.size();
  // Row i: the outside ends joined to inside end i, then bit `outside + i`
  // to record which rows were combined into it.
  const std::size_t words = (outside + rows + 63) / 64;
  s.matrix.assign(rows * words, 0);
  const auto set_bit = [&](std::size_t row, std::size_t column) {
    s.matrix[row * words + column / 64] ^= std::uint64_t{1} << (column % 64);
  };
  for (std::size_t i = 0; i < rows; ++i) set_bit(i, outside + i);
  for (std::size_t k = 0; k < edge_count; ++k) {
    const auto& [inside, outer] = s.edges[edge_index(k)];
    set_bit(s.local[inside], s.local[outer]);
  }
  std::size_t rank = 0;
  for (std::size_t column = 0; column < outside && rank < rows; ++column) {
    const std::size_t word = column / 64;
    const std::uint64_t bit = std::uint64_t{1} << (column % 64);
    std::size_t pivot = rank;
    while (pivot < rows && (s.matrix[pivot * words + word] & bit) == 0) ++pivot;
    if (pivot == rows) continue;
    std::uint64_t* top = s.matrix.data() + rank * words;
    if (pivot != rank) std::swap_ranges(top, top + words, s.matrix.data() + pivot * words);
    for (std::size_t r = rank + 1; r < rows; ++r) {
      std::uint64_t* row = s.matrix.data() + r * words;
      if ((row[word] & bit) == 0) continue;
      for (std::size_t w = word; w < words; ++w) row[w] ^= top[w];
    }
    ++rank;
  }
  // The rows left without a pivot are zero on the outside columns: each
  // records a set T whose generator stays inside the set.
  for (std::size_t r = rank; r < rows; ++r) {
    const std::uint64_t* row = s.matrix.data() + r * words;
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t column = outside + i;
      if ((row[column / 64] >> (column % 64)) & 1) s.kernel_members.push_back(s.end_qubit[inside_ends[i]]);
    }
    s.kernel_starts.push_back(s.kernel_members.size());
  }
  return rank;
}

// Ranks the cut against its outside ends, piece by piece (the adjacency
// block is block-diagonal over them), and returns the total rank.  A cut
// with few inside ends is ranked as one block: its matrix is small
// whatever its pieces, and rank and kernel come out the same.
std::size_t rank_pieces(Scratch& s) {
  constexpr std::size_t kOneBlockEnds = 64;
  const std::size_t ends = s.end_qubit.size();
  s.local.resize(ends);
  s.piece_ends.clear();
  std::size_t outside = 0;
  for (std::size_t e = 0; e < ends; ++e) {
    if (s.end_inside[e]) {
      s.local[e] = s.piece_ends.size();
      s.piece_ends.push_back(e);
    } else {
      s.local[e] = outside++;
    }
  }
  if (s.piece_ends.size() <= kOneBlockEnds) {
    return rank_block(s, s.piece_ends, outside, s.edges.size(), [](std::size_t k) { return k; });
  }

  s.parent.resize(ends);
  std::iota(s.parent.begin(), s.parent.end(), std::size_t{0});
  for (const auto& [inside, outer] : s.edges) {
    const std::size_t a = find(s.parent, inside), b = find(s.parent, outer);
    if (a != b) s.parent[std::max(a, b)] = std::min(a, b);
  }
  // Local numbers of the ends on each side of their piece.
  s.inside_count.assign(ends, 0);
  s.outside_count.assign(ends, 0);
  for (std::size_t e = 0; e < ends; ++e) {
    const std::size_t p = s.parent[e] = find(s.parent, e);
    s.local[e] = s.end_inside[e] ? s.inside_count[p]++ : s.outside_count[p]++;
  }
  // Counting sort on the piece's root: the inside ends, then the edges.
  s.piece_first.assign(ends + 1, 0);
  for (std::size_t e = 0; e < ends; ++e) {
    if (s.end_inside[e]) ++s.piece_first[s.parent[e] + 1];
  }
  std::partial_sum(s.piece_first.begin(), s.piece_first.end(), s.piece_first.begin());
  s.piece_next.assign(s.piece_first.begin(), s.piece_first.end() - 1);
  s.piece_ends.resize(s.piece_first[ends]);
  for (std::size_t e = 0; e < ends; ++e) {
    if (s.end_inside[e]) s.piece_ends[s.piece_next[s.parent[e]]++] = e;
  }
  s.edge_first.assign(ends + 1, 0);
  for (const auto& edge : s.edges) ++s.edge_first[s.parent[edge.first] + 1];
  std::partial_sum(s.edge_first.begin(), s.edge_first.end(), s.edge_first.begin());
  s.edge_next.assign(s.edge_first.begin(), s.edge_first.end() - 1);
  s.piece_edges.resize(s.edges.size());
  for (std::size_t i = 0; i < s.edges.size(); ++i)
    s.piece_edges[s.edge_next[s.parent[s.edges[i].first]]++] = i;

  std::size_t rank_total = 0;
  for (std::size_t p = 0; p < ends; ++p) {
    if (s.inside_count[p] == 0) continue;
    const std::span<const std::size_t> inside_ends(s.piece_ends.data() + s.piece_first[p], s.inside_count[p]);
    const std::size_t first_edge = s.edge_first[p];
    rank_total += rank_block(s, inside_ends, s.outside_count[p], s.edge_first[p + 1] - first_edge,
                             [&](std::size_t k) { return s.piece_edges[first_edge + k]; });
  }
  return rank_total;
}

// Hands the sink the generator K_T for the set T, carried through the
// VOPs, on the set's positions.
template <class Lookup>
bool emit(const Register& reg, std::span<const Qubit> t, const Lookup& lookup, Scratch& s,
          GeneratorSink& sink) {
  s.written.clear();
  bool negative = false;
  const auto carried = [&](Qubit q, Axis axis) {
    const Vop u = reg[q].vop;
    negative ^= conj_sign_negative(u, axis);
    s.written.push_back({q, conj_axis(u, axis)});
  };
  for (const Qubit a : t) {
    carried(a, Axis::x);
    for (const Qubit b : reg[a].neighbors) carried(b, Axis::z);
  }
  if (!reduce_product(s.written, negative, s.reduced))
    fail("a product of graph-state generators is not Hermitian");
  for (PauliFactor& f : s.reduced) {
    const std::uint32_t position = lookup.position_plus_one(f.qubit);
    if (position == 0) fail("a generator of the reduced state acts outside the set");
    f.qubit = position - 1;
  }
  return sink.accept(negative, s.reduced);
}

template <class Lookup>
std::size_t generators_with(const Register& reg, std::span<const Qubit> qubits, Lookup& lookup, Scratch& s,
                            GeneratorSink& sink) {
  for (std::size_t i = 0; i < qubits.size(); ++i) {
    const std::uint32_t seen = lookup.position_plus_one(qubits[i]);
    if (seen != 0) {
      throw InvalidInput("qubit " + std::to_string(qubits[i]) + " is listed twice (at positions " +
                         std::to_string(seen - 1) + " and " + std::to_string(i) + ")");
    }
    lookup.set_position(qubits[i], static_cast<std::uint32_t>(i + 1));
  }
  const auto end_of = [&](Qubit q, bool inside) {
    std::uint32_t plus_one = lookup.end_plus_one(q);
    if (plus_one == 0) {
      s.end_qubit.push_back(q);
      s.end_inside.push_back(inside ? 1 : 0);
      plus_one = static_cast<std::uint32_t>(s.end_qubit.size());
      lookup.set_end(q, plus_one);
    }
    return std::size_t{plus_one - 1};
  };
  for (const Qubit a : qubits) {
    bool cut = false;
    for (const Qubit b : reg[a].neighbors) {
      reg.check(b);
      if (lookup.position_plus_one(b) != 0) continue;
      cut = true;
      const std::size_t inside = end_of(a, true);
      s.edges.emplace_back(inside, end_of(b, false));
    }
    if (!cut) s.alone.push_back(a);
  }
  const std::size_t entropy = s.edges.empty() ? 0 : rank_pieces(s);

  for (const Qubit a : s.alone) {
    if (!emit(reg, std::span<const Qubit>(&a, 1), lookup, s, sink)) return entropy;
  }
  for (std::size_t g = 0; g + 1 < s.kernel_starts.size(); ++g) {
    const std::span<const Qubit> t(s.kernel_members.data() + s.kernel_starts[g],
                                   s.kernel_starts[g + 1] - s.kernel_starts[g]);
    if (!emit(reg, t, lookup, s, sink)) return entropy;
  }
  return entropy;
}

}  // namespace

std::size_t reduced_state_generators(const Register& reg, std::span<const Qubit> qubits,
                                     GeneratorSink& sink) {
  for (const Qubit q : qubits) reg.check(q);
  // Each node is likely a cache miss in a large register: ask for all of
  // them at once, so that the misses overlap instead of queueing.
  for (const Qubit q : qubits) __builtin_prefetch(&reg[q]);
  std::size_t degrees = 0;
  for (const Qubit q : qubits) degrees += reg[q].neighbors.size();
  Scratch& s = scratch();
  s.end_qubit.clear();
  s.end_inside.clear();
  s.edges.clear();
  s.alone.clear();
  s.kernel_members.clear();
  s.kernel_starts.assign(1, 0);
  if (qubits.size() <= kSmallSet && degrees <= kSmallDegrees) {
    SearchedLookup lookup(qubits, s.end_qubit);
    return generators_with(reg, qubits, lookup, s, sink);
  }
  MarkedLookup lookup(s.marks, reg.size());
  return generators_with(reg, qubits, lookup, s, sink);
}

}  // namespace ordavine
