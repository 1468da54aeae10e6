// The Pauli-frame sampler: its gate maps against matrices, its kernels at
// every width against the maps, its random words and gaps, the layout of
// the rows it writes, and whole runs: independent of how shots are split
// and batched and of the vector width, and distributed as the per-shot
// register runs are.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "circuit/reader.hpp"
#include "frames/block_stream.hpp"
#include "frames/clifford_maps.hpp"
#include "frames/frame_sampler.hpp"
#include "frames/kernels.hpp"
#include "frames/noise.hpp"
#include "frames/shot_rows.hpp"
#include "frames/unit_logs.hpp"
#include "random/seeded_stream.hpp"
#include "support/dense_state.hpp"
#include "support/gate_matrices.hpp"
#include "support/shot_sampler.hpp"

namespace ordavine::frames {
namespace {

using circuit::TwoQubitGate;
using oracle::Matrix2;
using oracle::Matrix4;

// ---- gate maps against matrices ------------------------------------------------

using oracle::adjoint4;
using oracle::gate_matrix;
using oracle::pauli_matrix;
using oracle::pauli_pair;

TEST(FrameMaps, EveryGateCarriesEachPauliWhereItsMatrixDoes) {
  for (unsigned g = 0; g < circuit::kTwoQubitGates; ++g) {
    const auto gate = static_cast<TwoQubitGate>(g);
    const Matrix4 u = gate_matrix(gate);
    for (unsigned bits = 1; bits < 16; ++bits) {
      const Matrix4 image = oracle::product(u, oracle::product(pauli_pair(bits), adjoint4(u)));
      const unsigned expected = apply_map(two_qubit_map(gate), 4, bits);
      EXPECT_TRUE(oracle::equal_up_to_phase(image, pauli_pair(expected)))
          << "gate " << g << " Pauli bits " << bits << " map gives " << expected;
    }
  }
  for (unsigned v = 0; v < 24; ++v) {
    const Matrix2 u = oracle::vop_matrix(static_cast<Vop>(v));
    for (unsigned bits = 1; bits < 4; ++bits) {
      const Matrix2 image = oracle::product(u, oracle::product(pauli_matrix(bits), oracle::adjoint(u)));
      EXPECT_TRUE(
          oracle::equal_up_to_phase(image, pauli_matrix(apply_map(vop_map(static_cast<Vop>(v)), 2, bits))))
          << "VOP " << v << " Pauli bits " << bits;
    }
  }
}

// ---- kernels ---------------------------------------------------------------------------

constexpr std::size_t kQubits = 6;
constexpr std::size_t kWords = 16;

std::vector<Word> random_words(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::vector<Word> out(n);
  for (auto& w : out) w = engine();
  return out;
}

bool bit(const Word* row, std::size_t lane) { return ((row[lane / 64] >> (lane % 64)) & 1) != 0; }

unsigned lane_bits(const std::vector<Word>& f, std::size_t q, std::size_t lane) {
  return static_cast<unsigned>(bit(f.data() + 2 * kWords * q, lane)) |
         static_cast<unsigned>(bit(f.data() + 2 * kWords * q + kWords, lane)) << 1;
}

std::vector<VectorWidth> widths() {
  std::vector<VectorWidth> out;
  for (auto w : {VectorWidth::portable, VectorWidth::avx2, VectorWidth::avx512}) {
    if (width_supported(w)) out.push_back(w);
  }
  return out;
}

// Every kernel, at every width this machine has, does lane by lane what the
// maps and the measurement rules say.
TEST(FrameKernels, EveryWidthAppliesTheMapsAndMeasurementRulesLaneByLane) {
  const std::vector<Word> before = random_words(2 * kQubits * kWords, 1);
  const std::vector<circuit::Target> pairs{0, 1, 2, 3, 4, 5, 1, 4};  // qubit 1 and 4 twice: in order
  for (const VectorWidth width : widths()) {
    const Kernels& k = kernels_for(width);
    for (unsigned g = 0; g < circuit::kTwoQubitGates; ++g) {
      std::vector<Word> f = before;
      k.pair[g](f.data(), kWords, pairs.data(), pairs.size());
      const Map2 map = two_qubit_map(static_cast<TwoQubitGate>(g));
      for (std::size_t lane = 0; lane < 64 * kWords; ++lane) {
        std::vector<unsigned> q(kQubits);
        for (std::size_t i = 0; i < kQubits; ++i) q[i] = lane_bits(before, i, lane);
        for (std::size_t p = 0; p < pairs.size(); p += 2) {
          const unsigned out = apply_map(map, 4, q[pairs[p]] | q[pairs[p + 1]] << 2);
          q[pairs[p]] = out & 3;
          q[pairs[p + 1]] = out >> 2;
        }
        for (std::size_t i = 0; i < kQubits; ++i) {
          ASSERT_EQ(lane_bits(f, i, lane), q[i])
              << "width " << int(width) << " gate " << g << " lane " << lane;
        }
      }
    }
    for (unsigned v = 0; v < 24; ++v) {
      std::vector<Word> f = before;
      const std::vector<circuit::Target> targets{2, 5};
      k.single[v](f.data(), kWords, targets.data(), targets.size());
      for (std::size_t lane = 0; lane < 64 * kWords; lane += 7) {
        ASSERT_EQ(lane_bits(f, 2, lane),
                  apply_map(vop_map(static_cast<Vop>(v)), 2, lane_bits(before, 2, lane)));
        ASSERT_EQ(lane_bits(f, 0, lane), lane_bits(before, 0, lane));
      }
    }
    const std::vector<Word> gauge = random_words(2 * kWords, 2);
    for (unsigned axis = 0; axis < 3; ++axis) {
      const unsigned p = axis_bits(static_cast<Axis>(axis));
      for (int kind = 0; kind < 3; ++kind) {
        std::vector<Word> f = before, records(2 * kWords, 0);
        Word* rows[2] = {records.data(), records.data() + kWords};
        const std::vector<circuit::Target> targets{3, circuit::kInvertedFlag | 1};
        const MeasureKernel kernel = kind == 0   ? k.measure[axis]
                                     : kind == 1 ? k.reset[axis]
                                                 : k.measure_reset[axis];
        kernel(f.data(), kWords, targets.data(), 2, gauge.data(), rows);
        for (std::size_t lane = 0; lane < 64 * kWords; ++lane) {
          for (std::size_t t = 0; t < 2; ++t) {
            const std::size_t q = t == 0 ? 3 : 1;
            const unsigned was = lane_bits(before, q, lane);
            const unsigned g = bit(gauge.data() + t * kWords, lane) ? p : 0;
            if (kind != 1) {
              ASSERT_EQ(bit(rows[t], lane), anticommute(was, p)) << "axis " << axis;
            }
            ASSERT_EQ(lane_bits(f, q, lane), kind == 0 ? was ^ g : g) << "axis " << axis << " kind " << kind;
          }
        }
      }
    }
    std::vector<Word> parity(kWords);
    const Word* sources[3] = {before.data(), before.data() + kWords, before.data() + 5 * kWords};
    k.parity(parity.data(), sources, 3, kWords);
    for (std::size_t w = 0; w < kWords; ++w)
      ASSERT_EQ(parity[w], before[w] ^ before[kWords + w] ^ before[5 * kWords + w]);
  }
}

// ---- random words and noise ---------------------------------------------------------------

TEST(BlockStream, IsTheSeededStreamTwoWordsAtATimeAcrossRekeys) {
  const ChaChaKey key{9, 8, 7, 6, 5, 4, 3, 2};
  SeededStream words(key, 77);
  BlockStream stream(key, 77);
  for (int i = 0; i < 8 * 1100; ++i) {  // past the change of key after 1024 blocks
    std::uint64_t expected = words.next_word();
    expected |= std::uint64_t{words.next_word()} << 32;
    if (i % 3 == 0) {
      Word four[4];
      stream.next4(four);
      ASSERT_EQ(four[0], expected) << i;
      for (int j = 1; j < 4; ++j) {
        std::uint64_t more = words.next_word();
        more |= std::uint64_t{words.next_word()} << 32;
        ASSERT_EQ(four[j], more) << i;
      }
      i += 3;
    } else {
      ASSERT_EQ(stream.next(), expected) << i;
    }
  }
}

TEST(Noise, PortableLogarithmsAgreeWithTheLibraryWithinAFewUnitsInTheLastPlace) {
  std::mt19937_64 engine(3);
  for (int i = 0; i < 200000; ++i) {
    const double u = static_cast<double>((engine() >> 11) + 1) * 0x1p-53;  // the gap's inputs
    EXPECT_NEAR(portable_log(u), std::log(u), 1e-15 * std::abs(std::log(u)) + 1e-300) << u;
    const double x = std::ldexp(0.5 + static_cast<double>(engine() >> 11) * 0x1p-54,
                                static_cast<int>(engine() % 200) - 100);
    EXPECT_NEAR(portable_log(x), std::log(x), 1e-15 * std::abs(std::log(x)) + 1e-300) << x;
  }
  for (double p = 1e-15; p < 1.0; p *= 1.37) {
    EXPECT_NEAR(portable_log1m(p), std::log1p(-p), 1e-15 * std::abs(std::log1p(-p))) << p;
  }
  EXPECT_NEAR(portable_log1m(0.999999), std::log1p(-0.999999), 1e-15);
}

// The gap sampler's logarithms, eight at a time, are portable_log's
// doubles bit for bit at every width this machine runs, on random words
// and on the words at the ends of U's range and around the point where
// the mantissa is halved; a stream's cached logs are the same doubles.
TEST(Noise, VectorLogarithmsArePortableLogBitForBitAtEveryWidth) {
  std::mt19937_64 engine(11);
  std::vector<std::uint64_t> words(1 << 16);
  for (auto& w : words) w = engine();
  const double root_half = 0x1.6a09e667f3bcdp-1;
  const std::uint64_t root_word = static_cast<std::uint64_t>(root_half * 0x1p53 - 1) << 11;
  const std::uint64_t edges[] = {0,
                                 1,
                                 0x7FF,
                                 0x800,
                                 ~std::uint64_t{0},
                                 ~std::uint64_t{0} << 11,
                                 std::uint64_t{1} << 63,
                                 (std::uint64_t{1} << 63) - 1,
                                 root_word,
                                 root_word + 0x800,
                                 root_word - 0x800,
                                 std::uint64_t{1} << 62};
  std::copy(std::begin(edges), std::end(edges), words.begin());
  const auto unit = [](std::uint64_t w) { return static_cast<double>((w >> 11) + 1) * 0x1p-53; };
  for (const VectorWidth width : {VectorWidth::portable, VectorWidth::avx2, VectorWidth::avx512}) {
    if (!width_supported(width)) continue;
    std::vector<double> logs(words.size());
    unit_logs_with(width, words.data(), logs.data(), words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(logs[i]),
                std::bit_cast<std::uint64_t>(portable_log(unit(words[i]))))
          << "width " << static_cast<int>(width) << " word " << words[i];
    }
  }
  BlockStream cached(ChaChaKey{4}, 9, /*with_logs=*/true), plain(ChaChaKey{4}, 9);
  for (int i = 0; i < 1000; ++i) {
    const double log = i % 2 == 0 ? cached.next_log() : portable_log(unit(cached.next()));
    ASSERT_EQ(std::bit_cast<std::uint64_t>(log), std::bit_cast<std::uint64_t>(plain.next_log())) << i;
  }
}

// Over many sites each fires with its probability: counts within five
// standard deviations, and the same for sites that follow a firing one
// (independence of neighbours).
TEST(Noise, GapsFireEachSiteIndependentlyWithTheProbability) {
  for (const double p : {0.001, 0.05, 0.5, 0.9}) {
    const FiringRate rate = FiringRate::of(p);
    BlockStream stream(ChaChaKey{1}, 5);
    const std::uint64_t sites = 2000000;
    std::uint64_t fired = 0, after_fired = 0, previous = ~std::uint64_t{0} - 1;
    for (std::uint64_t s = rate.first(stream, sites); s < sites; s = rate.following(stream, s, sites)) {
      ++fired;
      if (s == previous + 1) ++after_fired;
      previous = s;
    }
    const double n = static_cast<double>(sites);
    EXPECT_NEAR(static_cast<double>(fired), n * p, 5 * std::sqrt(n * p * (1 - p))) << p;
    const double pairs = static_cast<double>(fired);
    EXPECT_NEAR(static_cast<double>(after_fired), pairs * p, 5 * std::sqrt(pairs * p * (1 - p)) + 1) << p;
  }
  // p = 1 fires everywhere and draws nothing; p = 0 nowhere.
  BlockStream untouched(ChaChaKey{1}, 5), used(ChaChaKey{1}, 5);
  const FiringRate always = FiringRate::of(1.0), never = FiringRate::of(0.0);
  std::uint64_t count = 0;
  for (std::uint64_t s = always.first(used, 300); s < 300; s = always.following(used, s, 300))
    ASSERT_EQ(s, count++);
  EXPECT_EQ(count, 300u);
  EXPECT_EQ(never.first(used, 300), 300u);
  EXPECT_EQ(used.next(), untouched.next());
}

// Drawing a run of firing sites ahead is drawing them one by one: the same
// sites and, where the channel chooses, the same choice word after each,
// the stream left at the same place; over runs longer than the drawing's
// capacity, pieces that stop early (a recording instruction's pieces), and
// rates that always or never fire.
TEST(Noise, DrawingRunsAheadTakesTheStreamsWordsInTheOneByOneOrder) {
  const std::uint64_t count = 40000;
  for (const double p : {0.0, 0.003, 0.2, 0.9, 1.0}) {
    const FiringRate rate = FiringRate::of(p);
    for (const bool choosing : {false, true}) {
      BlockStream ahead(ChaChaKey{7}, 3, true), one_by_one(ChaChaKey{7}, 3, true);
      std::vector<std::uint64_t> expected_sites, expected_words, sites, words;
      for (std::uint64_t s = rate.first(one_by_one, count); s < count;
           s = rate.following(one_by_one, s, count)) {
        expected_sites.push_back(s);
        if (choosing) expected_words.push_back(one_by_one.next());
      }
      Firings drawn;
      std::uint64_t next = rate.first(ahead, count);
      for (std::uint64_t stop = 777; next < count; stop = std::min(count, stop + 5000)) {
        while (next < stop) {
          if (choosing) {
            rate.draw<true>(ahead, next, count, stop, drawn);
          } else {
            rate.draw<false>(ahead, next, count, stop, drawn);
          }
          ASSERT_LE(drawn.count, Firings::kCapacity);
          for (std::size_t k = 0; k < drawn.count; ++k) {
            ASSERT_LT(drawn.site[k], stop);
            sites.push_back(drawn.site[k]);
            if (choosing) words.push_back(drawn.choice[k]);
          }
        }
      }
      ASSERT_EQ(sites, expected_sites) << p;
      ASSERT_EQ(words, expected_words) << p;
      EXPECT_EQ(ahead.next(), one_by_one.next()) << p;  // the same words used up
    }
  }
}

// Past 2^53 sites the gap is compared as a double, below it as an
// integer: both give floor(ln U / ln(1 - p)) from the same word, so the
// site after `site` moves by the same gap whatever the count beyond it.
TEST(Noise, GapsAreTheSameWhateverTheSitesLeft) {
  const FiringRate rate = FiringRate::of(1e-12);
  BlockStream near(ChaChaKey{5}, 1, true), far(ChaChaKey{5}, 1, true);
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t a = rate.following(near, 1000, std::uint64_t{1} << 52);
    const std::uint64_t b = rate.following(far, 1000, std::uint64_t{1} << 62);
    if (a != std::uint64_t{1} << 52)
      ASSERT_EQ(a, b) << i;  // in range of both
    else
      ASSERT_GE(b, std::uint64_t{1} << 52) << i;
  }
}

