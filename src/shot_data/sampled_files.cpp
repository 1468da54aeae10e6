#include "shot_data/sampled_files.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "failure/failure.hpp"
#include "frames/batch_rows.hpp"
#include "frames/row_join.hpp"
#include "frames/shot_rows.hpp"
#include "register/out_of_memory.hpp"

namespace ordavine::shot_data {
namespace {

constexpr std::uint64_t kStretchBytes = std::uint64_t{16} << 20;

class FileStretches final : public frames::StretchSink {
 public:
  FileStretches(const SampledFiles& files, std::uint64_t detectors, std::uint64_t observables,
                std::uint64_t stretch)
      : files_(files), detectors_(detectors), observables_(observables) {
    if (files.columns == ObservableColumns::none) return;
    const std::uint64_t bytes = stretch * frames::ShotRows::bytes_for(detectors + observables, true);
    joined_ = allocate_for(
        bytes, [] { return std::string("the joined rows of a stretch of shots"); },
        [&] { return std::vector<std::uint8_t>(static_cast<std::size_t>(bytes)); });
  }

  void take(const frames::Stretch& stretch) override {
    const auto& rows = stretch.rows;
    if (files_.observables != nullptr) files_.observables->write_shots(rows.observables, stretch.count);
    if (!rows.measurements.empty() || detectors_ + observables_ == 0 ||
        files_.columns == ObservableColumns::none) {
      const auto records = rows.measurements.empty() ? rows.detectors : rows.measurements;
      return files_.records->write_shots(records, stretch.count);
    }
    const std::size_t bytes = static_cast<std::size_t>(stretch.count) *
                              frames::ShotRows::bytes_for(detectors_ + observables_, true);
    const std::span<std::uint8_t> joined(joined_.data(), bytes);
    if (files_.columns == ObservableColumns::appended) {
      frames::join_rows(rows.detectors, detectors_, rows.observables, observables_, stretch.count, true,
                        joined);
    } else {
      frames::join_rows(rows.observables, observables_, rows.detectors, detectors_, stretch.count, true,
                        joined);
    }
    files_.records->write_shots(joined, stretch.count);
  }

 private:
  const SampledFiles& files_;
  std::uint64_t detectors_, observables_;
  std::vector<std::uint8_t> joined_;
};

}  // namespace

std::uint64_t stretch_for(std::uint64_t row_bytes) {
  const std::uint64_t blocks = kStretchBytes / std::max<std::uint64_t>(row_bytes, 1) / frames::kBlockShots;
  return std::max<std::uint64_t>(blocks, 1) * frames::kBlockShots;
}

void write_sampled_shots(frames::ShotSource& sampler, const frames::ShotCall& call, std::uint64_t detectors,
                         std::uint64_t observables, const SampledFiles& files) {
  if (files.records == nullptr) fail("shots written without a file for their records");
  const std::uint64_t row_bytes =
      sampler.measurement_row_bytes() + sampler.detector_row_bytes() + sampler.observable_row_bytes();
  const std::uint64_t stretch = std::max<std::uint64_t>(1, std::min(stretch_for(row_bytes), call.count));
  FileStretches sink(files, detectors, observables, stretch);
  frames::sample_shots(sampler, call, stretch, sink);
  files.records->finish();
  if (files.observables != nullptr) files.observables->finish();
}

}  // namespace ordavine::shot_data
