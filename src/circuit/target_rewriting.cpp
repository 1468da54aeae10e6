#include "circuit/target_rewriting.hpp"

#include <string>

#include "register/pauli_product.hpp"

namespace ordavine::circuit::reading {

void drop_classical_pairs(std::span<const Target> raw, std::vector<Target>& out) {
  for (std::size_t i = 0; i < raw.size(); i += 2) {
    const Target a = raw[i], b = raw[i + 1];
    if (is_sweep(a) || is_sweep(b) || (is_record(a) && is_record(b))) continue;
    out.push_back(a);
    out.push_back(b);
  }
}

void compile_unsigned_paulis(std::span<const Target> raw, std::vector<Target>& out) {
  std::vector<PauliFactor> written, reduced;
  for (const Target t : raw) {
    if (is_record(t)) {
      out.push_back(t);
    } else if (is_pauli(t)) {
      written.push_back({value_of(t), pauli_of(t)});
    }
  }
  bool negative = false;
  reduce_product(written, negative, reduced);
  for (const PauliFactor& f : reduced) out.push_back(pauli_target(f.qubit, f.axis));
}

std::size_t compile_products(const Line& line, std::span<const Target> raw, std::vector<Target>& out) {
  std::vector<PauliFactor> written, reduced;
  std::size_t products = 0;
  const auto misplaced = [&](std::size_t at) {
    read_error(line.target_at(at), "'*' must stand between two Pauli targets");
  };
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t first = i;
    written.clear();
    bool negative = false;
    while (true) {
      if (raw[i] == kCombinerMark) misplaced(i);
      written.push_back({value_of(raw[i]), pauli_of(raw[i])});
      negative ^= is_inverted(raw[i]);
      ++i;
      if (i == raw.size() || raw[i] != kCombinerMark) break;
      if (++i == raw.size()) misplaced(i - 1);
    }
    if (!reduce_product(written, negative, reduced)) {
      read_error(line.target_at(first),
                 "this product in " + std::string(line.name()) +
                     " is anti-Hermitian (as X0*Z0 = -iY0 is): it has no eigenvalues +1 and -1");
    }
    out.push_back(reduced.size() | (negative ? kInvertedFlag : 0));
    for (const PauliFactor& f : reduced) out.push_back(pauli_target(f.qubit, f.axis));
    ++products;
  }
  return products;
}

std::size_t compile_pair_products(std::span<const Target> raw, Axis axis, std::vector<Target>& out) {
  for (std::size_t i = 0; i < raw.size(); i += 2) {
    const bool negative = is_inverted(raw[i]) != is_inverted(raw[i + 1]);
    out.push_back(2 | (negative ? kInvertedFlag : 0));
    out.push_back(pauli_target(value_of(raw[i]), axis));
    out.push_back(pauli_target(value_of(raw[i + 1]), axis));
  }
  return raw.size() / 2;
}

}  // namespace ordavine::circuit::reading
