#include "frames/batch_walk.hpp"

#include <algorithm>

#include "circuit/walk.hpp"
#include "clifford/pauli_pairs.hpp"
#include "failure/failure.hpp"
#include "frames/clifford_maps.hpp"
#include "frames/noise.hpp"

namespace ordavine::frames {
namespace {

using circuit::is_record;
using circuit::pauli_of;
using circuit::Step;
using circuit::Target;
using circuit::value_of;

// X/Z bits of the Pauli codes 0 = I, 1 = X, 2 = Y, 3 = Z.
constexpr unsigned kCodeBits[4] = {0b00, 0b01, 0b11, 0b10};

// Nothing more to do where a recorded channel fires.
constexpr auto kRecordOnly = [](std::size_t, std::size_t, std::uint64_t, std::uint64_t) {};

// Work, for cancellation, is counted in rows of the batch: per instruction
// and per target, one per block side by side, and one per firing of a noise
// channel and per repetition (the output counts the rows it writes).
class BatchWalk {
 public:
  explicit BatchWalk(const BatchContext& context)
      : c_(context),
        frames_(context.rows.frames()),
        ring_(context.rows.record()),
        row_words_(context.rows.row_words()),
        blocks_(context.gauge_streams.size()) {}

  void run() {
    ring_.restart();
    if (!c_.gauges) {
      for (std::size_t t = 0; t < kPiece; ++t) frames_.zero(c_.rows.gauge(t));
    }
    circuit::walk(c_.program, *this);
    if (ring_.written() != c_.program.measurement_count || detected_ != c_.program.detector_count) {
      fail("a batch wrote a record of another length than its program counted");
    }
    if (c_.detectors) {
      const std::size_t rest = static_cast<std::size_t>(detected_ % kFlush);
      if (rest != 0) c_.output.detectors(c_.rows, detected_ - rest, rest);
      c_.output.observables(c_.rows, c_.plan.observables, c_.program.observable_count);
    } else {
      const std::size_t rest = static_cast<std::size_t>(ring_.written() % kFlush);
      if (rest != 0) c_.output.measurements(ring_, row_words_, ring_.written() - rest, rest);
    }
  }

  // ---- the walk's members -------------------------------------------------------

  void on_repetition() { c_.meter.count(1); }
  void on_step(const Step& step) { c_.meter.count((std::uint64_t{1} + step.targets.size()) * blocks_); }

  void on_single_qubit(const Step& step) {
    c_.kernels.single[step.instruction.vop](frames_.data(), row_words_, step.targets.data(),
                                            step.targets.size());
  }

  void on_two_qubit(const Step& step) {
    const auto targets = step.targets;
    const GateKernel kernel = c_.kernels.pair[static_cast<unsigned>(step.instruction.gate)];
    if (!c_.plan.feeds_forward[step.index]) {
      return kernel(frames_.data(), row_words_, targets.data(), targets.size());
    }
    const FeedForward ff = feed_forward(step.instruction.gate);
    for (std::size_t p = 0; p < targets.size(); p += 2) {
      const Target a = targets[p], b = targets[p + 1];
      if (is_record(a)) {
        frames_.apply_where(value_of(b), ff.on_second, ring_.looked_back(value_of(a)));
      } else if (is_record(b)) {
        frames_.apply_where(value_of(a), ff.on_first, ring_.looked_back(value_of(b)));
      } else {
        kernel(frames_.data(), row_words_, &targets[p], 2);
      }
    }
  }

  void on_measure(const Step& step) { measure(step, c_.kernels.measure[axis_index(step)]); }
  void on_measure_reset(const Step& step) { measure(step, c_.kernels.measure_reset[axis_index(step)]); }

  // Resets draw a gauge per target and record nothing.
  void on_reset(const Step& step) {
    const auto targets = step.targets;
    const MeasureKernel kernel = c_.kernels.reset[axis_index(step)];
    for (std::size_t done = 0; done < targets.size();) {
      const std::size_t count = std::min(targets.size() - done, kPiece);
      draw_gauges(count);
      kernel(frames_.data(), row_words_, &targets[done], count, c_.rows.gauge(0), nullptr);
      done += count;
    }
  }

