// The shot data writer: small cases worked out by hand per format, files
// written by Stim for random shots (tests/cpp/data), and random shots of
// every width against the bit-at-a-time reference, split into stretches
// in many ways.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "failure/failure.hpp"
#include "shot_data/io_error.hpp"
#include "shot_data/writer.hpp"
#include "support/shot_data_reference.hpp"

namespace ordavine::shot_data {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr ShotFormat kAll[] = {ShotFormat::f01,   ShotFormat::b8,   ShotFormat::r8,
                               ShotFormat::ptb64, ShotFormat::hits, ShotFormat::dets};

// The file the writer makes of `rows`, fed as stretches of the given shot
// counts (the rest of the shots in one last stretch).
Bytes written(ShotFormat format, std::uint64_t bits, const std::vector<PrefixRun>& layout, const Bytes& rows,
              std::uint64_t shots, const std::vector<std::uint64_t>& stretches = {}) {
  MemorySink sink;
  ShotDataWriter writer(format, bits, layout, sink);
  test_shot_data::feed_in_stretches(writer, rows, shots, stretches);
  writer.finish();
  return sink.bytes();
}

Bytes text(const std::string& s) { return {s.begin(), s.end()}; }

TEST(ShotFormats, NamesAndShotCounts) {
  for (const ShotFormat format : kAll) EXPECT_EQ(parse_shot_format(shot_format_name(format)), format);
  for (const char* bad : {"xyz", "B8", "", "01 "}) {
    try {
      parse_shot_format(bad);
      ADD_FAILURE() << bad;
    } catch (const InvalidInput& e) {
      EXPECT_EQ(e.message(), "unknown shot data format '" + std::string(bad) +
                                 "': the formats are 01, b8, r8, ptb64, hits, dets");
    }
  }
  for (const std::uint64_t shots : {0, 64, 128}) EXPECT_NO_THROW(check_shot_count(ShotFormat::ptb64, shots));
  EXPECT_NO_THROW(check_shot_count(ShotFormat::r8, 65));
  try {
    check_shot_count(ShotFormat::ptb64, 65);
    ADD_FAILURE();
  } catch (const InvalidInput& e) {
    EXPECT_EQ(e.message(),
              "the ptb64 format needs a shot count that is a multiple of 64, but the shot count is 65");
  }
  // Fed 65 shots all the same, the writer refuses at the end.
  EXPECT_THROW(written(ShotFormat::ptb64, 3, {}, Bytes(65), 65, {64}), InvalidInput);
}

TEST(ShotFormats, HandCheckedShotsOfTenBits) {
  // Zeros, ones, and bits 1 and 8; the padding bits of the rows are set and must not show.
  const Bytes rows = {0x00, 0xfc, 0xff, 0xff, 0x02, 0x01};
  const std::vector<PrefixRun> layout = {{'D', 8}, {'L', 2}};
  const auto file = [&](ShotFormat format) { return written(format, 10, layout, rows, 3); };
  EXPECT_EQ(file(ShotFormat::f01), text("0000000000\n1111111111\n0100000010\n"));
  EXPECT_EQ(file(ShotFormat::b8), (Bytes{0x00, 0x00, 0xff, 0x03, 0x02, 0x01}));
  Bytes r8 = {10};
  r8.insert(r8.end(), 11, 0);
  r8.insert(r8.end(), {1, 6, 1});
  EXPECT_EQ(file(ShotFormat::r8), r8);
  EXPECT_EQ(file(ShotFormat::hits), text("\n0,1,2,3,4,5,6,7,8,9\n1,8\n"));
  EXPECT_EQ(file(ShotFormat::dets), text("shot\nshot D0 D1 D2 D3 D4 D5 D6 D7 L0 L1\nshot D1 L0\n"));
  EXPECT_EQ(written(ShotFormat::dets, 10, {{'M', 10}}, rows, 3),
            text("shot\nshot M0 M1 M2 M3 M4 M5 M6 M7 M8 M9\nshot M1 M8\n"));
}

TEST(ShotFormats, HandCheckedLongRunsAndGroups) {
  // r8: 600 zeros; then ones at 255 and 599 (255 zeros before a 1 are 255 then 0).
  Bytes rows(150, 0);
  rows[75 + 255 / 8] |= 1 << (255 % 8);
  rows[75 + 599 / 8] |= 1 << (599 % 8);
  EXPECT_EQ(written(ShotFormat::r8, 600, {}, rows, 2), (Bytes{255, 255, 90, 255, 0, 255, 88, 0}));
  // ptb64: bit 0 set in shot 0 only, bit 1 in shots 32 to 63; no bits at all is an empty file.
  Bytes group(64, 0);
  group[0] = 1;
  for (int s = 32; s < 64; ++s) group[s] |= 2;
  EXPECT_EQ(written(ShotFormat::ptb64, 2, {}, group, 64),
            (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}));
  EXPECT_TRUE(written(ShotFormat::ptb64, 0, {}, {}, 128).empty());
  EXPECT_EQ(written(ShotFormat::r8, 0, {}, {}, 2), (Bytes{0, 0}));
  EXPECT_EQ(written(ShotFormat::dets, 0, {}, {}, 2), text("shot\nshot\n"));
}

