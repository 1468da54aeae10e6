// Coverage-guided fuzzing of the instrument's untrusted inputs: Pauli
// product text, stabilizer generators as text, and graphs (edges and VOPs),
// with the reduced-state fidelity on the registers they build.
//
// The first byte picks the surface, the rest is its input:
//   0  Pauli product text against a register of (byte 1 % 16) qubits:
//      refused with a "Pauli product " message, or one factor per distinct
//      qubit below the size; on a small register the expectation of the
//      product must match the dense oracle, and the canonical text must
//      read back to the same product;
//   1  stabilizer generators, one per line: refused with an "invalid
//      stabilizers: " message, or a register with the graph invariants on
//      which every generator has expectation +1 (and, up to 6 qubits, fixes
//      the dense state);
//   2  a graph: byte 1 the node count, then signed bytes in pairs as edges,
//      up to a 0x7f byte, then VOP bytes: refused with an "invalid graph: "
//      message, or a register whose lists are the edges in order and whose
//      VOPs are the bytes; up to 7 qubits, the reduced fidelity of a set
//      read from the bytes against a second register built the same way
//      must match the dense oracle.
// Anything else (a Failure, another exception, a sanitizer report) aborts.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure/failure.hpp"
#include "measure/fidelity.hpp"
#include "measure/product_measurement.hpp"
#include "register/graph_import.hpp"
#include "register/pauli_text.hpp"
#include "register/stabilizer_import.hpp"
#include "support/dense_state.hpp"

namespace {

using namespace ordavine;

[[noreturn]] void check_failed(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

void expect_refusal(const InvalidInput& refused, std::string_view prefix) {
  if (std::string_view(refused.what()).rfind(prefix, 0) != 0) check_failed("a refusal without its prefix");
}

void check_invariants(const Register& reg) {
  for (Qubit a = 0; a < reg.size(); ++a) {
    if (reg[a].vop >= 24) check_failed("VOP out of range");
    const auto& list = reg[a].neighbors;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Qubit b = list[i];
      if (b >= reg.size() || b == a) check_failed("neighbour out of range or self loop");
      if (std::find(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(i), list[i]) !=
          list.begin() + static_cast<std::ptrdiff_t>(i)) {
        check_failed("repeated neighbour");
      }
      if (!has_edge(reg, b, a)) check_failed("one-sided edge");
    }
  }
}

// A register on `n` qubits from the fuzz bytes: each byte a VOP or an edge.
Register register_from(std::size_t n, std::span<const std::uint8_t> bytes) {
  Register reg(n);
  if (n == 0) return reg;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const Qubit a = bytes[i] % n, b = bytes[i + 1] % n;
    if (bytes[i] & 0x80) {
      reg[a].vop = static_cast<Vop>(bytes[i + 1] % 24);
    } else if (a != b) {
      toggle_edge(reg, a, b);
    }
  }
  return reg;
}

double dense_expectation(const Register& reg, std::span<const PauliFactor> factors, bool negative) {
  const oracle::DenseState psi = oracle::state_of(reg);
  oracle::DenseState image = psi;
  for (const PauliFactor& f : factors) image.apply(f.qubit, oracle::gates::pauli(f.axis));
  std::complex<double> value{0.0};
  for (std::size_t i = 0; i < psi.amplitudes().size(); ++i)
    value += std::conj(psi.amplitudes()[i]) * image.amplitudes()[i];
  return negative ? -value.real() : value.real();
}

void fuzz_product_text(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  const std::size_t size = input[0] % 16;
  const std::string_view text(reinterpret_cast<const char*>(input.data() + 1), input.size() - 1);
  bool negative = false;
  std::vector<PauliFactor> factors;
  try {
    read_pauli_product(text, size, negative, factors);
  } catch (const InvalidInput& refused) {
    expect_refusal(refused, "Pauli product ");
    return;
  }
  for (std::size_t i = 0; i < factors.size(); ++i) {
    if (factors[i].qubit >= size || factors[i].axis == Axis::none)
      check_failed("a factor outside the register");
    for (std::size_t j = 0; j < i; ++j) {
      if (factors[j].qubit == factors[i].qubit) check_failed("a qubit named twice after reduction");
    }
  }
  bool back_negative = !negative;
  std::vector<PauliFactor> back;
  read_pauli_product(product_text(factors, negative), size, back_negative, back);
  if (back_negative != negative || back.size() != factors.size())
    check_failed("canonical text reads back otherwise");
  if (size > 6) return;
  const Register reg = register_from(size, input.subspan(1));
  const int value = expectation(reg, factors, negative);
  if (std::abs(dense_expectation(reg, factors, negative) - value) > 1e-9)
    check_failed("expectation disagrees");
}