  void on_measure_product(const Step& step) {
    const auto targets = step.targets;
    std::size_t products = 0;
    for (std::size_t at = 0; at < targets.size(); at = product_end(targets, at)) ++products;
    const std::uint64_t sites = products * kBlockShots;
    start_sites(step.index, sites);
    std::size_t at = 0;
    for (std::size_t done = 0; done < products;) {
      const std::size_t count = ring_.piece_after(done, products);
      draw_gauges(count);
      for (std::size_t t = 0; t < count; ++t) {
        const std::size_t end = product_end(targets, at);
        const auto factors = targets.subspan(at + 1, end - at - 1);
        anticommuting(ring_.next(t), factors);
        apply_product_where(factors, c_.rows.gauge(t));
        at = end;
      }
      flip_records<false>(step.index, done, done + count, sites, kRecordOnly);
      done += count;
      piece_recorded(count);
    }
  }

  // exp(+-i pi/4 P): a frame that anticommutes with P is multiplied by P.
  void on_rotate_product(const Step& step) {
    const auto targets = step.targets;
    for (std::size_t at = 0; at < targets.size();) {
      const std::size_t end = product_end(targets, at);
      const auto factors = targets.subspan(at + 1, end - at - 1);
      anticommuting(c_.rows.mask(), factors);
      apply_product_where(factors, c_.rows.mask());
      at = end;
    }
  }

  void on_pad(const Step& step) { recorded<false>(step.index, step.targets.size(), kRecordOnly); }

  // Noise members apply their Paulis through local copies of the frames'
  // view and the targets: stores to the rows could otherwise alias them,
  // and every firing would load them again.
  void on_pauli_error(const Step& step) {
    const FrameRows frames = frames_;
    const auto targets = step.targets;
    const unsigned bits = axis_bits(step.instruction.axis);
    each_firing<false>(step.index, step.targets.size() * kBlockShots,
                       [&](std::size_t j, std::uint64_t site, std::uint64_t) {
                         frames.apply_at(value_of(targets[site / kBlockShots]), bits, j, site % kBlockShots);
                       });
  }

  void on_depolarize1(const Step& step) {
    const FrameRows frames = frames_;
    const auto targets = step.targets;
    each_firing<true>(step.index, step.targets.size() * kBlockShots,
                      [&](std::size_t j, std::uint64_t site, std::uint64_t word) {
                        const unsigned code = 1 + uniform_choice(word, 3);
                        frames.apply_at(value_of(targets[site / kBlockShots]), kCodeBits[code], j,
                                        site % kBlockShots);
                      });
  }

  void on_depolarize2(const Step& step) {
    const FrameRows frames = frames_;
    const auto targets = step.targets;
    each_firing<true>(step.index, step.targets.size() / 2 * kBlockShots,
                      [&](std::size_t j, std::uint64_t site, std::uint64_t word) {
                        pair_error(frames, targets, site, j, 1 + uniform_choice(word, 15));
                      });
  }

  void on_pauli_channel_1(const Step& step) {
    const FrameRows frames = frames_;
    const auto targets = step.targets;
    const auto choices = c_.plan.alternatives(step.index, 3);
    each_firing<true>(step.index, step.targets.size() * kBlockShots,
                      [&](std::size_t j, std::uint64_t site, std::uint64_t word) {
                        const std::size_t k = choose(choices, word);
                        frames.apply_at(value_of(targets[site / kBlockShots]), kCodeBits[k + 1], j,
                                        site % kBlockShots);
                      });
  }

  void on_pauli_channel_2(const Step& step) {
    const FrameRows frames = frames_;
    const auto targets = step.targets;
    const auto choices = c_.plan.alternatives(step.index, 15);
    each_firing<true>(step.index, step.targets.size() / 2 * kBlockShots,
                      [&](std::size_t j, std::uint64_t site, std::uint64_t word) {
                        const std::size_t k = choose(choices, word);
                        pair_error(frames, targets, site, j, static_cast<unsigned>(k + 1));
                      });
  }

  // E fires in each shot with its probability and starts a chain; ELSE
  // fires only in shots where no earlier member of the chain has.
  void on_correlated_error(const Step& step) {
    Word* fired = c_.rows.mask();
    frames_.zero(fired);
    each_firing<false>(step.index, kBlockShots, [&](std::size_t j, std::uint64_t lane, std::uint64_t) {
      frames_.flip(fired, j, lane);
    });
    Word* chain = c_.rows.chain();
    if (!step.instruction.else_branch) {
      frames_.copy(chain, fired);
    } else {
      for (std::size_t k = 0; k < row_words_; ++k) {
        fired[k] &= ~chain[k];
        chain[k] |= fired[k];
      }
    }
    apply_product_where(step.targets, fired);
  }

