#include "frames/frame_sampler.hpp"

#include <algorithm>
#include <bit>
#include <map>
#include <string>
#include <vector>

#include "circuit/runner.hpp"
#include "circuit/walk.hpp"
#include "clifford/pauli_pairs.hpp"
#include "failure/failure.hpp"
#include "frames/block_stream.hpp"
#include "frames/clifford_maps.hpp"
#include "frames/noise.hpp"
#include "frames/shot_rows.hpp"
#include "register/out_of_memory.hpp"
#include "register/register.hpp"

namespace ordavine::frames {
namespace {

using circuit::Instruction;
using circuit::is_record;
using circuit::Opcode;
using circuit::pauli_of;
using circuit::Program;
using circuit::Step;
using circuit::Target;
using circuit::value_of;

constexpr std::size_t kBlockWords = kBlockShots / 64;
constexpr std::size_t kPiece = 64;   // gauge rows drawn at a time
constexpr std::size_t kFlush = 512;  // record entries written out at a time (a multiple of 64)
constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxBatchBlocks = 16;

// A 64-byte aligned line of words: rows are whole lines.
struct alignas(64) Line {
  Word words[kRowQuantum];
};
static_assert(sizeof(Line) == kRowQuantum * sizeof(Word));

class Rows {
 public:
  void resize(std::size_t words) { lines_.assign((words + kRowQuantum - 1) / kRowQuantum, Line{}); }
  Word* data() { return lines_.empty() ? nullptr : lines_.front().words; }

