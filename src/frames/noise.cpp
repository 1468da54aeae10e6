#include "frames/noise.hpp"

#include <bit>

#include "frames/log_constants.hpp"

namespace ordavine::frames {
namespace {

using namespace log_constants;

// 2 atanh(s) = 2 (s + s^3/3 + s^5/5 + ...), `terms` terms, by Horner's rule
// in s^2.  It equals ln((1 + s) / (1 - s)).
double twice_atanh(double s, int terms) {
  const double s2 = s * s;
  double sum = 1.0 / (2 * terms - 1);
  for (int k = terms - 2; k >= 0; --k) sum = sum * s2 + 1.0 / (2 * k + 1);
  return 2.0 * s * sum;
}

}  // namespace

double portable_log(double x) {
  // x = m 2^e with m in [sqrt(1/2), sqrt(2)); ln m = 2 atanh((m - 1) / (m + 1))
  // with |(m - 1) / (m + 1)| < 0.172, where 12 terms leave an error below
  // 2^-60 of the result.
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  int e = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
  double m = std::bit_cast<double>((bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52));
  if (m * 0.5 >= kSqrtHalf) {
    m *= 0.5;
    ++e;
  }
  const double s = (m - 1.0) / (m + 1.0);
  return e * kLn2High + (e * kLn2Low + twice_atanh(s, kTerms));
}

double portable_log1m(double p) {
  // 1 - p is exact from p = 1/2 on; below, ln(1 - p) = 2 atanh(-p / (2 - p))
  // with |p / (2 - p)| <= 1/3, where 20 terms are enough.
  if (p >= 0.5) return portable_log(1.0 - p);
  return twice_atanh(-p / (2.0 - p), 20);
}

FiringRate FiringRate::of(double p) {
  FiringRate rate;
  if (!(p > 0.0)) return rate;
  rate.never = false;
  if (p >= 1.0) {
    rate.always = true;
    return rate;
  }
  rate.inverse_log_q = 1.0 / portable_log1m(p);
  return rate;
}

std::size_t choose(std::span<const double> cumulative, std::uint64_t word) {
  const double u = static_cast<double>(word >> 11) * 0x1p-53;
  std::size_t last = 0;
  for (std::size_t k = 0; k < cumulative.size(); ++k) {
    const bool nonzero = cumulative[k] > (k == 0 ? 0.0 : cumulative[k - 1]);
    if (nonzero) {
      if (u < cumulative[k]) return k;
      last = k;
    }
  }
  return last;
}

}  // namespace ordavine::frames
