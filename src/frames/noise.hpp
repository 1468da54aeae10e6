// Sampling which sites of a noise channel fire, without a draw per site.
//
// A channel of probability p over a run of sites (targets times shots)
// fires at each site independently.  The gaps between firing sites are
// geometric: a gap is floor(ln U / ln(1 - p)) for U uniform in (0, 1],
// taken from one 64-bit word w as U = (floor(w / 2^11) + 1) / 2^53.  The
// first firing site is the first gap; each next one is the previous plus
// one plus the next gap; the first gap that reaches past the last site ends
// the run (that word is used up).  A channel with p = 1 fires at every site
// and draws no gaps.  So a run of N sites draws about N p + 1 words.
//
// The logarithms are computed here with additions, multiplications and
// divisions only (no library call, no fused multiply-add), each rounded as
// IEEE 754 prescribes, so every machine finds the same gaps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "frames/block_stream.hpp"

namespace ordavine::frames {

// ln(x) for a normal x > 0.
double portable_log(double x);

// ln(1 - p) for p in (0, 1), accurate also where 1 - p rounds.
double portable_log1m(double p);

// Firing sites of one channel in one block, drawn ahead of what they do
// (FiringRate::draw), with the choice word of each for channels that choose.
struct Firings {
  static constexpr std::size_t kCapacity = 128;
  std::size_t count = 0;
  std::array<std::uint64_t, kCapacity> site;
  std::array<std::uint64_t, kCapacity> choice;
};

// The firing probability of a channel, ready for gap sampling.
struct FiringRate {
  double inverse_log_q = 0.0;  // 1 / ln(1 - p), negative; unused when always
  bool always = false;         // p >= 1
  bool never = true;           // p <= 0

  static FiringRate of(double p);

  // The first firing site among `count` sites, or `count` when none fires;
  // `stream` keeps logs.
  std::uint64_t first(BlockStream& stream, std::uint64_t count) const {
    return following(stream, ~std::uint64_t{0}, count);
  }

  // The firing site after `site` (~0 stands for "before the first"), or
  // `count` when no later site fires.
  std::uint64_t following(BlockStream& stream, std::uint64_t site, std::uint64_t count) const {
    const std::uint64_t start = site + 1;  // wraps to 0 for the start marker
    if (never || start >= count) return count;
    if (always) return start;
    return gap_after(stream, site, count);
  }

  // Draws the firing sites from `next` (a firing site, or `count` when
  // none is left) that lie below `stop` (at most `count`), at most
  // Firings::kCapacity of them, before anything is done with them: each
  // is followed in the stream by one word for its choice where Choosing,
  // as when they are handled one by one.  `next` is left at the firing
  // site after the last one drawn.
  template <bool Choosing>
  void draw(BlockStream& stream, std::uint64_t& next, std::uint64_t count, std::uint64_t stop,
            Firings& out) const {
    std::size_t n = 0;
    std::uint64_t site = next;
    if (always || never) {  // every site, drawing no gaps (or none at all)
      for (; site < stop && n < Firings::kCapacity; ++n, site = following(stream, site, count)) {
        out.site[n] = site;
        if constexpr (Choosing) out.choice[n] = stream.next();
      }
    } else if (count < kExact) {
      // Every site number and gap below 2^53 is exact as a double and as
      // an integer: a gap of 2^53 or more ends the run like any past count.
      for (; site < stop && n < Firings::kCapacity; ++n) {
        out.site[n] = site;
        if constexpr (Choosing) out.choice[n] = stream.next();
        if (site + 1 >= count) {  // the last site: no gap is drawn after it
          site = count;
          continue;
        }
        const double x = stream.next_log() * inverse_log_q;
        const std::uint64_t gap =
            x < static_cast<double>(kExact) ? static_cast<std::uint64_t>(static_cast<std::int64_t>(x)) : kExact;
        const std::uint64_t following = site + 1 + gap;
        site = following < count ? following : count;
      }
    } else {
      for (; site < stop && n < Firings::kCapacity; ++n) {
        out.site[n] = site;
        if constexpr (Choosing) out.choice[n] = stream.next();
        site = gap_after(stream, site, count);
      }
    }
    out.count = n;
    next = site;
  }

 private:
  static constexpr std::uint64_t kExact = std::uint64_t{1} << 53;

  // following() for a channel that neither always nor never fires.
  std::uint64_t gap_after(BlockStream& stream, std::uint64_t site, std::uint64_t count) const {
    const std::uint64_t start = site + 1;
    if (start >= count) return count;
    // x = ln U / ln(1 - p) >= 0 and the gap is floor(x); floor(x) >= n
    // exactly when x >= n for a whole number n, so x is compared as it is
    // and truncated only once it is known to be in range.  Below 2^53 the
    // comparison is made on integers (converting n to a double costs more).
    const double x = stream.next_log() * inverse_log_q;
    const std::uint64_t n = count - start;
    if (n < kExact) {
      if (x >= static_cast<double>(kExact)) return count;
      const auto gap = static_cast<std::uint64_t>(static_cast<std::int64_t>(x));
      return gap >= n ? count : start + gap;
    }
    if (x >= static_cast<double>(n)) return count;
    return start + static_cast<std::uint64_t>(x);
  }
};

// The alternative a firing site takes, for channels with several: from
// one word, U = floor(w / 2^11) / 2^53 in [0, 1), the first alternative
// whose running sum of probabilities exceeds U times their total (the last
// one with a nonzero probability when rounding leaves none).
// `cumulative` holds the running sums divided by the total.
std::size_t choose(std::span<const double> cumulative, std::uint64_t word);

// A uniform choice among n alternatives: floor(w * n / 2^64).
inline unsigned uniform_choice(std::uint64_t word, unsigned n) {
  return static_cast<unsigned>((static_cast<unsigned __int128>(word) * n) >> 64);
}

}  // namespace ordavine::frames