 private:
  std::vector<Line> lines_;
};

// X/Z bits of the Pauli codes 0 = I, 1 = X, 2 = Y, 3 = Z.
constexpr unsigned kCodeBits[4] = {0b00, 0b01, 0b11, 0b10};

std::size_t round_up(std::size_t n, std::size_t quantum) { return (n + quantum - 1) / quantum * quantum; }

// What the sampler reads off a program once.
struct Plan {
  std::uint64_t lookback = 0;              // the largest k of rec[-k]
  std::size_t ring_rows = 0;               // a power of two above lookback, at least a tile
  std::vector<FiringRate> rate;            // per instruction
  std::vector<std::uint32_t> choices;      // per instruction: where its running sums start
  std::vector<double> cumulative;          // running sums of alternatives, divided by their total
  std::vector<std::uint32_t> slot;         // per instruction: its observable's slot
  std::vector<std::uint64_t> observables;  // per slot: the observable index, ascending
  std::vector<bool> feeds_forward;         // per instruction: a two-qubit line with record targets
  std::size_t widest_detector = 0;         // the most targets of a DETECTOR line
};

Plan make_plan(const Program& program) {
  Plan plan;
  const std::size_t n = program.instructions.size();
  plan.rate.resize(n);
  plan.choices.assign(n, 0);
  plan.slot.assign(n, 0);
  plan.feeds_forward.assign(n, false);
  std::map<std::uint64_t, std::uint32_t> slots;
  for (std::size_t i = 0; i < n; ++i) {
    const Instruction& in = program.instructions[i];
    for (const Target t : program.targets_of(in)) {
      if (in.code != Opcode::pad && is_record(t)) {
        plan.lookback = std::max<std::uint64_t>(plan.lookback, value_of(t));
        if (in.code == Opcode::two_qubit) plan.feeds_forward[i] = true;
      }
    }
    const auto p = program.probabilities_of(in);
    switch (in.code) {
      case Opcode::measure:
      case Opcode::measure_reset:
      case Opcode::measure_product:
      case Opcode::pad:
      case Opcode::pauli_error:
      case Opcode::depolarize1:
      case Opcode::depolarize2:
      case Opcode::correlated_error:
      case Opcode::heralded_erase: plan.rate[i] = FiringRate::of(p.empty() ? 0.0 : p[0]); break;
      case Opcode::pauli_channel_1:
      case Opcode::pauli_channel_2:
      case Opcode::heralded_pauli_channel_1: {
        double total = 0.0;
        for (const double q : p) total += q;
        plan.rate[i] = FiringRate::of(total);
        plan.choices[i] = static_cast<std::uint32_t>(plan.cumulative.size());
        double running = 0.0;
        for (const double q : p) {
          running += q;
          plan.cumulative.push_back(total > 0.0 ? running / total : 0.0);
        }
        break;
      }
      case Opcode::observable_include: slots.emplace(in.observable, 0); break;
      case Opcode::detector:
        plan.widest_detector = std::max<std::size_t>(plan.widest_detector, in.target_count);
        break;
      default: break;
    }
  }
  std::uint32_t next = 0;
  for (auto& [index, slot] : slots) {
    slot = next++;
    plan.observables.push_back(index);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (program.instructions[i].code == Opcode::observable_include) {
      plan.slot[i] = slots.at(program.instructions[i].observable);
    }
  }
  plan.ring_rows = std::bit_ceil(std::max<std::uint64_t>(plan.lookback + 1, kFlush));
  return plan;
}

}  // namespace

// The plan, the buffers a batch of blocks side by side runs in, the
// reference record, and the batch being run.
//
// Work, for cancellation, is counted in rows of a batch: per instruction
// and per target, one per block side by side, and one per firing of a
// noise channel, per repetition, per qubit row set up and per record row
// written out.
class FrameSampler::Engine {
 public:
  Engine(const Program& program, bool detectors, bool packed, SamplerOptions options)
      : program_(program),
        detectors_(detectors),
        packed_(packed),
        kernels_(kernels_for(options.width)),
        plan_(make_plan(program)) {
    // Bytes per block of every row a batch keeps.
    const std::size_t rows = 2 * program.qubit_count + plan_.ring_rows + kPiece + plan_.observables.size() +
                             2 + (detectors ? kFlush : 0);
    const std::size_t per_block = rows * kBlockWords * sizeof(Word);
    // Rows are whole multiples of kRowQuantum words (two blocks): a batch of
    // one block would carry a second one's words for nothing.
    constexpr std::size_t kBlocksPerQuantum = kRowQuantum / kBlockWords;
    const std::size_t fit =
        kBatchBytes / std::max<std::size_t>(per_block, 1) / kBlocksPerQuantum * kBlocksPerQuantum;
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
    // The first batch is the widest; later ones fit in its rows.
    const std::uint64_t blocks = (first + count - 1) / kBlockShots + 1 - first / kBlockShots;
    allocate(static_cast<std::size_t>(std::min<std::uint64_t>(max_blocks_, blocks)));
    gauge_streams_.reserve(max_blocks_);
    noise_streams_.reserve(max_blocks_);
    next_site_.reserve(max_blocks_);
    sources_.reserve(plan_.widest_detector);
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
    key_ = key;
    meter_ = WorkMeter(cancel);
    measurements_out_ = {outputs.measurements.data(), first, count, measurement_bytes(), packed_};
    detectors_out_ = {outputs.detectors.data(), first, count, detector_bytes(), packed_};
    observables_out_ = {outputs.observables.data(), first, count, observable_bytes(), packed_};
    std::fill(outputs.observables.begin(), outputs.observables.end(), std::uint8_t{0});
    const std::uint64_t first_block = first / kBlockShots;
    const std::uint64_t end_block = (first + count - 1) / kBlockShots + 1;
    for (std::uint64_t b = first_block; b < end_block; b += max_blocks_) {
      run_batch(b, static_cast<std::size_t>(std::min<std::uint64_t>(max_blocks_, end_block - b)));
    }
  }

 private:
  // ---- set-up ---------------------------------------------------------------------

  void make_reference(CancelCheck* cancel) {
    if (have_reference_ || program_.measurement_count == 0) return;
    std::vector<std::uint8_t> record = allocate_for(
        program_.measurement_count, [] { return std::string("the reference record"); },
        [&] { return std::vector<std::uint8_t>(program_.measurement_count); });
    {
      Register reg = allocate_for(
          program_.qubit_count * sizeof(Node),
          [&] {
            return "the reference run's register of " + std::to_string(program_.qubit_count) + " qubits";
          },
          [&] { return Register(program_.qubit_count); });
      circuit::run_reference(program_, reg, {record}, cancel);
    }
    reference_.assign((record.size() + 63) / 64, 0);
    for (std::size_t m = 0; m < record.size(); ++m) reference_[m / 64] |= Word{record[m]} << (m % 64);
    have_reference_ = true;
  }