  void on_heralded_erase(const Step& step) {
    recorded<true>(step.index, step.targets.size(),
                   [&](std::size_t t, std::size_t j, std::uint64_t lane, std::uint64_t word) {
                     const unsigned code = uniform_choice(word, 4);
                     frames_.apply_at(value_of(step.targets[t]), kCodeBits[code], j, lane);
                   });
  }

  void on_heralded_pauli_channel_1(const Step& step) {
    const auto choices = c_.plan.alternatives(step.index, 4);
    recorded<true>(step.index, step.targets.size(),
                   [&](std::size_t t, std::size_t j, std::uint64_t lane, std::uint64_t word) {
                     const std::size_t code = choose(choices, word);
                     frames_.apply_at(value_of(step.targets[t]), kCodeBits[code], j, lane);
                   });
  }

  void on_detector(const Step& step) {
    if (!c_.detectors) {
      ++detected_;
      return;
    }
    auto& sources = c_.scratch.sources;
    sources.clear();
    for (const Target t : step.targets) sources.push_back(ring_.looked_back(value_of(t)));
    c_.kernels.parity(c_.rows.tile(detected_ % kFlush), sources.data(), sources.size(), row_words_);
    ++detected_;
    if (detected_ % kFlush == 0) c_.output.detectors(c_.rows, detected_ - kFlush, kFlush);
  }

  void on_observable_include(const Step& step) {
    if (!c_.detectors) return;
    const auto targets = step.targets;
    Word* row = c_.rows.slot(c_.plan.slot[step.index]);
    std::size_t paulis = 0;
    for (const Target t : targets) {
      if (is_record(t)) {
        frames_.xor_into(row, ring_.looked_back(value_of(t)));
      } else {
        ++paulis;
      }
    }
    if (paulis == 0) return;
    anticommuting(c_.rows.mask(), targets.subspan(targets.size() - paulis));
    frames_.xor_into(row, c_.rows.mask());
  }

 private:
  static unsigned axis_index(const Step& step) { return static_cast<unsigned>(step.instruction.axis); }

  // ---- noise ---------------------------------------------------------------------------

  // The firing sites of instruction i's channel among `sites` sites per
  // block, each given to fire(j, site, word) with its block j and, where
  // Choosing, the word its choice is made from.
  template <bool Choosing, class Fire>
  void each_firing(std::size_t i, std::uint64_t sites, Fire&& fire) {
    start_sites(i, sites);
    firings_below<Choosing>(i, sites, sites, fire);
  }

  // The firing sites below `stop` of instruction i's channel among `sites`
  // sites per block, from each block's next firing site (next_site, which
  // they leave at the first one not drawn): fire(j, site, word) for each.
  // The sites are drawn a run at a time before any is acted on, so the
  // drawing loop keeps the stream to itself.
  template <bool Choosing, class Fire>
  void firings_below(std::size_t i, std::uint64_t stop, std::uint64_t sites, Fire&& fire) {
    const FiringRate& rate = c_.plan.rate[i];
    if (rate.never) return;
    Firings& drawn = c_.scratch.firings;
    for (std::size_t j = 0; j < blocks_; ++j) {
      BlockStream& stream = c_.noise_streams[j];
      std::uint64_t& next = c_.scratch.next_site[j];
      while (next < stop) {
        rate.draw<Choosing>(stream, next, sites, stop, drawn);
        for (std::size_t k = 0; k < drawn.count; ++k) fire(j, drawn.site[k], drawn.choice[k]);
        c_.meter.count(drawn.count);
      }
    }
  }

  // The two-qubit Pauli of a pair code (clifford/pauli_pairs.hpp) on the
  // pair of a site.
  static void pair_error(const FrameRows& frames, std::span<const Target> targets, std::uint64_t site,
                         std::size_t j, unsigned code) {
    const std::uint64_t pair = site / kBlockShots, lane = site % kBlockShots;
    const PairCode paulis = pair_code(code);
    frames.apply_at(value_of(targets[2 * pair]), kCodeBits[paulis.first], j, lane);
    frames.apply_at(value_of(targets[2 * pair + 1]), kCodeBits[paulis.second], j, lane);
  }

  // Each block's first firing site among the `sites` sites of instruction
  // i, into next_site (a recording instruction's continues from piece to
  // piece there).
  void start_sites(std::size_t i, std::uint64_t sites) {
    auto& next = c_.scratch.next_site;
    next.assign(blocks_, sites);
    if (c_.plan.rate[i].never) return;
    for (std::size_t j = 0; j < blocks_; ++j) next[j] = c_.plan.rate[i].first(c_.noise_streams[j], sites);
  }

