#include "measure/product_measurement.hpp"

#include <vector>

#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

// What the expectation test keeps per qubit it touches.
struct Touch {
  static constexpr std::uint8_t kNamed = 1;        // a factor of the product
  static constexpr std::uint8_t kXPart = 2;        // tau has an X part: in S
  static constexpr std::uint8_t kZPart = 4;        // tau has a Z part
  static constexpr std::uint8_t kZParity = 8;      // in an odd number of N(a), a in S
  std::uint8_t bits = 0;
};

}  // namespace

int expectation(const Register& reg, std::span<const PauliFactor> factors, bool negative) {
  check_product(reg, factors);
  thread_local QubitMarks<Touch> marks_storage;
  thread_local std::vector<Qubit> in_s_storage;
  QubitMarks<Touch>& marks = marks_storage;
  std::vector<Qubit>& in_s = in_s_storage;
  marks.begin(reg.size());
  in_s.clear();

  bool sign = negative;
  for (const PauliFactor& f : factors) {
    const Vop inverse = ADJOINT_TABLE[reg[f.qubit].vop];
    const Axis tau = conj_axis(inverse, f.axis);
    sign ^= conj_sign_negative(inverse, f.axis);
    std::uint8_t bits = Touch::kNamed;
    if (tau != Axis::z) bits |= Touch::kXPart;
    if (tau != Axis::x) bits |= Touch::kZPart;
    marks[f.qubit].bits = bits;
    if (tau != Axis::z) in_s.push_back(f.qubit);
  }

  std::size_t inner_ends = 0;  // edge ends inside S: twice the edges
  for (const Qubit a : in_s) {
    for (const Qubit n : reg[a].neighbors) {
      Touch& touch = marks[n];
      touch.bits ^= Touch::kZParity;
      if (touch.bits & Touch::kXPart) ++inner_ends;
    }
  }
  // The Z part must be the parity exactly: on the product's own qubits,
  // and nowhere else (a neighbour outside the product left odd).
  std::size_t both_parts = 0;
  for (const PauliFactor& f : factors) {
    const std::uint8_t bits = marks.get(f.qubit).bits;
    if (((bits & Touch::kZPart) != 0) != ((bits & Touch::kZParity) != 0)) return 0;
    if ((bits & Touch::kXPart) && (bits & Touch::kZPart)) ++both_parts;
  }
  for (const Qubit a : in_s) {
    for (const Qubit n : reg[a].neighbors) {
      const std::uint8_t bits = marks.get(n).bits;
      if (!(bits & Touch::kNamed) && (bits & Touch::kZParity)) return 0;
    }
  }
  // A product of commuting Hermitian generators is Hermitian, so c is even
  // and (-i)^c is (-1)^(c/2).
  if (both_parts % 2 != 0) fail("a stabilizer product with an odd count of Y factors");
  sign ^= ((inner_ends / 2) & 1) != 0;
  sign ^= ((both_parts / 2) & 1) != 0;
  return sign ? -1 : +1;
}

namespace {

template <class MeasurePivot>
Measurement measure_product_by(Register& reg, std::span<const PauliFactor> factors, bool negative,
                               MeasurePivot&& measure_pivot) {
  const int value = expectation(reg, factors, negative);
  if (value != 0) return {static_cast<std::uint8_t>(value < 0 ? 1 : 0), true};
  // A random outcome: the product is carried onto Z of its first qubit,
  // measured there, and carried back.
  gather_product(reg, factors);
  Measurement m;
  try {
    m = measure_pivot(factors[0].qubit, negative);
  } catch (...) {
    scatter_product(reg, factors);
    throw;
  }
  scatter_product(reg, factors);
  if (m.determined) fail("a product with a random outcome became determined on its pivot");
  m.result ^= negative ? 1 : 0;
  return m;
}

}  // namespace

Measurement measure_product(Register& reg, std::span<const PauliFactor> factors, bool negative,
                            RandomSource& random) {
  return measure_product_by(reg, factors, negative, [&](Qubit pivot, bool) {
    return measure(reg, pivot, Axis::z, random);
  });
}

Measurement measure_product_with_outcome(Register& reg, std::span<const PauliFactor> factors,
                                         bool negative, std::uint8_t wanted) {
  return measure_product_by(reg, factors, negative, [&](Qubit pivot, bool flipped) {
    return measure_with_outcome(reg, pivot, Axis::z, static_cast<std::uint8_t>(wanted ^ (flipped ? 1 : 0)));
  });
}

}  // namespace ordavine