  // Rows for batches of `blocks` blocks.  Every row count here is bounded
  // by the reader's limits (qubits below 2^32, the record's look-back, the
  // observables) times at most kMaxBatchBlocks blocks, so no product wraps.
  void allocate(std::size_t blocks) {
    row_words_ = round_up(blocks * kBlockWords, kRowQuantum);
    if (allocated_words_ == row_words_) return;
    allocated_words_ = 0;  // until every row below is had
    const std::uint64_t frame_words = 2 * program_.qubit_count * row_words_;
    allocate_for(
        frame_words * sizeof(Word),
        [&] { return "the Pauli frames of " + std::to_string(program_.qubit_count) + " qubits"; },
        [&] { frames_.resize(frame_words); });
    const std::uint64_t other_words =
        (plan_.ring_rows + kPiece + (detectors_ ? kFlush : 0) + plan_.observables.size() + 2) * row_words_;
    allocate_for(
        other_words * sizeof(Word), [] { return std::string("the record rows of a batch of shots"); },
        [&] {
          ring_.resize(plan_.ring_rows * row_words_);
          gauge_.resize(kPiece * row_words_);
          tile_.resize(detectors_ ? kFlush * row_words_ : 0);
          slots_.resize(plan_.observables.size() * row_words_);
          mask_.resize(row_words_);
          chain_.resize(row_words_);
        });
    allocated_words_ = row_words_;
  }

  Word* x_row(std::uint64_t q) { return frames_.data() + 2 * row_words_ * q; }
  Word* z_row(std::uint64_t q) { return x_row(q) + row_words_; }
  Word* record_row(std::uint64_t m) { return ring_.data() + (m & (plan_.ring_rows - 1)) * row_words_; }
  Word* looked_back(Target t) { return record_row(written_ - value_of(t)); }
  Word* slot_row(std::size_t slot) { return slots_.data() + slot * row_words_; }

  void zero(Word* row) { std::fill_n(row, row_words_, Word{0}); }
  void xor_into(Word* dst, const Word* src) {
    for (std::size_t k = 0; k < row_words_; ++k) dst[k] ^= src[k];
  }
  // The Pauli with X/Z bits `bits` applied to qubit q where `mask` is 1.
  void apply_where(std::uint64_t q, unsigned bits, const Word* mask) {
    if (bits & 1) xor_into(x_row(q), mask);
    if (bits & 2) xor_into(z_row(q), mask);
  }
  // Flips bit `lane` (a shot of block j) of a row.
  static void flip(Word* row, std::size_t j, std::uint64_t lane) {
    row[j * kBlockWords + lane / 64] ^= Word{1} << (lane % 64);
  }
  // The Pauli with X/Z bits `bits` on qubit q, in one shot.
  void apply_at(std::uint64_t q, unsigned bits, std::size_t j, std::uint64_t lane) {
    if (bits & 1) flip(x_row(q), j, lane);
    if (bits & 2) flip(z_row(q), j, lane);
  }

  // ---- one batch ---------------------------------------------------------------------

  void run_batch(std::uint64_t first_block, std::size_t blocks) {
    allocate(blocks);
    blocks_ = blocks;
    batch_first_ = first_block * kBlockShots;
    gauge_streams_.clear();
    noise_streams_.clear();
    for (std::size_t j = 0; j < blocks; ++j) {
      gauge_streams_.emplace_back(key_, 2 * (first_block + j) + 1);
      noise_streams_.emplace_back(key_, 2 * (first_block + j) + 2);
    }
    for (std::uint64_t q = 0; q < program_.qubit_count; ++q) {
      meter_.count(blocks);
      zero(x_row(q));
      Word* z = z_row(q);
      zero(z);
      for (std::size_t j = 0; j < blocks; ++j) gauge_streams_[j].next4(z + j * kBlockWords);
    }
    std::fill_n(slots_.data(), plan_.observables.size() * row_words_, Word{0});
    zero(chain_.data());
    written_ = 0;
    detected_ = 0;
    circuit::walk(program_, *this);
    if (written_ != program_.measurement_count || detected_ != program_.detector_count) {
      fail("a batch wrote a record of another length than its program counted");
    }
    if (detectors_) {
      flush_detectors();
      flush_observables();
    } else {
      flush_measurements();
    }
  }

