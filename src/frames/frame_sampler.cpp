#include "frames/frame_sampler.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "circuit/runner.hpp"
#include "failure/failure.hpp"
#include "frames/batch_buffers.hpp"
#include "frames/batch_output.hpp"
#include "frames/batch_walk.hpp"
#include "frames/block_stream.hpp"
#include "frames/cache_budget.hpp"
#include "frames/sampler_plan.hpp"
#include "register/out_of_memory.hpp"
#include "register/register.hpp"

namespace ordavine::frames {
namespace {

using circuit::Program;

// Past this many blocks a batch gains nothing more: the walk's cost per
// instruction is already small beside its words.
constexpr std::size_t kMaxBatchBlocks = 64;

std::size_t round_up(std::size_t n, std::size_t quantum) { return (n + quantum - 1) / quantum * quantum; }

}  // namespace

std::shared_ptr<const ReferenceRecord> make_reference_record(const Program& program, CancelCheck* cancel) {
  auto words = std::make_shared<ReferenceRecord>();
  if (program.measurement_count == 0) return words;
  std::vector<std::uint8_t> record = allocate_for(
      program.measurement_count, [] { return std::string("the reference record"); },
      [&] { return std::vector<std::uint8_t>(program.measurement_count); });
  {
    Register reg = allocate_for(
        program.qubit_count * sizeof(Node),
        [&] { return "the reference run's register of " + std::to_string(program.qubit_count) + " qubits"; },
        [&] { return Register(program.qubit_count); });
    circuit::run_reference(program, reg, {record}, cancel);
  }
  words->assign((record.size() + 63) / 64, 0);
  for (std::size_t m = 0; m < record.size(); ++m) (*words)[m / 64] |= Word{record[m]} << (m % 64);
  return words;
}

// The plan, the rows a batch of blocks side by side runs in, the reference
// record, and the loop over the batches of a call.  Work, for
// cancellation, is counted in rows of a batch (batch_walk.cpp), here one
// per qubit row set up.
class FrameSampler::Engine {
 public:
  Engine(const Program& program, bool detectors, bool packed, SamplerOptions options)
      : program_(program),
        detectors_(detectors),
        packed_(packed),
        kernels_(kernels_for(options.width)),
        plan_(make_plan(program, kFlush)),
        reference_(std::move(options.reference)),
        shape_{program.qubit_count, plan_.ring_rows, plan_.observables.size(),
               detectors ? static_cast<std::size_t>(std::min<std::uint64_t>(kFlush, program.detector_count))
                         : 0},
        rows_(shape_),
        output_(kernels_),
        gauges_(detectors && !options.always_draw_gauges ? Gauges::unknown : Gauges::drawn) {
    // Bytes per block of every row a batch keeps.
    const std::size_t per_block = shape_.rows() * kBlockWords * sizeof(Word);
    // Rows are whole multiples of kRowQuantum words (two blocks): a batch of
    // one block would carry a second one's words for nothing.
    constexpr std::size_t kBlocksPerQuantum = kRowQuantum / kBlockWords;
    const std::size_t fit =
        batch_cache_bytes() / std::max<std::size_t>(per_block, 1) / kBlocksPerQuantum * kBlocksPerQuantum;
    max_blocks_ = options.batch_blocks != 0
                      ? options.batch_blocks
                      : std::clamp<std::size_t>(fit, kBlocksPerQuantum, kMaxBatchBlocks);
  }

  std::size_t measurement_bytes() const {
    return detectors_ ? 0 : ShotRows::bytes_for(program_.measurement_count, packed_);
  }
  std::size_t detector_bytes() const {
    return detectors_ ? ShotRows::bytes_for(program_.detector_count, packed_) : 0;
  }
  std::size_t observable_bytes() const {
    return detectors_ ? ShotRows::bytes_for(program_.observable_count, packed_) : 0;
  }

  void prepare(std::uint64_t first, std::uint64_t count, CancelCheck* cancel) {
    if (count == 0) return;
    if (count - 1 > ~std::uint64_t{0} - first) fail("shot numbers past 2^64 - 1");
    if (!detectors_) make_reference(cancel);
    if (long_enough_to_look(first, count)) look_for_gauges(cancel);
    const std::uint64_t blocks = blocks_spanned(first, count);
    // The first batch is the widest; later ones fit in its rows.
    rows_.allocate(row_words_for(static_cast<std::size_t>(std::min<std::uint64_t>(max_blocks_, blocks))));
    gauge_streams_.reserve(max_blocks_);
    noise_streams_.reserve(max_blocks_);
    scratch_.next_site.reserve(max_blocks_);
    scratch_.sources.reserve(plan_.widest_detector);
  }

  void run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count, SampleOutputs outputs,
                 CancelCheck* cancel) {
    if (outputs.measurements.size() != count * measurement_bytes() ||
        outputs.detectors.size() != count * detector_bytes() ||
        outputs.observables.size() != count * observable_bytes()) {
      fail("shot rows sized differently from the program");
    }
    if (count == 0) return;
    prepare(first, count, cancel);
    WorkMeter meter(cancel);
    const CallRows call{{outputs.measurements.data(), first, count, measurement_bytes(), packed_},
                        {outputs.detectors.data(), first, count, detector_bytes(), packed_},
                        {outputs.observables.data(), first, count, observable_bytes(), packed_},
                        reference_ ? reference_->data() : nullptr};
    std::fill(outputs.observables.begin(), outputs.observables.end(), std::uint8_t{0});
    const std::uint64_t first_block = first / kBlockShots;
    const std::uint64_t end_block = (first + count - 1) / kBlockShots + 1;
    const bool gauges = gauges_ != Gauges::skipped;
    for (std::uint64_t b = first_block; b < end_block; b += max_blocks_) {
      const auto blocks = static_cast<std::size_t>(std::min<std::uint64_t>(max_blocks_, end_block - b));
      output_.start(call, b * kBlockShots, blocks, meter);
      run_batch(key, b, blocks, plan_, gauges, meter);
    }
  }

