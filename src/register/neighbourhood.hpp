// Whole-neighbourhood rewrites, each computing the net effect of a long run
// of toggle_edge calls with one pass over every list it touches.  Each one
// leaves exactly the lists (order included) that the toggles would.
#pragma once

#include <span>

#include "register/register.hpp"

namespace ordavine {

inline constexpr Qubit kNoQubit = ~Qubit{0};

// Toggles every pair of `members` in the order (0,1), (0,2), ..., (1,2), ...
// and then removes every occurrence of `drop` (kNoQubit for none) from the
// members' lists.  `members` must not alias a list that changes here.
//
// For member u the toggles meet its partners in the order of `members`, one
// toggle each, so its list ends as: its entries that are neither members nor
// `drop`, in their order, then the members it was not joined to, in the
// order of `members`.
void complement_among(Register& reg, std::span<const Qubit> members, Qubit drop = kNoQubit);
// The same with the members read from a neighbour list.
void complement_among(Register& reg, std::span<const NeighbourList::value_type> members,
                      Qubit drop = kNoQubit);

// The net effect of complementing four times about a vertex with neighbour
// list `members`: edges are unchanged, and in each member's list the entries
// of the other members move to the end, in the order of `members`.  Every
// member is checked against the register size before anything changes.
void move_joined_members_to_end(Register& reg, std::span<const Qubit> members);
void move_joined_members_to_end(Register& reg, std::span<const NeighbourList::value_type> members);

// Removes q from the lists of all its neighbours and empties q's list.
void cut_out(Register& reg, Qubit q);

}  // namespace ordavine