  // The firing sites of instruction i's channel among `sites` sites per
  // block, each given to fire(j, site) with its block j.
  template <class Fire>
  void each_firing(std::size_t i, std::uint64_t sites, Fire&& fire) {
    const FiringRate& rate = plan_.rate[i];
    if (rate.never) return;
    for (std::size_t j = 0; j < blocks_; ++j) {
      BlockStream& stream = noise_streams_[j];
      std::uint64_t fired = 0;
      for (std::uint64_t site = rate.first(stream, sites); site < sites;
           site = rate.following(stream, site, sites)) {
        fire(j, site);
        ++fired;
      }
      meter_.count(fired);
    }
  }

  std::span<const double> alternatives(std::size_t i, std::size_t count) const {
    return std::span<const double>(plan_.cumulative).subspan(plan_.choices[i], count);
  }

  // ---- the walk's members -------------------------------------------------------

 public:
  void on_repetition() { meter_.count(1); }
  void on_step(const Step& step) { meter_.count((std::uint64_t{1} + step.targets.size()) * blocks_); }

  void on_single_qubit(const Step& step) {
    kernels_.single[step.instruction.vop](frames_.data(), row_words_, step.targets.data(),
                                          step.targets.size());
  }
  void on_measure(const Step& step) { measure(step, kernels_.measure[axis_index(step)]); }
  void on_measure_reset(const Step& step) { measure(step, kernels_.measure_reset[axis_index(step)]); }
  void on_pad(const Step& step) {
    recorded(step.index, step.targets.size(), [](std::size_t, std::size_t, std::uint64_t) {});
  }
  void on_pauli_error(const Step& step) {
    const unsigned bits = axis_bits(step.instruction.axis);
    each_firing(step.index, step.targets.size() * kBlockShots, [&](std::size_t j, std::uint64_t site) {
      apply_at(value_of(step.targets[site / kBlockShots]), bits, j, site % kBlockShots);
    });
  }
  void on_depolarize1(const Step& step) {
    each_firing(step.index, step.targets.size() * kBlockShots, [&](std::size_t j, std::uint64_t site) {
      const unsigned code = 1 + uniform_choice(noise_streams_[j].next(), 3);
      apply_at(value_of(step.targets[site / kBlockShots]), kCodeBits[code], j, site % kBlockShots);
    });
  }
  void on_depolarize2(const Step& step) {
    each_firing(step.index, step.targets.size() / 2 * kBlockShots, [&](std::size_t j, std::uint64_t site) {
      pair_error(step.targets, site, j, 1 + uniform_choice(noise_streams_[j].next(), 15));
    });
  }
  void on_pauli_channel_1(const Step& step) {
    const auto choices = alternatives(step.index, 3);
    each_firing(step.index, step.targets.size() * kBlockShots, [&](std::size_t j, std::uint64_t site) {
      const std::size_t k = choose(choices, noise_streams_[j].next());
      apply_at(value_of(step.targets[site / kBlockShots]), kCodeBits[k + 1], j, site % kBlockShots);
    });
  }
  void on_pauli_channel_2(const Step& step) {
    const auto choices = alternatives(step.index, 15);
    each_firing(step.index, step.targets.size() / 2 * kBlockShots, [&](std::size_t j, std::uint64_t site) {
      const std::size_t k = choose(choices, noise_streams_[j].next());
      pair_error(step.targets, site, j, static_cast<unsigned>(k + 1));
    });
  }
  void on_heralded_erase(const Step& step) {
    recorded(step.index, step.targets.size(), [&](std::size_t t, std::size_t j, std::uint64_t lane) {
      const unsigned code = uniform_choice(noise_streams_[j].next(), 4);
      apply_at(value_of(step.targets[t]), kCodeBits[code], j, lane);
    });
  }
  void on_heralded_pauli_channel_1(const Step& step) {
    const auto choices = alternatives(step.index, 4);
    recorded(step.index, step.targets.size(), [&](std::size_t t, std::size_t j, std::uint64_t lane) {
      const std::size_t code = choose(choices, noise_streams_[j].next());
      apply_at(value_of(step.targets[t]), kCodeBits[code], j, lane);
    });
  }

 private:
  static unsigned axis_index(const Step& step) { return static_cast<unsigned>(step.instruction.axis); }

  // The two-qubit Pauli of a pair code (clifford/pauli_pairs.hpp) on the
  // pair of a site.
  void pair_error(std::span<const Target> targets, std::uint64_t site, std::size_t j, unsigned code) {
    const std::uint64_t pair = site / kBlockShots, lane = site % kBlockShots;
    const PairCode paulis = pair_code(code);
    apply_at(value_of(targets[2 * pair]), kCodeBits[paulis.first], j, lane);
    apply_at(value_of(targets[2 * pair + 1]), kCodeBits[paulis.second], j, lane);
  }