Bytes read_fixture(const std::string& name) {
  std::ifstream in(std::string(ORDAVINE_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(ShotFormats, FilesWrittenByStim) {
  struct Case {
    const char* name;
    std::uint64_t bits;
    std::vector<PrefixRun> layout;
    std::vector<const char*> formats;
  };
  const Case cases[] = {
      {"dense13", 13, {{'M', 13}}, {"01", "b8", "r8", "ptb64", "hits", "dets"}},
      {"mixed70", 70, {{'D', 64}, {'L', 6}}, {"01", "b8", "r8", "ptb64", "hits", "dets"}},
      {"sparse600", 600, {{'D', 590}, {'L', 10}}, {"r8", "ptb64", "hits", "dets"}},
  };
  for (const Case& c : cases) {
    const Bytes rows = read_fixture(std::string(c.name) + ".rows");
    const std::uint64_t shots = rows.size() / ((c.bits + 7) / 8);
    for (const char* name : c.formats) {
      const ShotFormat format = parse_shot_format(name);
      const Bytes expected = read_fixture(std::string(c.name) + "." + name);
      EXPECT_EQ(written(format, c.bits, c.layout, rows, shots), expected) << c.name << "." << name;
      EXPECT_EQ(written(format, c.bits, c.layout, rows, shots, {1, 0, 30, 33}), expected)
          << c.name << "." << name;
    }
  }
}

TEST(ShotFormats, RandomShotsAgreeWithTheReferenceHoweverSplit) {
  std::mt19937_64 gen(77);
  for (int trial = 0; trial < 300; ++trial) {
    const std::uint64_t bits = trial < 40 ? trial % 8 + 60 + (trial / 8) * 32 : gen() % 300;
    const std::uint64_t shots = 64 * (gen() % 3 + 1);
    const double ones = std::array{0.0, 0.002, 0.05, 0.5, 0.97, 1.0}[gen() % 6];
    Bytes rows(shots * ((bits + 7) / 8));
    std::bernoulli_distribution one(ones);
    for (std::uint64_t s = 0; s < shots; ++s) {
      for (std::uint64_t b = 0; b < bits; ++b) rows[s * ((bits + 7) / 8) + b / 8] |= one(gen) << (b % 8);
    }
    // Runs of any length, empty ones too: a 1 bit may come runs after the last.
    const std::uint64_t d = gen() % (bits + 1), m = gen() % (bits - d + 1);
    const std::vector<PrefixRun> layout = {{'D', d}, {'X', 0}, {'M', m}, {'L', bits - d - m}};
    std::vector<std::uint64_t> stretches;
    for (int k = gen() % 6; k > 0; --k) stretches.push_back(gen() % 80);
    for (const ShotFormat format : kAll) {
      const Bytes expected = test_shot_data::reference_file(format, bits, layout, rows, shots);
      ASSERT_EQ(written(format, bits, layout, rows, shots, stretches), expected)
          << shot_format_name(format) << " bits " << bits << " trial " << trial;
    }
  }
}

// A sink that takes `room` bytes, then refuses like a full disk.
class FullSink final : public ByteSink {
 public:
  explicit FullSink(std::size_t room) : room_(room) {}
  void write(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > room_) throw IoError(ENOSPC);
    room_ -= bytes.size();
  }

 private:
  std::size_t room_;
};

TEST(ShotFormats, RefusedWritesAndMisuse) {
  if (std::FILE* full = std::fopen("/dev/full", "wb")) {
    FileSink sink(full);
    ShotDataWriter writer(ShotFormat::f01, 100, {}, sink);
    const Bytes rows(13 * 1000, 0x5a);
    try {
      writer.write_shots(rows, 1000);
      writer.finish();
      ADD_FAILURE() << "a write to /dev/full went through";
    } catch (const IoError& e) {
      EXPECT_EQ(e.error_number(), ENOSPC);
      EXPECT_EQ(e.message(), std::error_code(ENOSPC, std::generic_category()).message());
    }
    std::fclose(full);
  }
  FullSink sink(100);
  ShotDataWriter writer(ShotFormat::hits, 8, {}, sink);
  const Bytes rows(1000, 0xff);
  EXPECT_THROW(writer.write_shots(rows, 1000), IoError);
  EXPECT_THROW(writer.write_shots(rows, 1000), Failure);  // not again after a failed write
  MemorySink memory;
  EXPECT_THROW(ShotDataWriter(ShotFormat::dets, 10, {{'D', 8}, {'L', 1}}, memory), Failure);
  EXPECT_THROW(ShotDataWriter(ShotFormat::dets, 10, {{'d', 10}}, memory), Failure);
  ShotDataWriter b8(ShotFormat::b8, 10, {}, memory);
  EXPECT_THROW(b8.write_shots(Bytes(5), 3), Failure);
  EXPECT_TRUE(memory.bytes().empty());
}

}  // namespace
}  // namespace ordavine::shot_data