TEST(Noise, ChoicesFollowTheirWeightsAndSkipZeroWeights) {
  const std::vector<double> cumulative{0.25, 0.25, 0.5, 1.0};  // weights 1/4, 0, 1/4, 1/2
  std::mt19937_64 engine(8);
  std::vector<int> counts(4);
  const int n = 400000;
  for (int i = 0; i < n; ++i) ++counts[choose(cumulative, engine())];
  EXPECT_EQ(counts[1], 0);
  EXPECT_NEAR(counts[0], n / 4.0, 5 * std::sqrt(n * 0.1875));
  EXPECT_NEAR(counts[3], n / 2.0, 5 * std::sqrt(n * 0.25));
  EXPECT_EQ(choose(cumulative, ~std::uint64_t{0}), 3u);
  EXPECT_EQ(choose(std::vector<double>{0.5, 0.5, 0.5}, ~std::uint64_t{0}), 0u);  // rounding: the last nonzero
  for (int i = 0; i < 1000; ++i) EXPECT_LT(uniform_choice(engine(), 15), 15u);
  EXPECT_EQ(uniform_choice(~std::uint64_t{0}, 3), 2u);
}

// ---- rows written out -----------------------------------------------------------------------

// 150 entries (three tiles, the last partial) at entry0 = 64, for the
// call's shots from 530 of a batch starting at shot 512: a two-word batch
// (a chunk narrower than the kernels' eight tiles), and a 24-word one (three
// chunks, the call ending inside the last), plus a narrow tile of 3
// entries read bit by bit; at every width, packed and not.
TEST(ShotRows, TilesLandInEachShotsRowPackedOrNotAtEveryWidth) {
  const std::vector<Word> m = random_words(64 * kTilesSideBySide, 4);
  for (const VectorWidth width : {VectorWidth::portable, VectorWidth::avx2, VectorWidth::avx512}) {
    if (!width_supported(width)) continue;
    std::vector<Word> t = m;
    kernels_for(width).transpose(t.data());
    for (std::size_t j = 0; j < kTilesSideBySide; ++j)
      for (std::size_t i = 0; i < 64; ++i)
        for (std::size_t b = 0; b < 64; ++b)
          ASSERT_EQ((t[kTilesSideBySide * i + j] >> b) & 1, (m[kTilesSideBySide * b + j] >> i) & 1);
  }
  for (const std::size_t row_words : {std::size_t{2}, std::size_t{24}}) {
    // Every partial last tile: 3 entries (narrow), 61 (eight bytes, not
    // whole), 150 (three bytes after two whole tiles).
    for (const std::size_t entries : {std::size_t{150}, std::size_t{3}, std::size_t{61}}) {
      const std::size_t width = 64 + entries + 10, shots = 64 * row_words - 18 - 5;
      const std::vector<Word> rows_data = random_words(entries * row_words, 5);
      std::vector<const Word*> rows(entries, nullptr);
      for (std::size_t e = 0; e < entries; ++e) rows[e] = e == 1 ? nullptr : rows_data.data() + e * row_words;
      const std::vector<Word> reference = random_words(3, 6);
      for (const VectorWidth vector_width : {VectorWidth::portable, VectorWidth::avx2, VectorWidth::avx512}) {
        if (!width_supported(vector_width)) continue;
        for (const bool packed : {false, true}) {
          const std::size_t row_bytes = ShotRows::bytes_for(width, packed);
          std::vector<std::uint8_t> out(shots * row_bytes, 0xEE);
          const ShotRows target{out.data(), 530, shots, row_bytes, packed};
          write_entries(target, 512, row_words, rows.data(), entries, 64, reference.data(),
                        kernels_for(vector_width));
          for (std::uint64_t shot = 530; shot < 530 + shots; ++shot) {
            const std::size_t lane = shot - 512;
            const std::uint8_t* row = out.data() + (shot - 530) * row_bytes;
            for (std::size_t e = 0; e < entries; ++e) {
              const bool value =
                  (rows[e] != nullptr && bit(rows[e], lane)) != (((reference[e / 64] >> (e % 64)) & 1) != 0);
              const std::size_t entry = 64 + e;
              const bool got = packed ? ((row[entry / 8] >> (entry % 8)) & 1) != 0 : row[entry] != 0;
              ASSERT_EQ(got, value) << "packed " << packed << " shot " << shot << " entry " << entry;
              if (!packed) {
                ASSERT_LE(row[entry], 1);
              }
            }
            // Bytes outside the entries are left alone, and a packed row's
            // last byte is padded with zeros.
            const std::size_t first_byte = packed ? 8 : 64,
                              last_byte = packed ? (64 + entries - 1) / 8 : 63 + entries;
            ASSERT_EQ(row[first_byte - 1], 0xEE);
            ASSERT_EQ(row[last_byte + 1], 0xEE);
            if (packed && (64 + entries) % 8 != 0) {
              ASSERT_EQ(row[last_byte] >> ((64 + entries) % 8), 0);
            }
          }
        }
      }
    }
  }
}

