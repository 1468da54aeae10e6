// The GF(2) rank of a sparse bipartite adjacency: the cut between a set of
// qubits and the rest, as entanglement_entropy finds it.  Two stages, both
// exact:
//   - leaves first: an end with a single edge is a pivot by itself.  Its
//     row (or column) has one 1, so clearing that 1's column (or row) from
//     the rest adds 1 to the rank and takes both ends and all their edges
//     out.  Repeated until no end has a single edge, this costs time linear
//     in the edges and leaves nothing of a forest, a chain, a grid's cut or
//     the typical sparse random graph;
//   - what remains (every end with two edges or more) is split into its
//     connected pieces, and each piece is eliminated on its own, bit-packed:
//     the rows of its larger side, one at a time, reduced by a basis over
//     the columns of its smaller side.  For r rows and c columns that is at
//     most r c^2 / 64 word operations in c^2 / 8 bytes.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "register/work_meter.hpp"

namespace ordavine {

// Edges as pairs of ends (e, f) with end_on_first_side[e] true and
// end_on_first_side[f] false, no pair twice.  Work is counted in `meter`
// as adjacency entries read and row words written.
std::size_t cut_rank(const std::vector<bool>& end_on_first_side,
                     std::span<const std::pair<std::size_t, std::size_t>> edges, WorkMeter& meter);

}  // namespace ordavine
