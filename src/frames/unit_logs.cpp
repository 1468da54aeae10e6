#include "frames/unit_logs.hpp"

#include <array>
#include <bit>

#include "failure/failure.hpp"
#include "frames/log_constants.hpp"

namespace ordavine::frames {
namespace {

#define ORDAVINE_INLINE inline __attribute__((always_inline))

// Every helper is always inlined into an entry point with the width's
// target attribute, so no vector crosses a call; the compilers warn about
// the ABI of the helpers' vector values all the same.
#pragma GCC diagnostic ignored "-Wpsabi"

// Doubles and their bits, Bytes / 8 lanes: each width takes its own
// machine vector (wider ones would be split and spill registers).
template <std::size_t Bytes>
struct Vectors {
  typedef double Doubles __attribute__((vector_size(Bytes)));
  typedef std::uint64_t Bits __attribute__((vector_size(Bytes)));
};

template <class To, class From>
ORDAVINE_INLINE To reinterpret(From v) {
  static_assert(sizeof(To) == sizeof(From));
  To out;
  __builtin_memcpy(&out, &v, sizeof out);
  return out;
}

// The doubles of integers below 2^52, exactly: placed in the mantissa of
// 2^52 and 2^52 taken away.
template <class Doubles, class Bits>
ORDAVINE_INLINE Doubles small_to_double(Bits n) {
  return reinterpret<Doubles>(n | (Bits{} + 0x4330000000000000ull)) - 0x1p52;
}

// Lanes of `yes` where the mask is all ones, of `no` where it is zero.
template <class Doubles, class Bits>
ORDAVINE_INLINE Doubles select(Bits mask, Doubles yes, Doubles no) {
  return reinterpret<Doubles>((reinterpret<Bits>(yes) & mask) | (reinterpret<Bits>(no) & ~mask));
}

// The constants of portable_log (noise.cpp).
using namespace log_constants;
constexpr std::uint64_t kTwiceSqrtHalfBits = std::bit_cast<std::uint64_t>(2 * kSqrtHalf);
// 1 / (2k + 1) for k < kTerms: the coefficients of Horner's rule below.
constexpr auto kOddReciprocals = [] {
  std::array<double, kTerms> r{};
  for (int k = 0; k < kTerms; ++k) r[k] = 1.0 / (2 * k + 1);
  return r;
}();

template <std::size_t Bytes>
ORDAVINE_INLINE void logs_body(const std::uint64_t* words, double* logs, std::size_t count) {
  using Doubles = typename Vectors<Bytes>::Doubles;
  using Bits = typename Vectors<Bytes>::Bits;
  constexpr auto to_double = small_to_double<Doubles, Bits>;
  constexpr auto pick = select<Doubles, Bits>;
  for (std::size_t i = 0; i < count; i += Bytes / 8) {
    Bits w;
    __builtin_memcpy(&w, words + i, sizeof w);
    // U's numerator, 1 .. 2^53, in two exact halves.
    const Bits n = (w >> 11) + 1;
    const Doubles u = (to_double(n >> 26) * 0x1p26 + to_double(n & ((1ull << 26) - 1))) * 0x1p-53;

    // u = m 2^e with m in [sqrt(1/2), sqrt(2)).
    const Bits bits = reinterpret<Bits>(u);
    Doubles e = to_double((bits >> 52) & 0x7FF) - 1023.0;
    Doubles m = reinterpret<Doubles>((bits & ((1ull << 52) - 1)) | (Bits{} + (1023ull << 52)));
    // Selected by masks, not per lane: the halving is a coin toss.
    // m * 0.5 >= sqrt(1/2) exactly when m >= 2 sqrt(1/2) (halving is exact),
    // and positive doubles order as their bits do: the mask is the borrow
    // of a subtraction, made by shifts and subtractions every width has.
    const Bits below = (reinterpret<Bits>(m) - kTwiceSqrtHalfBits) >> 63;  // 1 where m < 2 sqrt(1/2)
    const Bits halve = below - 1;
    m = pick(halve, m * 0.5, m);
    e = pick(halve, e + 1.0, e);

    // 2 atanh(s), s = (m - 1) / (m + 1), by Horner's rule in s^2.
    const Doubles s = (m - 1.0) / (m + 1.0);
    const Doubles s2 = s * s;
    Doubles sum = Doubles{} + kOddReciprocals[kTerms - 1];
#pragma GCC unroll 16
    for (int k = kTerms - 2; k >= 0; --k) sum = sum * s2 + kOddReciprocals[k];
    const Doubles twice_atanh = 2.0 * s * sum;

    const Doubles log = e * kLn2High + (e * kLn2Low + twice_atanh);
    __builtin_memcpy(logs + i, &log, sizeof log);
  }
}

void portable_logs(const std::uint64_t* w, double* l, std::size_t n) { logs_body<16>(w, l, n); }
__attribute__((target("avx2"))) void avx2_logs(const std::uint64_t* w, double* l, std::size_t n) {
  logs_body<32>(w, l, n);
}
__attribute__((target("avx512f"))) void avx512_logs(const std::uint64_t* w, double* l, std::size_t n) {
  logs_body<64>(w, l, n);
}

using Logs = void (*)(const std::uint64_t*, double*, std::size_t);

Logs logs_for(VectorWidth width) {
  switch (width) {
    case VectorWidth::portable: return &portable_logs;
    case VectorWidth::avx2: return &avx2_logs;
    case VectorWidth::avx512: return &avx512_logs;
  }
  return &portable_logs;
}

}  // namespace

void unit_logs(const std::uint64_t* words, double* logs, std::size_t count) {
  static const Logs widest = logs_for(widest_width());
  widest(words, logs, count);
}

void unit_logs_with(VectorWidth width, const std::uint64_t* words, double* logs, std::size_t count) {
  if (!width_supported(width)) fail("unit logarithms of a vector width this machine does not have");
  logs_for(width)(words, logs, count);
}

}  // namespace ordavine::frames