void fuzz_stabilizers(std::span<const std::uint8_t> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  std::vector<std::string_view> generators;
  for (std::size_t start = 0; start <= text.size() && !text.empty();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    generators.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  Register reg(0);
  try {
    reg = register_from_stabilizers(generators);
  } catch (const InvalidInput& refused) {
    expect_refusal(refused, "invalid stabilizers: ");
    return;
  }
  check_invariants(reg);
  if (reg.size() != generators.size()) check_failed("a register of another size than the generators");
  for (const std::string_view generator : generators) {
    bool negative = false;
    std::vector<PauliFactor> factors;
    read_pauli_product(generator, reg.size(), negative, factors);
    if (expectation(reg, factors, negative) != 1) check_failed("a generator is not +1 on the built state");
    if (reg.size() <= 6 && std::abs(dense_expectation(reg, factors, negative) - 1.0) > 1e-9) {
      check_failed("a generator does not fix the dense state");
    }
  }
}

void fuzz_graph(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  const std::size_t n = input[0] % 12;
  std::vector<std::int8_t> ends;
  std::size_t at = 1;
  for (; at < input.size() && input[at] != 0x7f; ++at) ends.push_back(static_cast<std::int8_t>(input[at]));
  if (ends.size() % 2 != 0) ends.pop_back();
  const std::span<const std::uint8_t> rest =
      at < input.size() ? input.subspan(at + 1) : std::span<const std::uint8_t>();
  std::optional<std::span<const std::uint8_t>> vops;
  if (!rest.empty() && rest[0] % 2 == 1) {
    // n - 1, n or n + 1 bytes, as far as the input reaches.
    std::size_t wanted = n + (rest[0] >> 1) % 3;
    if (wanted > 0) --wanted;
    vops = rest.subspan(1, std::min(rest.size() - 1, wanted));
  }
  Register reg(0);
  try {
    reg = graph_register<std::int8_t>(n, ends, vops);
  } catch (const InvalidInput& refused) {
    expect_refusal(refused, "invalid graph: ");
    return;
  }
  check_invariants(reg);
  std::vector<std::vector<Qubit>> lists(n);
  for (std::size_t i = 0; i < ends.size(); i += 2) {
    lists[static_cast<Qubit>(ends[i])].push_back(static_cast<Qubit>(ends[i + 1]));
    lists[static_cast<Qubit>(ends[i + 1])].push_back(static_cast<Qubit>(ends[i]));
  }
  for (Qubit q = 0; q < n; ++q) {
    if (!(reg[q].neighbors == lists[q])) check_failed("lists not in the order of the edges");
    if (reg[q].vop != (vops ? (*vops)[q] : 0)) check_failed("VOP not as given");
  }
  if (n == 0 || n > 7 || rest.size() < 2) return;
  // A set from the bytes (distinct, in order), and the other state.
  std::vector<Qubit> set;
  for (const std::uint8_t byte : rest.subspan(1, std::min<std::size_t>(rest.size() - 1, 4))) {
    const Qubit q = byte % n;
    if (std::find(set.begin(), set.end(), q) == set.end()) set.push_back(q);
  }
  const Register other = register_from(set.size(), rest);
  const double ours = reduced_fidelity(reg, set, other);
  // The dense value: sum over the rest of |sum_x conj(phi(x)) psi(x, r)|^2.
  const oracle::DenseState psi = oracle::state_of(reg), phi = oracle::state_of(other);
  std::vector<Qubit> outside;
  for (Qubit q = 0; q < n; ++q) {
    if (std::find(set.begin(), set.end(), q) == set.end()) outside.push_back(q);
  }
  double dense = 0.0;
  for (std::size_t r = 0; r < (std::size_t{1} << outside.size()); ++r) {
    std::size_t base = 0;
    for (std::size_t i = 0; i < outside.size(); ++i) base |= ((r >> i) & 1) << outside[i];
    std::complex<double> c{0.0};
    for (std::size_t x = 0; x < (std::size_t{1} << set.size()); ++x) {
      std::size_t index = base;
      for (std::size_t i = 0; i < set.size(); ++i) index |= ((x >> i) & 1) << set[i];
      c += std::conj(phi.amplitudes()[x]) * psi.amplitudes()[index];
    }
    dense += std::norm(c);
  }
  if (std::abs(ours - dense) > 1e-9) check_failed("reduced fidelity disagrees with the dense oracle");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  try {
    switch (data[0] % 3) {
      case 0: fuzz_product_text(input); break;
      case 1: fuzz_stabilizers(input); break;
      default: fuzz_graph(input); break;
    }
  } catch (...) {
    check_failed("an exception other than a refusal of the input");
  }
  return 0;
}
