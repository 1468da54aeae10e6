// Whole-register views for other tools: every VOP, every edge, and the
// stabilizer generators of the represented state.  All of them only read
// the register.
//
// The stabilizer of qubit a: the bare graph state |G> is stabilized by
// K_a = X_a * prod over neighbours b of Z_b.  The register holds U|G> with
// U the product of the VOPs, which is stabilized by U K_a U^dagger; since
// each factor sits on its own qubit, that is every factor carried through its
// own qubit's VOP, the signs multiplied.  So the generator of a has exactly
// the support {a} and a's neighbours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "register/pauli_product.hpp"
#include "register/register.hpp"

namespace ordavine {

// Writes every qubit's VOP, qubit 0 first; `out` holds exactly size() bytes.
void write_vops(const Register& reg, std::span<std::uint8_t> out);

// The number of edges: every edge is listed once at each end.
std::size_t edge_count(const Register& reg);

// Whether some qubit index does not fit 32 bits, so that edges need 64-bit
// entries: registers of more than 2^32 qubits.
constexpr bool edges_need_64_bits(std::size_t qubits) {
  return static_cast<std::uint64_t>(qubits) > (std::uint64_t{1} << 32);
}

// Writes every edge once as a pair (a, b) with a < b: by a ascending, and
// for one a in the order of a's neighbour list.  `out` holds exactly
// 2 * edge_count(reg) entries, each below 2^32 for 32-bit entries.
template <class Index>
void write_edges(const Register& reg, std::span<Index> out);

extern template void write_edges<std::uint32_t>(const Register&, std::span<std::uint32_t>);
extern template void write_edges<std::uint64_t>(const Register&, std::span<std::uint64_t>);

// A generator as a sign and its non-identity factors: the generating qubit
// first, then its neighbours in list order.
struct SparseStabilizer {
  bool negative = false;
  std::vector<PauliFactor> factors;
};

// The generator of a checked qubit.
SparseStabilizer stabilizer_of(const Register& reg, Qubit a);

// The dense text form of every generator is quadratic in the register size,
// so it is given only for registers up to this size (64 MiB of text).
inline constexpr std::size_t kMaxStabilizerTableQubits = 8192;

// InvalidInput naming the limit when the register is larger than it.
void check_stabilizer_table_size(const Register& reg);

// Writes the generator of a checked qubit as text: a sign ('+' or '-'), then
// one of '_', 'X', 'Y', 'Z' for every qubit, qubit 0 first.  `out` holds
// exactly size() + 1 characters.
void write_stabilizer_text(const Register& reg, Qubit a, std::span<char> out);

}  // namespace ordavine
