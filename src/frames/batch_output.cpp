#include "frames/batch_output.hpp"

#include <algorithm>

namespace ordavine::frames {

void BatchOutput::measurements(const RecordRing& ring, std::size_t row_words, std::uint64_t entry0,
                               std::size_t entries) {
  meter_->count(entries * blocks_);
  for (std::size_t e = 0; e < entries; ++e) rows_[e] = ring.row(entry0 + e);
  if (call_ == nullptr) return note_events(row_words, entries);
  write_entries(call_->measurements, batch_first_, row_words, rows_.data(), entries, entry0,
                call_->reference + entry0 / 64, kernels_);
}

void BatchOutput::note_events(std::size_t row_words, std::size_t entries) {
  const std::size_t words = blocks_ * kBlockWords;  // the row's words beyond are not shots
  for (std::size_t e = 0; e < entries && !saw_event_; ++e) {
    if (rows_[e] != nullptr)
      saw_event_ =
          std::any_of(rows_[e], rows_[e] + std::min(words, row_words), [](Word w) { return w != 0; });
  }
}

void BatchOutput::detectors(BatchBuffers& rows, std::uint64_t entry0, std::size_t entries) {
  meter_->count(entries * blocks_);
  for (std::size_t e = 0; e < entries; ++e) rows_[e] = rows.tile(e);
  if (call_ == nullptr) return note_events(rows.row_words(), entries);
  write_entries(call_->detectors, batch_first_, rows.row_words(), rows_.data(), entries, entry0, nullptr,
                kernels_);
}

void BatchOutput::observables(BatchBuffers& rows, const std::vector<std::uint64_t>& index,
                              std::uint64_t observable_count) {
  for (std::size_t s = 0; s < index.size();) {
    const std::uint64_t entry0 = index[s] / kFlush * kFlush;
    const std::size_t entries =
        static_cast<std::size_t>(std::min<std::uint64_t>(kFlush, observable_count - entry0));
    std::fill(rows_.begin(), rows_.end(), nullptr);
    for (; s < index.size() && index[s] < entry0 + kFlush; ++s) rows_[index[s] - entry0] = rows.slot(s);
    meter_->count(entries * blocks_);
    if (call_ == nullptr) {
      note_events(rows.row_words(), entries);
      continue;
    }
    write_entries(call_->observables, batch_first_, rows.row_words(), rows_.data(), entries, entry0, nullptr,
                  kernels_);
  }
}

}  // namespace ordavine::frames