  // Detection events look once for gauges they depend on; a record of
  // measurements always draws them.
  bool look_for_gauges(CancelCheck* cancel) {
    if (gauges_ == Gauges::unknown)
      gauges_ = any_event_without_noise(cancel) ? Gauges::drawn : Gauges::skipped;
    return gauges_ == Gauges::drawn;
  }
  void take_gauge_finding(bool needed) {
    if (gauges_ == Gauges::unknown) gauges_ = needed ? Gauges::drawn : Gauges::skipped;
  }

 private:
  static std::size_t row_words_for(std::size_t blocks) { return round_up(blocks * kBlockWords, kRowQuantum); }

  void make_reference(CancelCheck* cancel) {
    if (!reference_) reference_ = make_reference_record(program_, cancel);
  }

  // Whether some detector or observable depends on a gauge bit
  // (frame_sampler.hpp): whether a run of two blocks with random gauges and
  // no noise, from a fixed key, sees a detection event.
  bool any_event_without_noise(CancelCheck* cancel) {
    SamplerPlan noiseless = plan_;
    std::fill(noiseless.rate.begin(), noiseless.rate.end(), FiringRate{});
    constexpr std::size_t kBlocks = kRowQuantum / kBlockWords;
    WorkMeter meter(cancel);
    output_.start_probe(kBlocks, meter);
    run_batch(ChaChaKey{}, 0, kBlocks, noiseless, /*gauges=*/true, meter);
    return output_.probe_saw_event();
  }

  // Block b draws its gauges from stream 2b + 1 of the key and its noise
  // from stream 2b + 2; the frames start as a reset to |0>: X rows zero, Z
  // rows gauge bits (zero too without gauges).  The output is started.
  void run_batch(const ChaChaKey& key, std::uint64_t first_block, std::size_t blocks, const SamplerPlan& plan,
                 bool gauges, WorkMeter& meter) {
    rows_.allocate(row_words_for(blocks));
    gauge_streams_.clear();
    noise_streams_.clear();
    for (std::size_t j = 0; j < blocks; ++j) {
      gauge_streams_.emplace_back(key, 2 * (first_block + j) + 1);
      noise_streams_.emplace_back(key, 2 * (first_block + j) + 2, /*with_logs=*/true);
    }
    const FrameRows frames = rows_.frames();
    for (std::uint64_t q = 0; q < program_.qubit_count; ++q) {
      meter.count(blocks);
      frames.zero(frames.x_row(q));
      Word* z = frames.z_row(q);
      frames.zero(z);
      if (!gauges) continue;
      for (std::size_t j = 0; j < blocks; ++j) gauge_streams_[j].next4(z + j * kBlockWords);
    }
    for (std::size_t s = 0; s < rows_.observable_slots(); ++s) frames.zero(rows_.slot(s));
    frames.zero(rows_.chain());
    walk_batch({program_, plan, kernels_, detectors_, gauges, rows_, gauge_streams_, noise_streams_, output_,
                meter, scratch_});
  }

  const Program& program_;
  bool detectors_;
  bool packed_;
  const Kernels& kernels_;
  SamplerPlan plan_;
  std::shared_ptr<const ReferenceRecord> reference_;
  BatchShape shape_;
  BatchBuffers rows_;
  std::size_t max_blocks_ = 1;

  std::vector<BlockStream> gauge_streams_, noise_streams_;
  WalkScratch scratch_;
  BatchOutput output_;
  // Whether detection events draw gauges: a record of measurements always
  // does; events do until the look finds that none depends on them.
  enum class Gauges { unknown, drawn, skipped } gauges_;
};

FrameSampler::FrameSampler(const Program& program, bool detectors, bool packed, SamplerOptions options)
    : engine_(std::make_unique<Engine>(program, detectors, packed, options)) {}

FrameSampler::~FrameSampler() = default;

std::size_t FrameSampler::measurement_row_bytes() const { return engine_->measurement_bytes(); }
std::size_t FrameSampler::detector_row_bytes() const { return engine_->detector_bytes(); }
std::size_t FrameSampler::observable_row_bytes() const { return engine_->observable_bytes(); }

void FrameSampler::prepare(std::uint64_t first, std::uint64_t count, CancelCheck* cancel) {
  engine_->prepare(first, count, cancel);
}

bool FrameSampler::events_need_gauges(CancelCheck* cancel) { return engine_->look_for_gauges(cancel); }

void FrameSampler::take_gauge_finding(bool needed) { engine_->take_gauge_finding(needed); }

void FrameSampler::run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count,
                             SampleOutputs outputs, CancelCheck* cancel) {
  engine_->run_shots(key, first, count, outputs, cancel);
}

}  // namespace ordavine::frames
