// Running programs: a run must leave exactly what the same gates called one
// by one leave (graph, list order, VOPs, record) under the same random
// words, and many shots must not depend on how they are batched.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "circuit/reader.hpp"
#include "circuit/runner.hpp"
#include "circuit/shot_sampler.hpp"
#include "measure/measure.hpp"
#include "measure/seeded_stream.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"

namespace ordavine::circuit {
namespace {

// Words from a fixed-seed engine: two copies give the same sequence.
class WordSource final : public RandomSource {
 public:
  explicit WordSource(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t next_word() override { return static_cast<std::uint32_t>(engine_()); }

 private:
  std::mt19937 engine_;
};

void expect_same_register(const Register& a, const Register& b) {
  ASSERT_EQ(a.size(), b.size());
  for (Qubit q = 0; q < a.size(); ++q) {
    EXPECT_EQ(a[q].vop, b[q].vop) << "qubit " << q;
    EXPECT_EQ(a[q].neighbors, b[q].neighbors) << "qubit " << q;
  }
}

// A random circuit built twice: as text, and as the calls that text stands for.
struct Lockstep {
  std::string text;
  std::vector<std::function<void(Register&, RandomSource&, std::vector<std::uint8_t>&)>> calls;
};

Lockstep random_circuit(std::uint32_t seed, std::size_t n, std::size_t length) {
  std::mt19937 pick(seed);
  auto below = [&](std::size_t k) { return static_cast<std::size_t>(pick() % k); };
  using Gate1 = void (*)(Register&, Qubit);
  using Gate2 = void (*)(Register&, Qubit, Qubit);
  const std::vector<std::pair<const char*, Gate1>> singles{
      {"H", h}, {"S", s}, {"S_DAG", sdag}, {"X", x}, {"Y", y}, {"Z", z}};
  const std::vector<std::pair<const char*, Gate2>> pairs{
      {"CZ", cz},   {"CX", cx},   {"CY", cy},   {"XCX", xcx}, {"XCY", xcy},
      {"XCZ", xcz}, {"YCX", ycx}, {"YCY", ycy}, {"YCZ", ycz}};
  const char* axes = "XYZ";
  Lockstep out;
  std::size_t measured = 0;
  for (std::size_t step = 0; step < length; ++step) {
    const Qubit a = below(n);
    Qubit b = below(n - 1);
    if (b >= a) ++b;
    const std::string qa = std::to_string(a), qb = std::to_string(b);
    switch (below(9)) {
      case 0:
      case 1: {
        const auto& [name, gate] = singles[below(singles.size())];
        out.text += std::string(name) + " " + qa + " " + qb + "\n";
        out.calls.push_back([=, gate = gate](Register& r, RandomSource&, auto&) { gate(r, a); gate(r, b); });
        break;
      }
      case 2:
      case 3: {
        const auto& [name, gate] = pairs[below(pairs.size())];
        out.text += std::string(name) + " " + qa + " " + qb + "\n";
        out.calls.push_back([=, gate = gate](Register& r, RandomSource&, auto&) { gate(r, a, b); });
        break;
      }
      case 4: {  // SWAP or ISWAP, as the documented sequences
        const bool is_swap = below(2) == 0;
        out.text += std::string(is_swap ? "SWAP " : "ISWAP ") + qa + " " + qb + "\n";
        out.calls.push_back([=](Register& r, RandomSource&, auto&) {
          if (!is_swap) {
            s(r, a);
            s(r, b);
            cz(r, a, b);
          }
          cx(r, a, b);
          cx(r, b, a);
          cx(r, a, b);
        });
        break;
      }
      case 5: {  // measurement, maybe inverted, maybe with a reset
        const auto axis = static_cast<Axis>(below(3));
        const bool invert = below(2) == 0, then_reset = below(3) == 0;
        out.text += std::string(then_reset ? "MR" : "M") + axes[static_cast<int>(axis)] + " " +
                    (invert ? "!" : "") + qa + "\n";
        ++measured;
        out.calls.push_back([=](Register& r, RandomSource& random, auto& record) {
          const std::uint8_t bit = measure(r, a, axis, random).result;
          if (then_reset && bit) (axis == Axis::z ? x : z)(r, a);
          record.push_back(bit ^ (invert ? 1 : 0));
        });
        break;
      }
      case 6: {
        const auto axis = static_cast<Axis>(below(3));
        out.text += std::string("R") + axes[static_cast<int>(axis)] + " " + qa + "\n";
        out.calls.push_back([=](Register& r, RandomSource& random, auto&) {
          if (measure(r, a, axis, random).result) (axis == Axis::z ? x : z)(r, a);
        });
        break;
      }
      case 7: {  // feed-forward from an earlier record bit
        if (measured == 0) break;
        const std::size_t back = 1 + below(measured);
        const int kind = static_cast<int>(below(3));
        const std::string rec = "rec[-" + std::to_string(back) + "]";
        out.text += std::string("C") + "XYZ"[kind] + " " + (kind == 2 && below(2) ? qa + " " + rec : rec + " " + qa) + "\n";
        out.calls.push_back([=](Register& r, RandomSource&, auto& record) {
          if (record[record.size() - back]) (kind == 0 ? x : kind == 1 ? y : z)(r, a);
        });
        break;
      }
      case 8: {  // a Pauli error with the documented draw: one word, below p * 2^32 fires
        out.text += "X_ERROR(0.25) " + qa + "\n";
        out.calls.push_back([=](Register& r, RandomSource& random, auto&) {
          if (random.next_word() < (std::uint64_t{1} << 30)) x(r, a);
        });
        break;
      }
    }
  }
  return out;
}

TEST(CircuitRunner, RunMatchesTheSameGatesOneByOne) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    const std::size_t n = 2 + seed % 7;
    const Lockstep circuit = random_circuit(seed, n, 60);
    const Program program = read_circuit(circuit.text);

