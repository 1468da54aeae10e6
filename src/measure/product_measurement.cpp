#include "measure/product_measurement.hpp"

#include <array>
#include <vector>

#include "register/qubit_marks.hpp"

namespace ordavine {
namespace {

// What the expectation test keeps per qubit it touches.
struct Touch {
  static constexpr std::uint8_t kNamed = 1;    // a factor of the product
  static constexpr std::uint8_t kXPart = 2;    // tau has an X part: in S
  static constexpr std::uint8_t kZPart = 4;    // tau has a Z part
  static constexpr std::uint8_t kZParity = 8;  // in an odd number of N(a), a in S
  std::uint8_t bits = 0;
};

}  // namespace

namespace {

// The touches of a long product, or of one around high degrees: a mark per
// qubit, set in constant time.
class MarkedTouches {
 public:
  explicit MarkedTouches(std::size_t size) : marks_(storage()) { marks_.begin(size); }
  Touch& operator[](Qubit q) { return marks_[q]; }
  std::uint8_t bits(Qubit q) const { return marks_.get(q).bits; }

 private:
  // Not inlined, so that the thread's storage is looked up once per call.
  [[gnu::noinline]] static QubitMarks<Touch>& storage() {
    thread_local QubitMarks<Touch> marks;
    return marks;
  }
  QubitMarks<Touch>& marks_;
};

// The touches of a short product around low degrees, kept in a short list
// and searched: in a large register every per-qubit mark read is a cache
// miss, and a few dozen comparisons cost less.
class SearchedTouches {
 public:
  static constexpr std::size_t kCapacity = 80;
  Touch& operator[](Qubit q) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (qubits_[i] == q) return touches_[i];
    }
    qubits_[count_] = q;
    touches_[count_] = Touch{};
    return touches_[count_++];
  }
  std::uint8_t bits(Qubit q) const {
    for (std::size_t i = 0; i < count_; ++i) {
      if (qubits_[i] == q) return touches_[i].bits;
    }
    return 0;
  }

 private:
  std::array<Qubit, kCapacity> qubits_;
  std::array<Touch, kCapacity> touches_;
  std::size_t count_ = 0;
};

template <class Touches, class InS>
int expectation_with(const Register& reg, std::span<const PauliFactor> factors, bool negative,
                     Touches& touches, InS& in_s) {
  bool sign = negative;
  for (const PauliFactor& f : factors) {
    const Vop inverse = ADJOINT_TABLE[reg[f.qubit].vop];
    const Axis tau = conj_axis(inverse, f.axis);
    sign ^= conj_sign_negative(inverse, f.axis);
    std::uint8_t bits = Touch::kNamed;
    if (tau != Axis::z) bits |= Touch::kXPart;
    if (tau != Axis::x) bits |= Touch::kZPart;
    touches[f.qubit].bits = bits;
    if (tau != Axis::z) in_s.push_back(f.qubit);
  }

  std::size_t inner_ends = 0;  // edge ends inside S: twice the edges
  for (const Qubit a : in_s) {
    for (const Qubit n : reg[a].neighbors) {
      Touch& touch = touches[n];
      touch.bits ^= Touch::kZParity;
      if (touch.bits & Touch::kXPart) ++inner_ends;
    }
  }
  // The Z part must be the parity exactly: on the product's own qubits,
  // and nowhere else (a neighbour outside the product left odd).
  std::size_t both_parts = 0;
  for (const PauliFactor& f : factors) {
    const std::uint8_t bits = touches.bits(f.qubit);
    if (((bits & Touch::kZPart) != 0) != ((bits & Touch::kZParity) != 0)) return 0;
    if ((bits & Touch::kXPart) && (bits & Touch::kZPart)) ++both_parts;
  }
  for (const Qubit a : in_s) {
    for (const Qubit n : reg[a].neighbors) {
      const std::uint8_t bits = touches.bits(n);
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

// The qubits of S for the marked case; not inlined, as MarkedTouches::storage.
[[gnu::noinline]] std::vector<Qubit>& set_storage() {
  thread_local std::vector<Qubit> qubits;
  return qubits;
}

// A fixed-capacity list of the qubits of S, for the searched case.
class ShortList {
 public:
  void push_back(Qubit q) { qubits_[count_++] = q; }
  const Qubit* begin() const { return qubits_.data(); }
  const Qubit* end() const { return qubits_.data() + count_; }

 private:
  std::array<Qubit, SearchedTouches::kCapacity> qubits_;
  std::size_t count_ = 0;
};

}  // namespace

int expectation(const Register& reg, std::span<const PauliFactor> factors, bool negative) {
  check_product(reg, factors);
  // In a large register each factor's node is likely a cache miss: ask for
  // all of them at once, so that the misses overlap instead of queueing.
  for (const PauliFactor& f : factors) __builtin_prefetch(&reg[f.qubit]);
  // Every qubit touched is a factor or a neighbour of one.
  constexpr std::size_t kShortProduct = 8;
  std::size_t touched = factors.size();
  for (std::size_t i = 0; i < factors.size() && touched <= SearchedTouches::kCapacity; ++i) {
    touched += reg[factors[i].qubit].neighbors.size();
  }
  if (factors.size() <= kShortProduct && touched <= SearchedTouches::kCapacity) {
    SearchedTouches touches;
    ShortList in_s;
    return expectation_with(reg, factors, negative, touches, in_s);
  }
  MarkedTouches touches(reg.size());
  std::vector<Qubit>& in_s = set_storage();
  in_s.clear();
  return expectation_with(reg, factors, negative, touches, in_s);
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
  return measure_product_by(reg, factors, negative,
                            [&](Qubit pivot, bool) { return measure(reg, pivot, Axis::z, random); });
}

Measurement measure_product_with_outcome(Register& reg, std::span<const PauliFactor> factors, bool negative,
                                         std::uint8_t wanted) {
  return measure_product_by(reg, factors, negative, [&](Qubit pivot, bool flipped) {
    return measure_with_outcome(reg, pivot, Axis::z, static_cast<std::uint8_t>(wanted ^ (flipped ? 1 : 0)));
  });
}

}  // namespace ordavine
