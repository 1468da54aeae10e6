#include "register/local_complement.hpp"

#include <algorithm>

namespace ordavine {
namespace {

// The first entry of v's list that differs from `avoid`.  The partner must
// never be `avoid`, the other operand of the gate being prepared.
Qubit choose_partner(const Register& reg, Qubit v, Qubit avoid) {
  const auto& list = reg[v].neighbors;
  const auto it = std::find_if(list.begin(), list.end(), [avoid](Qubit q) { return q != avoid; });
  return it == list.end() ? avoid : *it;
}

constexpr void multiply_on_right(Node& node, Vop factor) noexcept {
  node.vop = MULT_TABLE[node.vop][factor];
}

}  // namespace

void local_complement(Register& reg, Qubit w) {
  reg.check(w);
  // Toggling edges among w's neighbours never touches w's own list, so this
  // reference stays valid and unchanged for the whole complementation.
  const std::vector<Qubit>& around = reg[w].neighbors;
  for (Qubit q : around) reg.check(q);  // before anything changes
  const std::size_t degree = around.size();
  for (std::size_t i = 0; i < degree; ++i) {
    for (std::size_t j = i + 1; j < degree; ++j) {
      toggle_edge(reg, around[i], around[j]);
    }
    multiply_on_right(reg[around[i]], vop::s);
  }
  multiply_on_right(reg[w], vop::sqrt_ix);
}

void remove_vop(Register& reg, Qubit v, Qubit avoid) {
  reg.check(v);
  const Qubit partner = choose_partner(reg, v, avoid);
  // The word is taken from the VOP v has now; the complementations below
  // change that VOP letter by letter towards the identity.
  const DecompWord word = DECOMP_TABLE[reg[v].vop];
  for (std::size_t i = 0; i < word.length; ++i) {
    local_complement(reg, word.letters[i] == 0 ? v : partner);
  }
}

}  // namespace ordavine
