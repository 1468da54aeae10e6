#include "register/graph_import.hpp"

#include <type_traits>
#include <unordered_map>
#include <vector>

#include "failure/failure.hpp"

namespace ordavine {
namespace {

constexpr std::size_t kVopCount = 24;

[[noreturn]] void refuse(const std::string& what) { throw InvalidInput("invalid graph: " + what); }

std::string text_of(std::uint64_t value) { return std::to_string(value); }

template <class Index>
std::string text_of_end(Index value) {
  if constexpr (std::is_signed_v<Index>) {
    return std::to_string(static_cast<long long>(value));
  } else {
    return std::to_string(static_cast<unsigned long long>(value));
  }
}

template <class Index>
bool is_qubit(Index value, std::size_t count) {
  if constexpr (std::is_signed_v<Index>) {
    if (value < 0) return false;
  }
  return static_cast<std::uint64_t>(value) < count;
}

void check_vops(std::size_t count, std::span<const std::uint8_t> vops) {
  check_vop_count(count, vops.size());
  for (std::size_t q = 0; q < vops.size(); ++q) {
    if (vops[q] >= kVopCount)
      refuse("VOP " + text_of(vops[q]) + " of qubit " + text_of(q) + " is not below 24");
  }
}

// Refuses the first edge that repeats an earlier one (in either
// orientation), if there is one.  The ends are qubits of the register.
template <class Ends>
void refuse_any_repeat(const Ends& ends) {
  std::unordered_map<std::uint64_t, std::size_t> first_seen;
  for (std::size_t i = 0; 2 * i < ends.size(); ++i) {
    const auto a = static_cast<std::uint64_t>(ends[2 * i]);
    const auto b = static_cast<std::uint64_t>(ends[2 * i + 1]);
    const std::uint64_t key = a < b ? (a << 32 | b) : (b << 32 | a);
    const auto [at, inserted] = first_seen.try_emplace(key, i);
    if (!inserted) {
      const std::size_t j = at->second;
      refuse("edge " + text_of(i) + " is (" + text_of(a) + ", " + text_of(b) + "), which repeats edge " +
             text_of(j) + " (" + text_of_end(ends[2 * j]) + ", " + text_of_end(ends[2 * j + 1]) + ")");
    }
  }
}

// Called once a list is known to hold a qubit twice.
template <class Ends>
[[noreturn]] void refuse_first_repeat(const Ends& ends) {
  refuse_any_repeat(ends);
  fail("a neighbour list holds a qubit twice, but no edge is given twice");
}

// The first edge with an end that is not a qubit, or that is a self loop;
// `edges` when there is none.
template <class Index, class Ends>
std::size_t first_bad_edge(std::size_t count, const Ends& ends) {
  const std::size_t edges = ends.size() / 2;
  for (std::size_t i = 0; i < edges; ++i) {
    const Index a = ends[2 * i], b = ends[2 * i + 1];
    if (!is_qubit(a, count) || !is_qubit(b, count) || a == b) return i;
  }
  return edges;
}

// Whether a layout reads every pair from the same place.
template <class Index>
bool every_pair_alike(std::span<const Index>) {
  return false;
}
template <class Index>
bool every_pair_alike(const StridedEnds<Index>& ends) {
  return ends.every_pair_alike();
}

// Refuses edge 0 if it is bad, or else edge 1 as its repeat: the refusal
// of every layout of two or more identical pairs, decided from the first
// pair whatever number the layout claims.
template <class Index>
[[noreturn]] void refuse_identical_pairs(std::size_t count, Index a, Index b) {
  if (!is_qubit(a, count) || !is_qubit(b, count)) refuse_edge_end(0, text_of_end(a), text_of_end(b), count);
  if (a == b) refuse("edge 0 is (" + text_of_end(a) + ", " + text_of_end(b) + "), a self loop");
  const Index two[] = {a, b, a, b};
  refuse_first_repeat(std::span<const Index>(two));
}

// The refusals that the edges alone decide, made before the register is
// allocated (a few edges may claim a huge one) wherever they are the ones
// the building pass would make.  That pass refuses, in edge order, an end
// that is not a qubit or a self loop, and an edge that would grow a list
// to count - 1 entries or more (a repeat).  At edge i a list holds at most
// i entries, so up to edge count - 1 only the first two can be met.  Other
// repeats are found after the pass: with no bad edge and fewer edges than
// qubits the first repeat is the refusal.  Hashing the edges to find it is
// done only when the register would cost far more.
template <class Index, class Ends>
void check_before_building(std::size_t count, const Ends& ends) {
  const std::size_t edges = ends.size() / 2;
  if (edges >= 2 && every_pair_alike(ends)) refuse_identical_pairs<Index>(count, ends[0], ends[1]);
  const std::size_t bad = first_bad_edge<Index>(count, ends);
  if (bad < edges) {
    if (bad >= count) return;  // the pass decides: a repeat may be refused first
    const Index a = ends[2 * bad], b = ends[2 * bad + 1];
    if (!is_qubit(a, count) || !is_qubit(b, count))
      refuse_edge_end(bad, text_of_end(a), text_of_end(b), count);
    refuse("edge " + text_of(bad) + " is (" + text_of_end(a) + ", " + text_of_end(b) + "), a self loop");
  }
  constexpr std::size_t kNodesPerHashedEdge = 16;
  if (edges != 0 && edges <= count / kNodesPerHashedEdge) refuse_any_repeat(ends);
}

template <class Index, class Ends>
Register build_graph(std::size_t count, const Ends& ends, std::optional<std::span<const std::uint8_t>> vops) {
  if (ends.size() % 2 != 0) fail("an edge buffer with an odd number of ends");
  if (vops) check_vops(count, *vops);
  if (count > kMaxQubits) fail_capacity();  // before the edges, as the register would
  check_before_building<Index>(count, ends);
  Register reg(count);
  for (Qubit q = 0; q < count; ++q) reg[q].vop = vops ? (*vops)[q] : vop::identity;

  // One pass appends every edge to both lists, checking it first.  Lists of
  // up to four entries stay inside their nodes; longer ones grow by
  // doubling.  A refusal drops the half-built register.
  const std::size_t edges = ends.size() / 2;
  for (std::size_t i = 0; i < edges; ++i) {
    const Index a = ends[2 * i], b = ends[2 * i + 1];
    if (!is_qubit(a, count) || !is_qubit(b, count)) {
      refuse_edge_end(i, text_of_end(a), text_of_end(b), count);
    }
    if (a == b)
      refuse("edge " + text_of(i) + " is (" + text_of_end(a) + ", " + text_of_end(b) + "), a self loop");
    NeighbourList& from_a = reg[static_cast<Qubit>(a)].neighbors;
    NeighbourList& from_b = reg[static_cast<Qubit>(b)].neighbors;
    // A list holds every other qubit at most once: a full one that gains
    // an entry repeats an edge (and could otherwise outgrow its 32 bits).
    if (from_a.size() >= count - 1 || from_b.size() >= count - 1) {
      refuse_first_repeat(ends.first(2 * (i + 1)));
    }
    from_a.push_back(static_cast<NeighbourList::value_type>(b));
    from_b.push_back(static_cast<NeighbourList::value_type>(a));
  }

  // Repeats: a stamp per qubit, the list's owner + 1, finds a qubit met
  // twice in one list.  Every repeated edge repeats an entry in both of its
  // lists, so scanning each list once finds them all.
  std::vector<std::uint32_t> stamp(count, 0);
  for (Qubit a = 0; a < count; ++a) {
    const auto owner = static_cast<std::uint32_t>(a + 1);
    for (const Qubit b : reg[a].neighbors) {
      if (stamp[b] == owner) refuse_first_repeat(ends);
      stamp[b] = owner;
    }
  }
  return reg;
}

}  // namespace

void check_vop_count(std::size_t count, std::size_t given) {
  if (given != count) refuse("vops has " + text_of(given) + " bytes for " + text_of(count) + " nodes");
}

void refuse_edge_end(std::size_t edge, const std::string& a, const std::string& b, std::size_t count) {
  refuse(
      "edge " + text_of(edge) + " is (" + a + ", " + b + "), but " +
      (count == 0 ? std::string("there are no qubits") : "qubits are numbered 0 to " + text_of(count - 1)));
}

template <class Index>
Register graph_register(std::size_t count, std::span<const Index> ends,
                        std::optional<std::span<const std::uint8_t>> vops) {
  return build_graph<Index>(count, ends, vops);
}

template <class Index>
Register graph_register(std::size_t count, const StridedEnds<Index>& ends,
                        std::optional<std::span<const std::uint8_t>> vops) {
  return build_graph<Index>(count, ends, vops);
}

#define ORDAVINE_GRAPH_REGISTER(Index)                                                   \
  template Register graph_register<Index>(std::size_t, std::span<const Index>,           \
                                          std::optional<std::span<const std::uint8_t>>); \
  template Register graph_register<Index>(std::size_t, const StridedEnds<Index>&,        \
                                          std::optional<std::span<const std::uint8_t>>);
ORDAVINE_GRAPH_REGISTER(std::int8_t)
ORDAVINE_GRAPH_REGISTER(std::uint8_t)
ORDAVINE_GRAPH_REGISTER(std::int16_t)
ORDAVINE_GRAPH_REGISTER(std::uint16_t)
ORDAVINE_GRAPH_REGISTER(std::int32_t)
ORDAVINE_GRAPH_REGISTER(std::uint32_t)
ORDAVINE_GRAPH_REGISTER(std::int64_t)
ORDAVINE_GRAPH_REGISTER(std::uint64_t)
#undef ORDAVINE_GRAPH_REGISTER

}  // namespace ordavine