// Rows of one byte (1 to 4 entries packed, 1 unpacked) are written eight
// shots at a time: a call from inside the first word to inside the last,
// with a reference, the bytes past the call's rows untouched.
TEST(ShotRows, RowsOfOneByteAreEachShotsEntries) {
  constexpr std::size_t kRowWords = 3, kFirst = 530, kShots = 64 * kRowWords - 18 - 13;
  const std::vector<Word> rows_data = random_words(4 * kRowWords, 7);
  for (const bool packed : {true, false}) {
    for (std::size_t entries = 1; entries <= (packed ? 4u : 1u); ++entries) {
      std::vector<const Word*> rows;
      for (std::size_t e = 0; e < entries; ++e) rows.push_back(rows_data.data() + e * kRowWords);
      const Word reference = 0b1010 >> (entries % 2);
      std::vector<std::uint8_t> out(kShots + 1, 0xEE);
      const ShotRows target{out.data(), kFirst, kShots, 1, packed};
      write_entries(target, 512, kRowWords, rows.data(), entries, 0, &reference, kernels_for(widest_width()));
      for (std::size_t shot = kFirst; shot < kFirst + kShots; ++shot) {
        std::uint8_t expected = 0;
        for (std::size_t e = 0; e < entries; ++e)
          expected |=
              static_cast<std::uint8_t>((bit(rows[e], shot - 512) != (((reference >> e) & 1) != 0)) << e);
        ASSERT_EQ(out[shot - kFirst], expected)
            << "packed " << packed << " entries " << entries << " shot " << shot;
      }
      EXPECT_EQ(out[kShots], 0xEE);
    }
  }
}

