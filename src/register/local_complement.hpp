// VOP reduction.  A local complementation about a vertex changes the graph
// state by local Cliffords only, so with matching corrections folded into the
// VOPs the represented state is unchanged.  A short sequence of them about a
// vertex and one fixed neighbour (its partner) brings the vertex's VOP to the
// identity, which the controlled-Z update needs before its table lookup.
#pragma once

#include "register/register.hpp"

namespace ordavine {

// Complements the graph on w's neighbourhood: every pair of w's neighbours is
// toggled, in list-position order (0,1), (0,2), ..., (m-2,m-1).  Each
// neighbour's VOP is multiplied on the right by S right after the pairs that
// begin with it, and w's VOP on the right by sqrt(iX), so the represented
// state stays the same.
void local_complement(Register& reg, Qubit w);

// Brings v's VOP to 0 without changing the represented state, by the
// complementations that v's reduction word prescribes: about v for letter 0,
// about the partner for letter 1.  The partner is the first entry of v's list
// that differs from `avoid` (`avoid` itself when there is none); callers
// guarantee that v has such a neighbour.
void remove_vop(Register& reg, Qubit v, Qubit avoid);

}  // namespace ordavine
