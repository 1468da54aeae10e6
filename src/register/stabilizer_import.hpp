// A register in the state fixed by n stabilizer generators: the conversion
// of a stabilizer state to a graph state with local Cliffords.
//
// The generators are rows of a binary matrix [X | Z] with a sign each.
// Row operations (multiplying one generator into another, the phase kept)
// change the generators but not the group, and a local Clifford V applied
// to every row turns the group into that of V|psi>.  The conversion:
//
//  1. Gauss-Jordan elimination on the X block.  Its pivot columns P hold an
//     identity; the rows left without a pivot have no X part at all.
//  2. Those rows are Z strings.  They commute with the pivot rows, which
//     makes their Z part on the non-pivot columns invertible, so H on every
//     non-pivot qubit (X and Z swapped there) makes the whole X block
//     invertible; elimination on the remaining columns then gives [I | A].
//  3. Commuting rows X_c Z^(A_c) make A symmetric.  A one on the diagonal
//     is a Y on the row's own qubit, which S-dagger turns into X.  A minus
//     sign on row c is removed by Z on qubit c, which flips that row only.
//  4. The rows are now X_c Z_(N(c)) for the graph with adjacency A: the
//     generators of the graph state |G>.  With V the gates applied on the
//     way (H, then S-dagger, then Z on each qubit), |psi> = V^dagger |G>,
//     so qubit q's VOP is the adjoint of its V.
//
// Elimination costs O(n^3 / 64) word operations.
#pragma once

#include <span>
#include <string_view>

#include "register/register.hpp"

namespace ordavine {

// The register in the state stabilized by `generators`, each in Stim's text
// form: an optional sign `+` or `-`, then one of `_`, `I`, `X`, `Y`, `Z` per
// qubit, qubit 0 first; as many letters in each as there are generators.
// Each list lists its neighbours in ascending order.
//
// The text comes from outside: a malformed generator, an imaginary sign,
// generators that are not independent (one a product of earlier ones, up to
// sign) or that do not commute are refused with InvalidInput naming the
// generators involved.
Register register_from_stabilizers(std::span<const std::string_view> generators);

}  // namespace ordavine
