#include "register/local_complement.hpp"

#include <algorithm>

#include "register/neighbourhood.hpp"

namespace ordavine {
namespace {

// The first entry of v's list that differs from `avoid`.  The partner must
// never be `avoid`, the other operand of the gate being prepared.
Qubit choose_partner(const Register& reg, Qubit v, Qubit avoid) {
  const auto& list = reg[v].neighbors;
  const auto it = std::find_if(list.begin(), list.end(), [avoid](Qubit q) { return q != avoid; });
  return it == list.end() ? avoid : *it;
}

constexpr void multiply_on_right(Node& node, Vop factor) noexcept { node.vop = MULT_TABLE[node.vop][factor]; }

// The shortcut in remove_vop relies on these: the identity's word is four
// complementations about the vertex itself, four right factors sqrt(iX)
// return the identity, and four right factors S return any VOP.
constexpr bool identity_word_leaves_vops_alone() {
  const DecompWord& word = DECOMP_TABLE[vop::identity];
  if (word.length != 4) return false;
  for (int i = 0; i < 4; ++i) {
    if (word.letters[i] != 0) return false;
  }
  Vop x = vop::identity;
  for (int i = 0; i < 4; ++i) x = MULT_TABLE[x][vop::sqrt_ix];
  if (x != vop::identity) return false;
  for (int v = 0; v < 24; ++v) {
    Vop y = static_cast<Vop>(v);
    for (int i = 0; i < 4; ++i) y = MULT_TABLE[y][vop::s];
    if (y != v) return false;
  }
  return true;
}
static_assert(identity_word_leaves_vops_alone());

// Two complementations about w in a row.  The first toggles every pair of
// w's neighbours and the second toggles them back, so edges end as they
// began; w's list is never touched, so both run over the same members.  In
// a member's list the first one leaves its other entries in order and then
// the members it was not joined to, and the second one removes those and
// appends the members it was joined to at first: the joined members move
// to the end in the order of w's list, which move_joined_members_to_end
// does in one pass without the m^2 appends.  S twice and sqrt(iX) twice are
// applied as the two complementations would.
void complement_twice(Register& reg, Qubit w) {
  reg.check(w);
  const NeighbourList& around = reg[w].neighbors;
  move_joined_members_to_end(reg, std::span<const NeighbourList::value_type>(around));
  for (Qubit q : around) {
    multiply_on_right(reg[q], vop::s);
    multiply_on_right(reg[q], vop::s);
  }
  multiply_on_right(reg[w], vop::sqrt_ix);
  multiply_on_right(reg[w], vop::sqrt_ix);
}

}  // namespace

void local_complement(Register& reg, Qubit w) {
  reg.check(w);
  // Complementing about w only rewrites the lists of w's neighbours, so w's
  // own list stays fixed while it is read.
  const NeighbourList& around = reg[w].neighbors;
  for (Qubit q : around) reg.check(q);  // before anything changes
  // Toggling every pair of neighbours, pair by pair in list order, is done
  // as one rewrite of each neighbour's list with the same result.
  complement_among(reg, std::span<const NeighbourList::value_type>(around));
  for (Qubit q : around) multiply_on_right(reg[q], vop::s);
  multiply_on_right(reg[w], vop::sqrt_ix);
}

void remove_vop(Register& reg, Qubit v, Qubit avoid) {
  reg.check(v);
  if (reg[v].vop == vop::identity) {
    // The identity's word complements four times about v: every edge and
    // VOP ends as it began (S and sqrt(iX) both have order four), and only
    // list order changes.  Its net effect costs one pass per neighbour.
    move_joined_members_to_end(reg, std::span<const NeighbourList::value_type>(reg[v].neighbors));
    return;
  }
  const Qubit partner = choose_partner(reg, v, avoid);
  // The word is taken from the VOP v has now; the complementations below
  // change that VOP letter by letter towards the identity.
  const DecompWord word = DECOMP_TABLE[reg[v].vop];
  for (std::size_t i = 0; i < word.length;) {
    const Qubit centre = word.letters[i] == 0 ? v : partner;
    if (i + 1 < word.length && word.letters[i + 1] == word.letters[i]) {
      complement_twice(reg, centre);
      i += 2;
    } else {
      local_complement(reg, centre);
      i += 1;
    }
  }
}

}  // namespace ordavine