    Register by_run(n), by_gates(n);
    WordSource words_a(seed), words_b(seed);
    std::vector<std::uint8_t> record(program.measurement_count), expected;
    check_fits(program, by_run);
    run_program(program, by_run, words_a, {record});
    for (const auto& call : circuit.calls) call(by_gates, words_b, expected);

    SCOPED_TRACE("circuit:\n" + circuit.text);
    expect_same_register(by_run, by_gates);
    EXPECT_EQ(record, expected);
    EXPECT_EQ(words_a.next_word(), words_b.next_word()) << "the runs drew different numbers of words";
  }
}

// Words chosen by the test, one per draw.
class ScriptedSource final : public RandomSource {
 public:
  explicit ScriptedSource(std::vector<std::uint32_t> words) : words_(std::move(words)) {}
  std::uint32_t next_word() override { return words_.at(next_++); }
  std::size_t drawn() const { return next_; }

 private:
  std::vector<std::uint32_t> words_;
  std::size_t next_ = 0;
};

TEST(CircuitRunner, ChannelsFireOnTheirThresholdsAndDetectorsAreParities) {
  // PAULI_CHANNEL_1(0.25, 0.25, 0.25): thresholds 2^30, 2^31, 3 * 2^30.
  // Words land in X, Y, Z and nothing; then M 0 1 2 3 read the flips.
  const Program p = read_circuit(
      "PAULI_CHANNEL_1(0.25, 0.25, 0.25) 0 1 2 3\n"
      "X_ERROR(1) 4\n"
      "Z_ERROR(0) 4\n"
      "M 0 1 2 3 4\n"
      "M(1) !4\n"
      "DETECTOR rec[-1] rec[-2]\n"
      "DETECTOR rec[-4] rec[-5]\n"
      "OBSERVABLE_INCLUDE(1) rec[-5]\n"
      "OBSERVABLE_INCLUDE(1) rec[-4]\n");
  ScriptedSource words({0x3fffffff, 0x40000000, 0xbfffffff, 0xc0000000, 0xffffffff, 0xffffffff});
  Register reg(5);
  std::vector<std::uint8_t> record(p.measurement_count), detectors(p.detector_count),
      observables(p.observable_count, 7);
  run_program(p, reg, words, {record, detectors, observables});
  // X, Y, Z, nothing, X on qubit 4; Z measurements are determined (no draws),
  // M(1) draws its flip: inverted 1 flipped back to 1.
  EXPECT_EQ(record, (std::vector<std::uint8_t>{1, 1, 0, 0, 1, 1}));
  EXPECT_EQ(detectors, (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(observables, (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(words.drawn(), 6u);
}

TEST(CircuitRunner, RefusesAProgramWiderThanTheRegisterBeforeAnyChange) {
  const Program p = read_circuit("H 0\nCX 0 1\nM 1\nH 2 5\n");
  Register reg(5);
  try {
    check_fits(p, reg);
    ADD_FAILURE() << "a program wider than the register fitted";
  } catch (const InvalidInput& error) {
    EXPECT_STREQ(error.what(), "line 4, column 5: qubit 5 is outside the register of 5 qubits");
  }
}

TEST(ShotSampler, ShotKIsARunOnStreamKPlusOneAndBatchesDoNotMatter) {
  const Program p = read_circuit(
      "H 0 1 2\nCX 0 3\nDEPOLARIZE1(0.3) 0 1 2 3\nDEPOLARIZE2(0.2) 1 2\n"
      "REPEAT 3 {\n MX 0\n MR 1 2\n M 3\n DETECTOR rec[-1] rec[-4]\n}\nOBSERVABLE_INCLUDE(0) rec[-1]\n");
  const ChaChaKey key = key_from_seed(std::vector<std::uint8_t>{42});
  const std::size_t m = p.measurement_count, shots = 24;

  ShotSampler whole(p, key, false);
  std::vector<std::uint8_t> rows(shots * m);
  whole.run_shots(100, shots, rows, {}, {});
  for (std::size_t k = 0; k < shots; ++k) {
    Register reg(p.qubit_count);
    SeededStream stream(key, 100 + k + 1);
    std::vector<std::uint8_t> record(m);
    run_program(p, reg, stream, {record});
    EXPECT_TRUE(std::equal(record.begin(), record.end(), rows.begin() + k * m)) << "shot " << k;
  }
  std::vector<std::uint8_t> split(shots * m);
  ShotSampler part(p, key, false);
  part.run_shots(100, 5, std::span(split).first(5 * m), {}, {});
  part.run_shots(105, shots - 5, std::span(split).subspan(5 * m), {}, {});
  EXPECT_EQ(split, rows);

  ShotSampler detecting(p, key, true);
  std::vector<std::uint8_t> detectors(shots * 3), observables(shots);
  detecting.run_shots(100, shots, {}, detectors, observables);
  for (std::size_t k = 0; k < shots; ++k) {
    const std::uint8_t* row = rows.data() + k * m;
    for (std::size_t d = 0; d < 3; ++d) {
      EXPECT_EQ(detectors[k * 3 + d], row[4 * d + 3] ^ row[4 * d]) << "shot " << k;
    }
    EXPECT_EQ(observables[k], row[m - 1]);
  }
}

}  // namespace
}  // namespace ordavine::circuit