 public:
  void on_two_qubit(const Step& step) {
    const auto targets = step.targets;
    const GateKernel kernel = kernels_.pair[static_cast<unsigned>(step.instruction.gate)];
    if (!plan_.feeds_forward[step.index]) {
      return kernel(frames_.data(), row_words_, targets.data(), targets.size());
    }
    const FeedForward ff = feed_forward(step.instruction.gate);
    for (std::size_t p = 0; p < targets.size(); p += 2) {
      const Target a = targets[p], b = targets[p + 1];
      if (is_record(a)) {
        apply_where(value_of(b), ff.on_second, looked_back(a));
      } else if (is_record(b)) {
        apply_where(value_of(a), ff.on_first, looked_back(b));
      } else {
        kernel(frames_.data(), row_words_, &targets[p], 2);
      }
    }
  }

 private:
  // Gauge bits for `count` targets: row t of gauge_, block j's words from
  // block j's gauge stream, target by target.
  void draw_gauges(std::size_t count) {
    for (std::size_t t = 0; t < count; ++t) {
      Word* row = gauge_.data() + t * row_words_;
      for (std::size_t j = 0; j < blocks_; ++j) gauge_streams_[j].next4(row + j * kBlockWords);
    }
  }

  // Targets of a recording instruction are taken in pieces of at most
  // kPiece that end where the record reaches a multiple of kFlush, so that
  // measurement rows are written out as soon as kFlush of them are
  // complete, and the ring needs to hold no more.
  std::size_t piece_after(std::size_t done, std::size_t count) const {
    const std::size_t room = kFlush - static_cast<std::size_t>(written_ % kFlush);
    return std::min({count - done, room, kPiece});
  }

  // Record flips of instruction i's channel for the record rows of targets
  // begin .. end - 1 (whose first is record entry `base`), continuing the
  // blocks' firing sites in `next`; `fire(t, j, lane)` after each flip.
  template <class Fire>
  void flip_records(std::size_t i, std::size_t begin, std::size_t end, std::uint64_t sites,
                    std::uint64_t base, std::vector<std::uint64_t>& next, Fire&& fire) {
    const FiringRate& rate = plan_.rate[i];
    if (rate.never) return;
    const std::uint64_t stop = end * kBlockShots;
    for (std::size_t j = 0; j < blocks_; ++j) {
      BlockStream& stream = noise_streams_[j];
      std::uint64_t fired = 0;
      for (std::uint64_t& site = next[j]; site < stop; site = rate.following(stream, site, sites)) {
        const std::size_t t = static_cast<std::size_t>(site / kBlockShots);
        flip(record_row(base + (t - begin)), j, site % kBlockShots);
        fire(t, j, site % kBlockShots);
        ++fired;
      }
      meter_.count(fired);
    }
  }

  void start_sites(std::size_t i, std::uint64_t sites) {
    next_site_.assign(blocks_, sites);
    if (plan_.rate[i].never) return;
    for (std::size_t j = 0; j < blocks_; ++j) next_site_[j] = plan_.rate[i].first(noise_streams_[j], sites);
  }

  void recorded_piece_done(std::size_t count) {
    written_ += count;
    if (!detectors_ && written_ % kFlush == 0) flush_measurement_rows(written_ - kFlush, kFlush);
  }

  // Resets draw a gauge per target and record nothing.
 public:
  void on_reset(const Step& step) {
    const auto targets = step.targets;
    const MeasureKernel kernel = kernels_.reset[axis_index(step)];
    for (std::size_t done = 0; done < targets.size();) {
      const std::size_t count = std::min(targets.size() - done, kPiece);
      draw_gauges(count);
      kernel(frames_.data(), row_words_, &targets[done], count, gauge_.data(), nullptr);
      done += count;
    }
  }

