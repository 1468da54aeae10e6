#include "register/export.hpp"

#include <algorithm>
#include <string>

namespace ordavine {
namespace {

// Where a VOP carries one axis: the image axis and whether it is negated.
PauliFactor carried(const Register& reg, Qubit q, Axis axis, bool& negative) {
  const Vop u = reg[q].vop;
  negative ^= conj_sign_negative(u, axis);
  return {q, conj_axis(u, axis)};
}

constexpr char kPauliLetters[] = {'X', 'Y', 'Z'};

}  // namespace

void write_vops(const Register& reg, std::span<std::uint8_t> out) {
  if (out.size() != reg.size()) fail("VOP buffer does not match the register size");
  for (Qubit q = 0; q < reg.size(); ++q) out[q] = reg[q].vop;
}

std::size_t edge_count(const Register& reg) {
  std::size_t ends = 0;
  for (const Node& node : reg.nodes()) ends += node.neighbors.size();
  return ends / 2;
}

template <class Index>
void write_edges(const Register& reg, std::span<Index> out) {
  std::size_t next = 0;
  for (Qubit a = 0; a < reg.size(); ++a) {
    for (const Qubit b : reg[a].neighbors) {
      if (b <= a) continue;
      // An edge seen only from its lower end would overrun the count taken
      // from both ends: a broken register, never written past the buffer.
      if (next + 2 > out.size()) fail("edge lists are not symmetric");
      out[next++] = static_cast<Index>(a);
      out[next++] = static_cast<Index>(b);
    }
  }
  if (next != out.size()) fail("edge lists are not symmetric");
}

template void write_edges<std::uint32_t>(const Register&, std::span<std::uint32_t>);
template void write_edges<std::uint64_t>(const Register&, std::span<std::uint64_t>);

SparseStabilizer stabilizer_of(const Register& reg, Qubit a) {
  SparseStabilizer generator;
  const auto& neighbors = reg.at(a).neighbors;
  generator.factors.reserve(neighbors.size() + 1);
  generator.factors.push_back(carried(reg, a, Axis::x, generator.negative));
  for (const Qubit b : neighbors) {
    reg.check(b);
    generator.factors.push_back(carried(reg, b, Axis::z, generator.negative));
  }
  return generator;
}

void check_stabilizer_table_size(const Register& reg) {
  if (reg.size() > kMaxStabilizerTableQubits) {
    throw InvalidInput("stabilizers() is limited to registers of at most " +
                       std::to_string(kMaxStabilizerTableQubits) + " qubits, this one has " +
                       std::to_string(reg.size()) + "; use stabilizer(qubit) one qubit at a time");
  }
}

void write_stabilizer_text(const Register& reg, Qubit a, std::span<char> out) {
  if (out.size() != reg.size() + 1) fail("stabilizer text buffer does not match the register size");
  const auto& neighbors = reg.at(a).neighbors;
  std::fill(out.begin(), out.end(), '_');
  bool negative = false;
  const auto put = [&](Qubit q, Axis axis) {
    const PauliFactor factor = carried(reg, q, axis, negative);
    out[q + 1] = kPauliLetters[static_cast<unsigned>(factor.axis)];
  };
  put(a, Axis::x);
  for (const Qubit b : neighbors) {
    reg.check(b);
    put(b, Axis::z);
  }
  out[0] = negative ? '-' : '+';
}

}  // namespace ordavine