  // Record flips of instruction i's channel for the record rows of targets
  // begin .. end - 1 (the next rows of the ring), continuing the blocks'
  // firing sites; `fire(t, j, lane, word)` after each flip (word: the
  // choice word where Choosing).
  template <bool Choosing, class Fire>
  void flip_records(std::size_t i, std::size_t begin, std::size_t end, std::uint64_t sites, Fire&& fire) {
    firings_below<Choosing>(i, end * kBlockShots, sites,
                            [&](std::size_t j, std::uint64_t site, std::uint64_t word) {
                              const std::size_t t = static_cast<std::size_t>(site / kBlockShots);
                              frames_.flip(ring_.next(t - begin), j, site % kBlockShots);
                              fire(t, j, site % kBlockShots, word);
                            });
  }

  // ---- recording -----------------------------------------------------------------------

  // Gauge bits for `count` targets: gauge row t, block j's words from block
  // j's gauge stream, target by target (the rows stay zero without gauges).
  void draw_gauges(std::size_t count) {
    if (!c_.gauges) return;
    for (std::size_t t = 0; t < count; ++t) {
      Word* row = c_.rows.gauge(t);
      for (std::size_t j = 0; j < blocks_; ++j) c_.gauge_streams[j].next4(row + j * kBlockWords);
    }
  }

  void piece_recorded(std::size_t count) {
    if (ring_.advance(count) && !c_.detectors) {
      c_.output.measurements(ring_, row_words_, ring_.written() - kFlush, kFlush);
    }
  }

  // Measurements (and measurements with a reset) draw a gauge per target
  // and record the flips the kernel finds, plus the recorded noise.
  void measure(const Step& step, MeasureKernel kernel) {
    const auto targets = step.targets;
    const std::uint64_t sites = targets.size() * kBlockShots;
    start_sites(step.index, sites);
    Word* records[kPiece];
    for (std::size_t done = 0; done < targets.size();) {
      const std::size_t count = ring_.piece_after(done, targets.size());
      draw_gauges(count);
      for (std::size_t t = 0; t < count; ++t) records[t] = ring_.next(t);
      kernel(frames_.data(), row_words_, &targets[done], count, c_.rows.gauge(0), records);
      flip_records<false>(step.index, done, done + count, sites, kRecordOnly);
      done += count;
      piece_recorded(count);
    }
  }

  // Instructions whose records are noise alone (MPAD, heralds): rows of
  // zeros, flipped where the channel fires; `fire(t, j, lane, word)` then acts
  // on the frame.
  template <bool Choosing, class Fire>
  void recorded(std::size_t i, std::size_t count_all, Fire&& fire) {
    const std::uint64_t sites = count_all * kBlockShots;
    start_sites(i, sites);
    for (std::size_t done = 0; done < count_all;) {
      const std::size_t count = ring_.piece_after(done, count_all);
      for (std::size_t t = 0; t < count; ++t) frames_.zero(ring_.next(t));
      flip_records<Choosing>(i, done, done + count, sites, fire);
      done += count;
      piece_recorded(count);
    }
  }

  // ---- products ------------------------------------------------------------------------

  // The index after the product (a header and its factors) at targets[at].
  static std::size_t product_end(std::span<const Target> targets, std::size_t at) {
    return at + 1 + value_of(targets[at]);
  }

  // dst = where the frames anticommute with the product of `factors`.
  void anticommuting(Word* dst, std::span<const Target> factors) {
    frames_.zero(dst);
    for (const Target f : factors) {
      const unsigned bits = axis_bits(pauli_of(f));
      const std::uint64_t q = value_of(f);
      if (bits & 1) frames_.xor_into(dst, frames_.z_row(q));  // an X part anticommutes with Z
      if (bits & 2) frames_.xor_into(dst, frames_.x_row(q));
    }
  }

  void apply_product_where(std::span<const Target> factors, const Word* mask) {
    for (const Target f : factors) frames_.apply_where(value_of(f), axis_bits(pauli_of(f)), mask);
  }

  const BatchContext& c_;
  FrameRows frames_;
  RecordRing& ring_;
  std::size_t row_words_;
  std::size_t blocks_;
  std::uint64_t detected_ = 0;  // detectors so far
};

}  // namespace

void walk_batch(const BatchContext& context) { BatchWalk(context).run(); }

}  // namespace ordavine::frames
