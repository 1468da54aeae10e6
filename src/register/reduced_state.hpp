// The reduced state of a set of qubits, read from the graph around them.
//
// A stabilizer state's reduced state on a set A of k qubits is
// rho_A = 2^-E * (projector onto the code space of S_A), where S_A is the
// subgroup of the stabilizer group acting on A alone and E = k - dim S_A is
// the entanglement entropy of A.  On a graph state every element of the
// group is K_T = prod over t in T of K_t, for a set T of qubits, acting on
// T and on the qubits with an odd number of neighbours in T.  K_T stays in
// A exactly when T is in A and every qubit outside A has an even number of
// neighbours in T: T is in the kernel of the adjacency block from A to its
// outside neighbours B.  So
//
//  - a qubit of A without neighbours outside A gives its own generator;
//  - the others, the ends of the cut edges, are ranked against B piece by
//    piece (a piece: the qubits joined by cut edges), and each kernel
//    vector T gives the generator K_T; E is the sum of the ranks.
//
// The VOPs are local, so each K_T is carried through them factor by factor.
// Only the lists of A's qubits are read: the cost is in the degrees of the
// set's qubits (and the square of the cut ends of a piece), never in the
// register size.
#pragma once

#include <cstddef>
#include <span>

#include "register/pauli_product.hpp"
#include "register/register.hpp"

namespace ordavine {

// Receives the generators of S_A one at a time: a sign and one factor per
// qubit, each qubit named by its position in the set (0 .. k-1).  Returns
// false to stop early.
class GeneratorSink {
 public:
  virtual bool accept(bool negative, std::span<const PauliFactor> factors) = 0;

 protected:
  ~GeneratorSink() = default;
};

// Hands `sink` k - E independent, commuting generators of S_A for the set
// `qubits` (distinct, in the order given), and returns E.  An index at or
// above the size is the index failure; a qubit listed twice is refused with
// InvalidInput; both before anything else is read.
std::size_t reduced_state_generators(const Register& reg, std::span<const Qubit> qubits, GeneratorSink& sink);

}  // namespace ordavine
