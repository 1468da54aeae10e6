// Coverage-guided fuzzing of the shot data writer.
//
// The input picks a format, a number of bits per shot, a shot count, the
// dets prefix runs and a split of the shots into stretches; the rest of it
// is the shots' packed rows (repeated to fill them, padding bits included,
// which the writer must ignore).  The target checks that:
//   - nothing escapes but ptb64's refusal of a shot count that is not a
//     multiple of 64, which both ways of writing raise at the end;
//   - the split stretches give the bytes of one stretch, and both give the
//     bit-at-a-time reference (for the whole groups, when ptb64 refuses);
//   - a sink that refuses after some bytes surfaces as IoError, and what
//     it took is the start of the file.
// Any disagreement aborts, which libFuzzer reports as a crash with the input.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "failure/failure.hpp"
#include "shot_data/io_error.hpp"
#include "shot_data/writer.hpp"
#include "support/shot_data_reference.hpp"

namespace {

using namespace ordavine;
using namespace ordavine::shot_data;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeader = 8;

[[noreturn]] void fuzz_fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Takes `room` bytes, then refuses like a full disk.
class FullSink final : public ByteSink {
 public:
  explicit FullSink(std::size_t room) : room_(room) {}
  void write(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > room_ - taken_.size()) throw IoError(ENOSPC);
    taken_.insert(taken_.end(), bytes.begin(), bytes.end());
  }
  const Bytes& taken() const { return taken_; }

 private:
  std::size_t room_;
  Bytes taken_;
};

struct Outcome {
  bool refused = false;  // the shot count, at finish
};

// Writes `shots` rows in the given stretches (the rest in one more).
Outcome write(ShotDataWriter& writer, const Bytes& rows, std::uint64_t shots,
              const std::vector<std::uint64_t>& stretches) {
  test_shot_data::feed_in_stretches(writer, rows, shots, stretches);
  try {
    writer.finish();
  } catch (const InvalidInput&) {
    return {true};
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const ShotFormat format = static_cast<ShotFormat>(data[0] % 6);
  const std::uint64_t bits = (data[1] | std::uint64_t{data[2]} << 8) % 700;
  const std::uint64_t shots = data[3] % 4 == 0 ? 64 * (data[3] % 12 / 4 + 1) : data[3] % 150;
  const std::uint64_t d = bits * data[4] / 255, m = (bits - d) * data[5] / 255;
  const std::vector<PrefixRun> layout = {{'D', d}, {'M', m}, {'L', bits - d - m}};
  const std::size_t split_count = data[6] % 8;
  const std::size_t room = std::size_t{data[7]} * 997;
  std::size_t at = kHeader;
  std::vector<std::uint64_t> stretches;
  for (; stretches.size() < split_count && at < size; ++at) stretches.push_back(data[at] % 100);

  const std::size_t row_bytes = static_cast<std::size_t>((bits + 7) / 8);
  Bytes rows(static_cast<std::size_t>(shots) * row_bytes, 0);
  for (std::size_t k = 0; at < size && k < rows.size(); ++k) rows[k] = data[at + k % (size - at)];

  MemorySink whole_sink, split_sink;
  ShotDataWriter whole(format, bits, layout, whole_sink);
  ShotDataWriter split(format, bits, layout, split_sink);
  const Outcome whole_outcome = write(whole, rows, shots, {});
  const Outcome split_outcome = write(split, rows, shots, stretches);
  const bool must_refuse = format == ShotFormat::ptb64 && shots % 64 != 0;
  if (whole_outcome.refused != must_refuse || split_outcome.refused != must_refuse) {
    fuzz_fail("the ptb64 shot count rule");
  }
  if (whole_sink.bytes() != split_sink.bytes()) fuzz_fail("a split into stretches changed the bytes");
  const std::uint64_t complete = must_refuse ? shots / 64 * 64 : shots;
  if (whole_sink.bytes() != test_shot_data::reference_file(format, bits, layout, rows, complete)) {
    fuzz_fail("the bytes differ from the bit-at-a-time reference");
  }

  if (must_refuse || room >= whole_sink.bytes().size()) return 0;
  FullSink full(room);
  ShotDataWriter refused(format, bits, layout, full);
  try {
    write(refused, rows, shots, stretches);
    fuzz_fail("a sink's refusal did not surface");
  } catch (const IoError&) {
  }
  const Bytes& taken = full.taken();
  if (!std::equal(taken.begin(), taken.end(), whole_sink.bytes().begin())) {
    fuzz_fail("a refused write took bytes that are not the start of the file");
  }
  return 0;
}
