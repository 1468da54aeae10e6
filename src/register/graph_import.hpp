// A register built straight from a graph: the graph state of the edges,
// with given VOPs, without running a gate.
//
// The edges and VOPs come from outside and are checked in O(n + m): a VOP
// of 24 or more, a qubit index that is negative or not below the node
// count, a self loop, or an edge given twice (in either orientation) is
// refused with InvalidInput naming it, and nothing is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "register/register.hpp"
#include "register/strided_ends.hpp"

namespace ordavine {

// `count` qubits joined by the edges (ends[2i], ends[2i + 1]), each list in
// the order the edges are given (edge (a, b) appends b to a's list and a to
// b's, as cz would on an empty graph).  Qubit q's VOP is vops[q], or 0 (the
// plain graph state) when no VOPs are given; `vops` must then hold exactly
// `count` bytes.  `ends` holds an even number of entries.  A count above
// kMaxQubits fails with "capacity overflow", as the constructor does.
template <class Index>
Register graph_register(std::size_t count, std::span<const Index> ends,
                        std::optional<std::span<const std::uint8_t>> vops);

// The same with the ends read in place through strides.  A layout that
// reads every pair from one place (a zero stride between pairs) repeats
// edge 0 at edge 1, and is refused there whatever number of edges it
// claims.
template <class Index>
Register graph_register(std::size_t count, const StridedEnds<Index>& ends,
                        std::optional<std::span<const std::uint8_t>> vops);

#define ORDAVINE_DECLARE_GRAPH_REGISTER(Index)                                                  \
  extern template Register graph_register<Index>(std::size_t, std::span<const Index>,           \
                                                 std::optional<std::span<const std::uint8_t>>); \
  extern template Register graph_register<Index>(std::size_t, const StridedEnds<Index>&,        \
                                                 std::optional<std::span<const std::uint8_t>>);
ORDAVINE_DECLARE_GRAPH_REGISTER(std::int8_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::uint8_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::int16_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::uint16_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::int32_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::uint32_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::int64_t)
ORDAVINE_DECLARE_GRAPH_REGISTER(std::uint64_t)
#undef ORDAVINE_DECLARE_GRAPH_REGISTER

// Refuses `given` VOP bytes for `count` nodes unless there is one per node,
// as graph_register does, so that a caller can check the count before it
// reads the bytes.
void check_vop_count(std::size_t count, std::size_t given);

// The refusal of edge number `edge`, (a, b) written as text, for an end
// that is not a qubit of `count` (negative, or not below the count); the
// text form serves values that no machine integer holds.
[[noreturn]] void refuse_edge_end(std::size_t edge, const std::string& a, const std::string& b,
                                  std::size_t count);

}  // namespace ordavine