// ---- whole runs --------------------------------------------------------------------------------

// Every instruction of the format that does something to frames or records.
const char* const kEverything = R"(
R 0 1 2 3
RX 4
RY 5
H 0
S 1
SQRT_X 2
C_XYZ 3
CX 0 1
CZ 2 3
CY 4 5
XCZ 1 2
YCX 3 4
SWAP 0 5
ISWAP 1 3
SQRT_XX 2 4
SQRT_YY_DAG 0 1
CXSWAP 2 3
SWAPCX 4 5
CZSWAP 0 2
X_ERROR(0.05) 0 1
Y_ERROR(0.05) 2
Z_ERROR(0.05) 3
DEPOLARIZE1(0.05) 4 5
DEPOLARIZE2(0.05) 0 1 2 3
PAULI_CHANNEL_1(0.01, 0.02, 0.03) 4
PAULI_CHANNEL_2(0.01, 0, 0, 0, 0, 0.02, 0, 0, 0, 0, 0, 0, 0, 0, 0.03) 5 0
E(0.1) X0 Z1
ELSE_CORRELATED_ERROR(0.2) Y2
M(0.02) 0 !1
MX 2
MY 3
MR 4
MRX(0.01) 5
MPP X0*Z1 !Y2*Y3
MXX 0 1
MZZ(0.01) 2 3
SPP X0*X1
SPP_DAG Z2
MPAD(0.1) 0 1
HERALDED_ERASE(0.1) 0
HERALDED_PAULI_CHANNEL_1(0.05, 0.05, 0.05, 0.05) 1
CX rec[-1] 2
CZ 3 rec[-2]
REPEAT 3 {
  H 0 1
  CZ 0 1
  DEPOLARIZE1(0.02) 0 1
  MR 0 1
  DETECTOR rec[-1] rec[-3]
}
DETECTOR rec[-1]
OBSERVABLE_INCLUDE(0) rec[-2]
OBSERVABLE_INCLUDE(2) rec[-1] Z3
M 0 1 2 3 4 5
)";

