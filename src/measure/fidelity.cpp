#include "measure/fidelity.hpp"

#include <cmath>
#include <numeric>
#include <optional>
#include <vector>

#include "measure/product_measurement.hpp"
#include "register/reduced_state.hpp"

namespace ordavine {
namespace {

// Measures each generator on |phi>, postselecting +1, and counts the
// random ones; stops at the first whose value is -1.
class Postselection final : public GeneratorSink {
 public:
  explicit Postselection(const Register& other) : other_(other) {}

  bool accept(bool negative, std::span<const PauliFactor> factors) override {
    const Register& current = working_ ? *working_ : other_;
    const int value = expectation(current, factors, negative);
    if (value > 0) return true;
    if (value < 0) {
      impossible_ = true;
      return false;
    }
    ++halvings_;
    if (!working_) working_.emplace(other_);
    const Measurement m = measure_product_with_outcome(*working_, factors, negative, 0);
    if (m.determined || m.result != 0) fail("a random generator was not postselected at +1");
    return true;
  }

  double probability(std::size_t more_halvings) const {
    if (impossible_) return 0.0;
    return std::ldexp(1.0, -static_cast<int>(std::min<std::size_t>(halvings_ + more_halvings, 2000)));
  }

 private:
  const Register& other_;
  std::optional<Register> working_;
  std::size_t halvings_ = 0;
  bool impossible_ = false;
};

}  // namespace

double reduced_fidelity(const Register& reg, std::span<const Qubit> qubits, const Register& other) {
  if (qubits.size() != other.size()) fail("reduced fidelity against a register of another size");
  Postselection postselection(other);
  const std::size_t entropy = reduced_state_generators(reg, qubits, postselection);
  return postselection.probability(entropy);
}

double fidelity(const Register& a, const Register& b) {
  if (a.size() != b.size()) fail("fidelity of registers of different sizes");
  std::vector<Qubit> every(a.size());
  std::iota(every.begin(), every.end(), Qubit{0});
  return reduced_fidelity(a, every, b);
}

}  // namespace ordavine
