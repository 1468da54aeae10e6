#include "shot_data/writer.hpp"

#include <algorithm>
#include <string>

#include "failure/failure.hpp"
#include "register/out_of_memory.hpp"
#include "shot_data/binary_formats.hpp"

namespace ordavine::shot_data {
namespace {

// Marks the writer unusable unless the work it guards returns.
class BreakUnlessDone {
 public:
  explicit BreakUnlessDone(bool& broken) : broken_(broken) { broken_ = true; }
  void done() { broken_ = false; }

 private:
  bool& broken_;
};

}  // namespace

ShotDataWriter::ShotDataWriter(ShotFormat format, std::uint64_t bits, const std::vector<PrefixRun>& layout,
                               ByteSink& sink)
    : format_(format), shape_{bits}, sink_(sink), out_(sink) {
  // A ptb64 group holds 64 rows: their bytes must be countable.
  if (bits / 8 >= std::uint64_t{SIZE_MAX} / 64) {
    fail("a shot of " + std::to_string(bits) + " bits is too large to address");
  }
  if (format == ShotFormat::dets) layout_ = DetsLayout(layout, bits);
}

void ShotDataWriter::write_shots(std::span<const std::uint8_t> rows, std::uint64_t shots) {
  if (broken_) fail("a shot data writer used again after a failed write");
  const std::size_t row_bytes = shape_.bytes();
  if ((row_bytes != 0 && shots > rows.size() / row_bytes) || rows.size() != shots * row_bytes) {
    fail("a stretch of " + std::to_string(shots) + " shots given " + std::to_string(rows.size()) +
         " bytes of rows of " + std::to_string(row_bytes));
  }
  BreakUnlessDone guard(broken_);
  if (format_ == ShotFormat::ptb64) {
    write_ptb64(rows.data(), shots);
  } else {
    write_whole(rows.data(), shots);
  }
  out_.drain();
  shots_ += shots;
  guard.done();
}

void ShotDataWriter::write_whole(const std::uint8_t* rows, std::uint64_t shots) {
  const std::size_t row_bytes = shape_.bytes();
  switch (format_) {
    case ShotFormat::b8: write_b8_shots(rows, shots, shape_, out_); return;
    case ShotFormat::f01:
      for (std::uint64_t s = 0; s < shots; ++s) write_01_shot(rows + s * row_bytes, shape_, out_);
      return;
    case ShotFormat::r8:
      for (std::uint64_t s = 0; s < shots; ++s) write_r8_shot(rows + s * row_bytes, shape_, out_);
      return;
    case ShotFormat::hits:
      for (std::uint64_t s = 0; s < shots; ++s) write_hits_shot(rows + s * row_bytes, shape_, out_);
      return;
    case ShotFormat::dets:
      for (std::uint64_t s = 0; s < shots; ++s) write_dets_shot(rows + s * row_bytes, shape_, layout_, out_);
      return;
    case ShotFormat::ptb64: break;
  }
  fail("a shot data format the writer does not handle: " + std::string(shot_format_name(format_)));
}

void ShotDataWriter::write_ptb64(const std::uint8_t* rows, std::uint64_t shots) {
  const std::size_t row_bytes = shape_.bytes();
  const std::size_t group_bytes = 64 * row_bytes;
  if (pending_shots_ > 0) {
    const std::uint64_t taken = std::min(64 - pending_shots_, shots);
    pending_.insert(pending_.end(), rows, rows + taken * row_bytes);
    pending_shots_ += taken;
    rows += taken * row_bytes;
    shots -= taken;
    if (pending_shots_ < 64) return;
    write_ptb64_group(pending_.data(), shape_, out_);
    pending_.clear();
    pending_shots_ = 0;
  }
  for (; shots >= 64; shots -= 64, rows += group_bytes) write_ptb64_group(rows, shape_, out_);
  if (shots > 0) {
    allocate_for(
        group_bytes, [] { return std::string("the rows of a group of 64 shots"); },
        [&] { pending_.reserve(group_bytes); });
    pending_.assign(rows, rows + shots * row_bytes);
    pending_shots_ = shots;
  }
}

void ShotDataWriter::finish() {
  if (broken_) fail("a shot data writer used again after a failed write");
  check_shot_count(format_, shots_);
  BreakUnlessDone guard(broken_);
  out_.drain();
  sink_.flush();
  guard.done();
}

}  // namespace ordavine::shot_data