struct Sampled {
  std::vector<std::uint8_t> measurements, detectors, observables;
  bool operator==(const Sampled&) const = default;
};

Sampled sample(const circuit::Program& program, bool detectors, bool packed, std::uint64_t first,
               const std::vector<std::uint64_t>& counts, SamplerOptions options = {}) {
  FrameSampler sampler(program, detectors, packed, options);
  Sampled out;
  for (const std::uint64_t count : counts) {
    std::vector<std::uint8_t> m(count * sampler.measurement_row_bytes()),
        d(count * sampler.detector_row_bytes()), o(count * sampler.observable_row_bytes());
    sampler.run_shots(ChaChaKey{11, 12}, first, count, {m, d, o});
    out.measurements.insert(out.measurements.end(), m.begin(), m.end());
    out.detectors.insert(out.detectors.end(), d.begin(), d.end());
    out.observables.insert(out.observables.end(), o.begin(), o.end());
    first += count;
  }
  return out;
}

// One call, any split into calls (starting mid-block, crossing blocks),
// any number of blocks side by side, any vector width: the same bytes.
TEST(FrameSampler, RowsDependOnTheShotNumbersAloneNotOnSplitsBatchesOrWidth) {
  const circuit::Program program = circuit::read_circuit(kEverything);
  for (const bool detectors : {false, true}) {
    for (const bool packed : {false, true}) {
      const Sampled whole = sample(program, detectors, packed, 100, {700});
      EXPECT_EQ(sample(program, detectors, packed, 100, {7, 250, 66, 0, 377}), whole);
      EXPECT_EQ(sample(program, detectors, packed, 100, {700}, {VectorWidth::portable, 1}), whole);
      EXPECT_EQ(sample(program, detectors, packed, 100, {700}, {widest_width(), 3}), whole);
      EXPECT_NE(sample(program, detectors, packed, 356, {700}), whole);
      const Sampled shifted = sample(program, detectors, packed, 356, {444});
      const std::size_t width = whole.measurements.size() / 700 + whole.detectors.size() / 700;
      if (!detectors) {
        EXPECT_TRUE(std::equal(shifted.measurements.begin(), shifted.measurements.end(),
                               whole.measurements.begin() + 256 * static_cast<std::ptrdiff_t>(width)));
      }
    }
  }
}

