// Writes shot data in one of the formats, fed a stretch of shots at a time
// in the samplers' packed layout (see packed_rows.hpp): the bytes written
// do not depend on how the shots are split into stretches.
//
//   MemorySink sink;  // or FileSink over an opened file
//   ShotDataWriter writer(ShotFormat::dets, bits, {{'D', detectors}, {'L', observables}}, sink);
//   writer.write_shots(rows, shots);  // as often as there are stretches
//   writer.finish();
//
// ptb64 writes 64 shots at a time.  Stretches whose shot counts are
// multiples of 64 go straight through; otherwise the writer keeps the shots
// of an unfinished group (at most 63 rows) until later stretches complete
// it.  The caller checks the shot count with check_shot_count before it
// starts; finish refuses a count that is not a multiple of 64 all the same.
//
// Memory stays fixed whatever the shot count: a 64 KiB buffer between the
// encoders and the sink, and for ptb64 the rows of one group.  An exception
// from the sink (IoError) leaves the writer unusable: what it had written
// stays written, and a later call is an internal failure.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "shot_data/byte_sink.hpp"
#include "shot_data/format.hpp"
#include "shot_data/output_buffer.hpp"
#include "shot_data/packed_rows.hpp"
#include "shot_data/text_formats.hpp"

namespace ordavine::shot_data {

class ShotDataWriter {
 public:
  // `bits` bits per shot.  `layout` gives the dets prefixes (its counts
  // add up to `bits`); the other formats ignore it.  The sink must outlive
  // the writer.
  ShotDataWriter(ShotFormat format, std::uint64_t bits, const std::vector<PrefixRun>& layout, ByteSink& sink);

  // Writes `shots` shots whose rows are `rows` (exactly `shots` rows of
  // row_bytes() bytes).  All their bytes reach the sink before it returns,
  // except the rows of an unfinished ptb64 group.
  void write_shots(std::span<const std::uint8_t> rows, std::uint64_t shots);

  // Ends the file: InvalidInput if the shots written are not a whole number
  // of the format's groups, then flushes the sink.
  void finish();

  std::size_t row_bytes() const { return shape_.bytes(); }
  std::uint64_t shots_written() const noexcept { return shots_; }

 private:
  void write_whole(const std::uint8_t* rows, std::uint64_t shots);
  void write_ptb64(const std::uint8_t* rows, std::uint64_t shots);

  ShotFormat format_;
  RowShape shape_;
  DetsLayout layout_;
  ByteSink& sink_;
  OutputBuffer out_;
  std::vector<std::uint8_t> pending_;  // the rows of an unfinished ptb64 group
  std::uint64_t pending_shots_ = 0;    // and their number
  std::uint64_t shots_ = 0;            // taken in, the pending ones included
  bool broken_ = false;                // a write threw
};

}  // namespace ordavine::shot_data