 private:
  // Measurements (and measurements with a reset) draw a gauge per target
  // and record the flips the kernel finds, plus the recorded noise.
  void measure(const Step& step, MeasureKernel kernel) {
    const std::size_t i = step.index;
    const auto targets = step.targets;
    const std::uint64_t sites = targets.size() * kBlockShots;
    start_sites(i, sites);
    Word* records[kPiece];
    for (std::size_t done = 0; done < targets.size();) {
      const std::size_t count = piece_after(done, targets.size());
      draw_gauges(count);
      for (std::size_t t = 0; t < count; ++t) records[t] = record_row(written_ + t);
      kernel(frames_.data(), row_words_, &targets[done], count, gauge_.data(), records);
      flip_records(i, done, done + count, sites, written_, next_site_,
                   [](std::size_t, std::size_t, std::uint64_t) {});
      done += count;
      recorded_piece_done(count);
    }
  }

  // Instructions whose records are noise alone (MPAD, heralds): rows of
  // zeros, flipped where the channel fires; `fire(t, j, lane)` then acts
  // on the frame.
  template <class Fire>
  void recorded(std::size_t i, std::size_t count_all, Fire&& fire) {
    const std::uint64_t sites = count_all * kBlockShots;
    start_sites(i, sites);
    for (std::size_t done = 0; done < count_all;) {
      const std::size_t count = piece_after(done, count_all);
      for (std::size_t t = 0; t < count; ++t) zero(record_row(written_ + t));
      flip_records(i, done, done + count, sites, written_, next_site_, fire);
      done += count;
      recorded_piece_done(count);
    }
  }

  // The factors of a product (a header and its factors) starting at
  // targets[at]; returns the index after it.
  static std::size_t product_end(std::span<const Target> targets, std::size_t at) {
    return at + 1 + value_of(targets[at]);
  }

  // dst = where the frames anticommute with the product of `factors`.
  void anticommuting(Word* dst, std::span<const Target> factors) {
    zero(dst);
    for (const Target f : factors) {
      const unsigned bits = axis_bits(pauli_of(f));
      const std::uint64_t q = value_of(f);
      if (bits & 1) xor_into(dst, z_row(q));  // an X part anticommutes with Z
      if (bits & 2) xor_into(dst, x_row(q));
    }
  }

  void apply_product_where(std::span<const Target> factors, const Word* mask) {
    for (const Target f : factors) apply_where(value_of(f), axis_bits(pauli_of(f)), mask);
  }

 public:
  void on_measure_product(const Step& step) {
    const std::size_t i = step.index;
    const auto targets = step.targets;
    std::size_t products = 0;
    for (std::size_t at = 0; at < targets.size(); at = product_end(targets, at)) ++products;
    const std::uint64_t sites = products * kBlockShots;
    start_sites(i, sites);
    std::size_t at = 0;
    for (std::size_t done = 0; done < products;) {
      const std::size_t count = piece_after(done, products);
      draw_gauges(count);
      for (std::size_t t = 0; t < count; ++t) {
        const std::size_t end = product_end(targets, at);
        const auto factors = targets.subspan(at + 1, end - at - 1);
        anticommuting(record_row(written_ + t), factors);
        apply_product_where(factors, gauge_.data() + t * row_words_);
        at = end;
      }
      flip_records(i, done, done + count, sites, written_, next_site_,
                   [](std::size_t, std::size_t, std::uint64_t) {});
      done += count;
      recorded_piece_done(count);
    }
  }

  // exp(+-i pi/4 P): a frame that anticommutes with P is multiplied by P.
  void on_rotate_product(const Step& step) {
    const auto targets = step.targets;
    for (std::size_t at = 0; at < targets.size();) {
      const std::size_t end = product_end(targets, at);
      const auto factors = targets.subspan(at + 1, end - at - 1);
      anticommuting(mask_.data(), factors);
      apply_product_where(factors, mask_.data());
      at = end;
    }
  }

  // E fires in each shot with its probability and starts a chain; ELSE
  // fires only in shots where no earlier member of the chain has.
  void on_correlated_error(const Step& step) {
    const std::size_t i = step.index;
    Word* fired = mask_.data();
    zero(fired);
    each_firing(i, kBlockShots, [&](std::size_t j, std::uint64_t lane) { flip(fired, j, lane); });
    Word* chain = chain_.data();
    if (!step.instruction.else_branch) {
      std::copy_n(fired, row_words_, chain);
    } else {
      for (std::size_t k = 0; k < row_words_; ++k) {
        fired[k] &= ~chain[k];
        chain[k] |= fired[k];
      }
    }
    apply_product_where(step.targets, fired);
  }