// Wide batches (up to the most blocks a batch takes) and a record longer
// than a flush, with look-backs across flushes: the same bytes as two
// blocks at a time at the portable width, and as the rows split in calls.
TEST(FrameSampler, WideBatchesAndLongRecordsGiveTheSameRows) {
  const circuit::Program program = circuit::read_circuit(
      "M 0 1\nREPEAT 300 {\n H 0 1\n CX 0 1\n DEPOLARIZE1(0.02) 0 1\n M(0.05) 0 1\n"
      " DETECTOR rec[-1] rec[-3]\n CX rec[-2] 1\n}\nOBSERVABLE_INCLUDE(0) rec[-1]\n");
  for (const bool detectors : {false, true}) {
    const Sampled narrow = sample(program, detectors, true, 5, {64 * 256 + 40}, {VectorWidth::portable, 2});
    EXPECT_EQ(sample(program, detectors, true, 5, {64 * 256 + 40}, {widest_width(), 64}), narrow);
    EXPECT_EQ(sample(program, detectors, true, 5, {3000, 13424}), narrow);
  }
}

// A look-back further than a flush of rows (the ring then holds more than
// a flush) and a record shorter than one (the ring holds the record): the
// flip set by the first measurement reaches the last through the ring.
TEST(FrameSampler, LookBacksFindTheirRowsPastAFlush) {
  std::string text = "X_ERROR(1) 0\nM 0\n";
  for (int i = 0; i < 700; ++i) text += "M 1\n";
  text += "CX rec[-701] 2\nM 2\nDETECTOR rec[-1]\nDETECTOR rec[-702]\n";
  const circuit::Program program = circuit::read_circuit(text);
  for (const bool detectors : {false, true}) {
    const Sampled rows = sample(program, detectors, false, 0, {600});
    for (std::size_t shot = 0; shot < 600; ++shot) {
      if (detectors) {
        ASSERT_EQ(rows.detectors[2 * shot], 1) << shot;
        ASSERT_EQ(rows.detectors[2 * shot + 1], 1) << shot;
      } else {
        ASSERT_EQ(rows.measurements[702 * shot], 1) << shot;
        ASSERT_EQ(rows.measurements[702 * shot + 701], 1) << shot;
      }
    }
  }
  const circuit::Program short_record = circuit::read_circuit("X_ERROR(1) 0\nM 0 1\nCX rec[-2] 2\nM 2");
  const Sampled rows = sample(short_record, false, true, 3, {1000});
  for (std::size_t shot = 0; shot < 1000; ++shot) ASSERT_EQ(rows.measurements[shot], 0b101) << shot;
}

// The last shot numbers below 2^64: blocks there still split and write
// their rows (no shot number wraps), and the last call ends at 2^64 - 1.
TEST(FrameSampler, ShotsJustBelowTwoToTheSixtyFourWriteTheirRows) {
  const circuit::Program program = circuit::read_circuit("H 0\nM 0\nH 1\nMPAD 1\nM 1");
  const std::uint64_t first = ~std::uint64_t{0} - 300;  // 300 shots up to 2^64 - 2, then one more
  const Sampled whole = sample(program, false, false, first, {301});
  EXPECT_EQ(sample(program, false, true, first, {100, 201}).measurements,
            sample(program, false, true, first, {301}).measurements);
  EXPECT_EQ(sample(program, false, false, first, {7, 250, 44}), whole);
  std::size_t ones = 0, pads = 0;
  for (std::size_t shot = 237; shot < 301; ++shot) {  // the last block's shots
    ones += whole.measurements[3 * shot];
    pads += whole.measurements[3 * shot + 1];
  }
  EXPECT_EQ(pads, 64u);  // every row written (MPAD 1 reads 1)
  EXPECT_GT(ones, 10u);
  EXPECT_LT(ones, 54u);
}

