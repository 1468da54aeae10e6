// The two-qubit Paulis of the noise channels, numbered as the format
// orders PAULI_CHANNEL_2's arguments: 1..15 for IX, IY, IZ, XI, ..., ZZ,
// two base-4 digits with the first qubit's first, each 0 = I, 1 = X,
// 2 = Y, 3 = Z (the one-qubit Pauli codes, which are also the Pauli VOPs).
#pragma once

namespace ordavine {

struct PairCode {
  unsigned first;   // the Pauli on the first qubit of the pair
  unsigned second;  // on the second
};

constexpr PairCode pair_code(unsigned code) { return {code / 4, code % 4}; }

static_assert(pair_code(1).first == 0 && pair_code(1).second == 1, "1 is IX");
static_assert(pair_code(4).first == 1 && pair_code(4).second == 0, "4 is XI");
static_assert(pair_code(15).first == 3 && pair_code(15).second == 3, "15 is ZZ");

}  // namespace ordavine