  void on_detector(const Step& step) {
    if (!detectors_) {
      ++detected_;
      return;
    }
    sources_.clear();
    for (const Target t : step.targets) sources_.push_back(looked_back(t));
    Word* row = tile_.data() + (detected_ % kFlush) * row_words_;
    kernels_.parity(row, sources_.data(), sources_.size(), row_words_);
    ++detected_;
    if (detected_ % kFlush == 0) flush_detector_rows(detected_ - kFlush, kFlush);
  }

  void on_observable_include(const Step& step) {
    if (!detectors_) return;
    const auto targets = step.targets;
    Word* row = slot_row(plan_.slot[step.index]);
    std::size_t paulis = 0;
    for (const Target t : targets) {
      if (is_record(t)) {
        xor_into(row, looked_back(t));
      } else {
        ++paulis;
      }
    }
    if (paulis == 0) return;
    anticommuting(mask_.data(), targets.subspan(targets.size() - paulis));
    xor_into(row, mask_.data());
  }

  // ---- writing rows out ----------------------------------------------------------------

  void flush_measurement_rows(std::uint64_t entry0, std::size_t entries) {
    meter_.count(entries * blocks_);
    for (std::size_t e = 0; e < entries; ++e) out_rows_[e] = record_row(entry0 + e);
    write_entries(measurements_out_, batch_first_, row_words_, out_rows_.data(), entries, entry0,
                  reference_.data() + entry0 / 64);
  }

  void flush_measurements() {
    const std::size_t rest = static_cast<std::size_t>(written_ % kFlush);
    if (rest != 0) flush_measurement_rows(written_ - rest, rest);
  }

  void flush_detector_rows(std::uint64_t entry0, std::size_t entries) {
    meter_.count(entries * blocks_);
    for (std::size_t e = 0; e < entries; ++e) out_rows_[e] = tile_.data() + e * row_words_;
    write_entries(detectors_out_, batch_first_, row_words_, out_rows_.data(), entries, entry0, nullptr);
  }

  void flush_detectors() {
    const std::size_t rest = static_cast<std::size_t>(detected_ % kFlush);
    if (rest != 0) flush_detector_rows(detected_ - rest, rest);
  }

  // Runs of kFlush observables that hold at least one included observable;
  // the other rows stay zero.
  void flush_observables() {
    const auto& index = plan_.observables;
    for (std::size_t s = 0; s < index.size();) {
      const std::uint64_t entry0 = index[s] / kFlush * kFlush;
      const std::size_t entries =
          static_cast<std::size_t>(std::min<std::uint64_t>(kFlush, program_.observable_count - entry0));
      std::fill(out_rows_.begin(), out_rows_.end(), nullptr);
      for (; s < index.size() && index[s] < entry0 + kFlush; ++s) out_rows_[index[s] - entry0] = slot_row(s);
      meter_.count(entries * blocks_);
      write_entries(observables_out_, batch_first_, row_words_, out_rows_.data(), entries, entry0, nullptr);
    }
  }

  const Program& program_;
  ChaChaKey key_{};
  bool detectors_;
  bool packed_;
  const Kernels& kernels_;
  Plan plan_;
  std::size_t max_blocks_ = 1;

  bool have_reference_ = false;
  std::vector<Word> reference_;  // the reference record, 64 entries a word

  std::size_t allocated_words_ = 0;
  std::size_t row_words_ = 0;
  std::size_t blocks_ = 0;
  std::uint64_t batch_first_ = 0;
  Rows frames_, ring_, gauge_, tile_, slots_, mask_, chain_;
  std::vector<BlockStream> gauge_streams_, noise_streams_;
  std::vector<std::uint64_t> next_site_;
  std::vector<const Word*> sources_;
  std::vector<const Word*> out_rows_ = std::vector<const Word*>(kFlush);
  std::uint64_t written_ = 0;   // record entries so far
  std::uint64_t detected_ = 0;  // detectors so far
  WorkMeter meter_{nullptr};
  ShotRows measurements_out_, detectors_out_, observables_out_;
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

void FrameSampler::run_shots(const ChaChaKey& key, std::uint64_t first, std::uint64_t count,
                             SampleOutputs outputs, CancelCheck* cancel) {
  engine_->run_shots(key, first, count, outputs, cancel);
}

}  // namespace ordavine::frames