// Without noise every detector of a code is 0 in every shot, and the
// measurements the reference fixes are the same in every shot.
TEST(FrameSampler, NoiselessDetectorsNeverFireAndFixedOutcomesStayFixed) {
  const circuit::Program program = circuit::read_circuit(
      "R 0 1 2 3 4\nH 0\nCX 0 1 1 2 2 3\nMPP Z0*Z1 X0*X1*X2*X3\nREPEAT 4 {\nCX 0 4 1 4\nMR 4\nDETECTOR "
      "rec[-1]\n"
      "MPP Z0*Z1 X0*X1*X2*X3\nDETECTOR rec[-2] rec[-5]\nDETECTOR rec[-1] rec[-4]\n}\nM 0 1 2 3\n"
      "DETECTOR rec[-1] rec[-2]\nOBSERVABLE_INCLUDE(1) rec[-1] rec[-4]\nOBSERVABLE_INCLUDE(1) Z0 Z3");
  const Sampled d = sample(program, true, false, 0, {1000});
  EXPECT_EQ(std::count(d.detectors.begin(), d.detectors.end(), 1), 0);
  EXPECT_EQ(std::count(d.observables.begin(), d.observables.end(), 1), 0);
  const Sampled m = sample(program, false, false, 0, {1000});
  const std::size_t width = program.measurement_count;
  std::size_t ones_first = 0;
  for (std::size_t shot = 0; shot < 1000; ++shot) {
    ones_first += m.measurements[shot * width + width - 4];
    // The last four measurements agree with each other (a GHZ state).
    for (std::size_t q = 1; q < 4; ++q) {
      ASSERT_EQ(m.measurements[shot * width + width - 4 + q], m.measurements[shot * width + width - 4]);
    }
    ASSERT_EQ(m.measurements[shot * width], 0) << "Z0 Z1 of a GHZ state";
    ASSERT_EQ(m.measurements[shot * width + 1], 0) << "X0 X1 X2 X3 of a GHZ state";
    ASSERT_EQ(m.measurements[shot * width + 2], 0) << "the ancilla of Z0 Z1";
  }
  EXPECT_GT(ones_first, 400u);
  EXPECT_LT(ones_first, 600u);
}

// Circuits that isolate one rule each, read out so that a wrong rule
// shows in the rates: Pauli channels on one half of Bell pairs, read by XX
// and ZZ (X, Y and Z each flip a different set); a chain of correlated
// errors; heralds with the Paulis they bring; feed-forward; products,
// pair measurements, rotations and recorded flips.
const char* const kIsolated[] = {
    "H 0 1 2 3 4\nCX 0 5 1 6 2 7 3 8 4 9\nPAULI_CHANNEL_1(0.1, 0.2, 0.3) 0\n"
    "PAULI_CHANNEL_2(0.01, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0.08) "
    "1 2\n"
    "DEPOLARIZE2(0.3) 3 4\nMPP X0*X5 Z0*Z5 X1*X6 Z1*Z6 X2*X7 Z2*Z7 X3*X8 Z3*Z8 X4*X9 Z4*Z9",
    "H 0 1\nCX 0 2 1 3\nDEPOLARIZE1(0.4) 0\nY_ERROR(0.3) 1\nMXX 0 2 1 3\nMZZ 0 2 1 3",
    "E(0.3) X0\nELSE_CORRELATED_ERROR(0.5) X1\nELSE_CORRELATED_ERROR(0.5) X2 Z0\nE(0.2) X3\n"
    "ELSE_CORRELATED_ERROR(1) X4\nM 0 1 2 3 4",
    "H 2\nCX 2 3\nHERALDED_ERASE(0.4) 0 2\nHERALDED_PAULI_CHANNEL_1(0.1, 0.2, 0.1, 0.3) 1\nM 0 1\nMXX 2 "
    "3\nMZZ 2 3",
    "H 0\nM 0\nCX rec[-1] 1\nCY rec[-1] 2\nH 3\nCZ 3 rec[-1]\nH 3\nXCZ 4 rec[-1]\nM 1 2 3 4\nMY 2",
    "H 0 1 2\nMPP(0.1) X0*X1 !Z2\nMXX 0 1\nMYY 1 2\nMZZ(0.2) 0 2\nSPP Z0*Z1\nSPP_DAG X2\nMX 0 1\nM "
    "!2\nMPAD(0.3) 1 0",
    "RX 0\nRY 1\nR 2\nX_ERROR(0.25) 0 1 2\nZ_ERROR(0.25) 0 1 2\nMRX(0.05) 0\nMRY 1\nMR 2\nMX 0\nMY 1\nM 2",
};

// Rate of 1s of entry a, or of a XOR b, over the rows.
double rate(const std::vector<std::uint8_t>& rows, std::size_t width, std::size_t a, std::size_t b) {
  const std::size_t shots = rows.size() / width;
  std::size_t ones = 0;
  for (std::size_t s = 0; s < shots; ++s)
    ones += (rows[s * width + a] ^ (a == b ? 0 : rows[s * width + b])) & 1;
  return static_cast<double>(ones) / static_cast<double>(shots);
}

