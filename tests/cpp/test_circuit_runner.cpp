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
#include "failure/failure.hpp"
#include "measure/measure.hpp"
#include "measure/product_measurement.hpp"
#include "random/seeded_stream.hpp"
#include "register/pauli_product.hpp"
#include "register/single_qubit.hpp"
#include "register/two_qubit.hpp"
#include "support/shot_sampler.hpp"

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
  const std::vector<std::pair<const char*, Gate1>> singles{{"H", h}, {"S", s}, {"S_DAG", sdag},
                                                           {"X", x}, {"Y", y}, {"Z", z}};
  const std::vector<std::pair<const char*, Gate2>> pairs{{"CZ", cz},   {"CX", cx},   {"CY", cy},
                                                         {"XCX", xcx}, {"XCY", xcy}, {"XCZ", xcz},
                                                         {"YCX", ycx}, {"YCY", ycy}, {"YCZ", ycz}};
  const char* axes = "XYZ";
  Lockstep out;
  std::size_t measured = 0;
  for (std::size_t step = 0; step < length; ++step) {
    const Qubit a = below(n);
    Qubit b = below(n - 1);
    if (b >= a) ++b;
    const std::string qa = std::to_string(a), qb = std::to_string(b);
    switch (below(11)) {
      case 0:
      case 1: {
        const auto& [name, gate] = singles[below(singles.size())];
        out.text += std::string(name) + " " + qa + " " + qb + "\n";
        out.calls.push_back([=, gate = gate](Register& r, RandomSource&, auto&) {
          gate(r, a);
          gate(r, b);
        });
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
        out.text += std::string("C") + "XYZ"[kind] + " " +
                    (kind == 2 && below(2) ? qa + " " + rec : rec + " " + qa) + "\n";
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
      case 9: {  // the swaps and square roots, as the documented sequences
        static constexpr const char* kNames[] = {"CXSWAP",  "SWAPCX",      "CZSWAP",
                                                 "SQRT_ZZ", "SQRT_ZZ_DAG", "SQRT_XX"};
        const std::size_t which = below(std::size(kNames));
        out.text += std::string(kNames[which]) + " " + qa + " " + qb + "\n";
        out.calls.push_back([=](Register& r, RandomSource&, auto&) {
          switch (which) {
            case 0:
              cx(r, b, a);
              cx(r, a, b);
              break;
            case 1:
              cx(r, a, b);
              cx(r, b, a);
              break;
            case 2:
              cz(r, a, b);
              cx(r, a, b);
              cx(r, b, a);
              cx(r, a, b);
              break;
            case 3:
              s(r, a);
              s(r, b);
              cz(r, a, b);
              break;
            case 4:
              sdag(r, a);
              sdag(r, b);
              cz(r, a, b);
              break;
            default:
              h(r, a);
              h(r, b);
              s(r, a);
              s(r, b);
              cz(r, a, b);
              h(r, a);
              h(r, b);
              break;
          }
        });
        break;
      }
      case 10: {  // a product measured (MPP, or MXX for a pair) and a product rotated
        const auto pa = static_cast<Axis>(below(3)), pb = static_cast<Axis>(below(3));
        const bool pair = below(3) == 0, invert = below(2) == 0;
        const std::vector<PauliFactor> product{{a, pair ? Axis::x : pa}, {b, pair ? Axis::x : pb}};
        if (pair) {
          out.text += "MXX " + std::string(invert ? "!" : "") + qa + " " + qb + "\n";
        } else {
          out.text += std::string("MPP ") + (invert ? "!" : "") + axes[static_cast<int>(pa)] + qa + "*" +
                      axes[static_cast<int>(pb)] + qb + "\n";
        }
        ++measured;
        out.calls.push_back([=](Register& r, RandomSource& random, auto& record) {
          record.push_back(measure_product(r, product, invert, random).result);
        });
        const bool dagger = below(2) == 0;
        out.text += std::string(dagger ? "SPP_DAG " : "SPP ") + axes[static_cast<int>(pb)] + qa + "\n";
        out.calls.push_back([=](Register& r, RandomSource&, auto&) {
          const std::vector<PauliFactor> single{{a, pb}};
          rotate_product(r, single, false, dagger);
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

TEST(CircuitRunner, NewChannelsDrawAsDocumented) {
  // PAULI_CHANNEL_2 with every pair at 1/16: the word picks the pair
  // (k + 1 as two base-4 digits); MPAD(1) flips; HERALDED_ERASE(1)
  // records 1 and draws its Pauli (uniform_in(0, 4)); the E chain: E
  // fires, so the ELSE after it draws nothing; a second E that does not
  // fire lets its ELSE draw and fire.
  std::string p15;
  for (int i = 0; i < 15; ++i) p15 += i ? ", 0.0625" : "0.0625";
  const Program p = read_circuit("PAULI_CHANNEL_2(" + p15 +
                                 ") 0 1\n"
                                 "MPAD(1) 0 1\n"
                                 "HERALDED_ERASE(1) 2\n"
                                 "E(0.5) X3\nELSE_CORRELATED_ERROR(0.5) X4\n"
                                 "E(0.5) X5\nELSE_CORRELATED_ERROR(0.5) X6 Z6\n"
                                 "HERALDED_PAULI_CHANNEL_1(0.25, 0.25, 0.25, 0.25) 7 8\n"
                                 "M 0 1 2 3 4 5 6 7 8\n");
  // 0x6...: k = 6, pair 7 = (1, 3): X on 0, Z on 1.
  ScriptedSource words({0x60000000, 0xffffffff, 0xffffffff, 0x0, 0x40000000 /* X on 2 */, 0x0, 0xffffffff,
                        0x0, 0x40000000 /* herald, X */, 0xc0000000 /* herald, Z */});
  Register reg(9);
  std::vector<std::uint8_t> record(p.measurement_count);
  run_program(p, reg, words, {record});
  EXPECT_EQ(words.drawn(), 10u);
  // MPAD 0 1 flipped: 1 0; herald 1; heralds of 7 and 8: 1 1; then the Z
  // measurements: 0 has X, 1 has Z (reads 0), 2 has X, 3 has X, 4 nothing
  // (its ELSE was skipped), 5 nothing, 6 has Y (X Z), 7 X, 8 Z (reads 0).
  EXPECT_EQ(record, (std::vector<std::uint8_t>{1, 0, 1, 1, 1, 1, 0, 1, 1, 0, 0, 1, 1, 0}));
}

TEST(CircuitRunner, ReferenceRunSkipsNoiseTakesPlusOneAndDrawsNothing) {
  const Program p = read_circuit(
      "H 0\nM 0\n"                      // random: +1
      "X 1\nX_ERROR(1) 1\nM 1\n"        // the X counts, the error does not
      "HERALDED_ERASE(1) 2\n"           // herald 0
      "MPP X3*X4\nCX rec[-1] 5\nM 5\n"  // random product +1, so no feed-forward
      "M(1) 6\nMPAD(1) 1\n"             // flips left out
      "DETECTOR rec[-6]\nOBSERVABLE_INCLUDE(0) rec[-6] Z1\n");
  Register reg(7);
  std::vector<std::uint8_t> record(p.measurement_count), detectors(1), observables(1);
  run_reference(p, reg, {record, detectors, observables});
  EXPECT_EQ(record, (std::vector<std::uint8_t>{0, 1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(detectors, (std::vector<std::uint8_t>{1}));
  // rec[-6] is the 1 of qubit 1, and Z1 reads -1 there too.
  EXPECT_EQ(observables, (std::vector<std::uint8_t>{0}));
}

TEST(CircuitRunner, PauliObservableTargetsNeedAValueTheStateFixes) {
  const Program fixed = read_circuit("X 0\nH 1\nOBSERVABLE_INCLUDE(0) Z0 X1\n");
  Register reg(2);
  WordSource words(1);
  std::vector<std::uint8_t> observables(1);
  run_program(fixed, reg, words, {{}, {}, observables});
  EXPECT_EQ(observables[0], 1);  // Z0 X1 = -1 on |1>|+>

  const Program unfixed = read_circuit("H 0\nTICK\nOBSERVABLE_INCLUDE(3) Z0\n");
  Register other(1);
  std::vector<std::uint8_t> four(4);
  try {
    run_program(unfixed, other, words, {{}, {}, four});
    ADD_FAILURE() << "an observable of a random product got a value";
  } catch (const InvalidInput& error) {
    EXPECT_NE(std::string(error.what()).find("line 3: OBSERVABLE_INCLUDE(3) includes a Pauli product"),
              std::string::npos)
        << error.what();
  }
  // Without observables asked for (a plain run), the targets are not read.
  Register plain(1);
  run_program(unfixed, plain, words, {});
}

TEST(ShotSampler, DetectorsReportFlipsAgainstTheNoiselessReference) {
  // Detector 0 has parity 1 without noise, detector 1 parity 0.
  const ChaChaKey key = key_from_seed(std::vector<std::uint8_t>{7});
  const Program clean =
      read_circuit("X 0\nM 0\nM 1\nDETECTOR rec[-2]\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(0) rec[-2]\n");
  ShotSampler sampler(clean, key, true);
  std::vector<std::uint8_t> detectors(2 * 10), observables(10);
  sampler.run_shots(0, 10, {}, detectors, observables);
  EXPECT_EQ(detectors, std::vector<std::uint8_t>(20, 0));
  EXPECT_EQ(observables, std::vector<std::uint8_t>(10, 0));

  const Program noisy = read_circuit(
      "X 0\nX_ERROR(1) 0 1\nM 0\nM 1\nDETECTOR rec[-2]\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(0) rec[-2]\n");
  ShotSampler flipped(noisy, key, true);
  flipped.run_shots(0, 10, {}, detectors, observables);
  EXPECT_EQ(detectors, std::vector<std::uint8_t>(20, 1));
  EXPECT_EQ(observables, std::vector<std::uint8_t>(10, 1));
}

}  // namespace
}  // namespace ordavine::circuit