// Every entry's rate and every pair's parity rate agree within five
// standard deviations.
void expect_same_rates(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& theirs,
                       std::size_t width, const std::string& what) {
  if (width == 0) return;
  const double shots = static_cast<double>(ours.size() / width);
  for (std::size_t a = 0; a < width; ++a) {
    for (std::size_t b = a; b < width; ++b) {
      const double p = rate(ours, width, a, b), q = rate(theirs, width, a, b);
      const double pooled = (p + q) / 2;
      EXPECT_LE(std::abs(p - q), 5 * std::sqrt(pooled * (1 - pooled) * 2 / shots) + 1e-12)
          << what << ": entries " << a << ", " << b << ": frames " << p << ", registers " << q;
    }
  }
}

// Detection events that depend on no gauge bit are the same bytes whether
// the gauges are drawn or not (the sampler skips them once it has looked,
// at a call of kProbeBlocks blocks or more), under noise of every kind,
// feed-forward, products, heralds and Pauli observables; and events that
// do depend on one stay random, be it a detector or an observable.
TEST(FrameSampler, EventsIndependentOfTheGaugesAreTheSameWithoutThem) {
  const circuit::Program program = circuit::read_circuit(
      "R 0 1 2 3 4\nRX 5\nMR 3 4\nREPEAT 6 {\nX_ERROR(0.02) 0 1 2\nDEPOLARIZE2(0.02) 0 1\n"
      "PAULI_CHANNEL_1(0.01, 0.02, 0.03) 2\nCX 0 3 1 3 1 4 2 4\nMR(0.01) 3 4\n"
      "DETECTOR rec[-1] rec[-3]\nDETECTOR rec[-2] rec[-4]\nCZ rec[-1] 0\nCX rec[-2] 5\n"
      "E(0.02) X0 Z5\nELSE_CORRELATED_ERROR(0.03) X1 Z5\nHERALDED_ERASE(0.02) 2\nDETECTOR rec[-1]\n"
      "MPP(0.01) X5 Z0*Z1\nDETECTOR rec[-2]\nMPAD(0.05) 0\nDETECTOR rec[-1]\nMR 3 4\n}\n"
      "M 0 1 2\nDETECTOR rec[-1] rec[-2]\nOBSERVABLE_INCLUDE(0) rec[-1]\nOBSERVABLE_INCLUDE(1) Z0 X5");
  const std::uint64_t shots = (kProbeBlocks + 4) * kBlockShots;
  SamplerOptions always;
  always.always_draw_gauges = true;
  for (const bool packed : {false, true}) {
    const Sampled drawn = sample(program, true, packed, 100, {shots}, always);
    EXPECT_EQ(sample(program, true, packed, 100, {shots}), drawn);
    EXPECT_EQ(sample(program, true, packed, 100, {300, shots - 300}), drawn);  // drawn, then skipped
    EXPECT_NE(std::count(drawn.detectors.begin(), drawn.detectors.end(), 0), drawn.detectors.size());
  }

  for (const char* random : {"RX 0\nM 0\nDETECTOR rec[-1]", "R 0\nM 0\nDETECTOR rec[-1]\nH 0\n"
                                                            "OBSERVABLE_INCLUDE(3) Z0"}) {
    const Sampled rows = sample(circuit::read_circuit(random), true, false, 0, {shots});
    const auto& events = rows.observables.empty() ? rows.detectors : rows.observables;
    const std::size_t width = events.size() / shots;
    const double ones = rate(events, width, width - 1, width - 1);
    EXPECT_GT(ones, 0.45) << random;
    EXPECT_LT(ones, 0.55) << random;
  }
}

// Frames and per-shot register runs of the same circuits are distributed
// alike: measurement records, and detection events with observables.
TEST(FrameSampler, DistributedAsThePerShotRegisterRuns) {
  std::vector<std::string> texts(std::begin(kIsolated), std::end(kIsolated));
  texts.push_back(kEverything);
  const std::size_t shots = 20000;
  for (const std::string& text : texts) {
    const circuit::Program program = circuit::read_circuit(text);
    const Sampled frames = sample(program, false, false, 0, {shots});
    circuit::ShotSampler registers(program, ChaChaKey{5}, false);
    std::vector<std::uint8_t> reg(shots * program.measurement_count);
    registers.run_shots(0, shots, reg, {}, {});
    expect_same_rates(frames.measurements, reg, program.measurement_count, text);
  }
  // Observables of Pauli products the state fixes (noise moves the state
  // between their eigenstates), next to detectors.
  const circuit::Program program = circuit::read_circuit(
      "H 0\nCX 0 1\nX_ERROR(0.2) 0\nZ_ERROR(0.3) 1\nOBSERVABLE_INCLUDE(0) Z0 Z1\nOBSERVABLE_INCLUDE(1) X0 "
      "X1\n"
      "Y_ERROR(0.1) 1\nOBSERVABLE_INCLUDE(3) Y0 Y1\nMZZ 0 1\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(1) "
      "rec[-1]");
  const Sampled frames = sample(program, true, false, 0, {shots});
  circuit::ShotSampler registers(program, ChaChaKey{5}, true);
  std::vector<std::uint8_t> d(shots * program.detector_count), o(shots * program.observable_count);
  registers.run_shots(0, shots, {}, d, o);
  expect_same_rates(frames.detectors, d, program.detector_count, "detectors");
  expect_same_rates(frames.observables, o, program.observable_count, "observables");
}

}  // namespace
}  // namespace ordavine::frames
