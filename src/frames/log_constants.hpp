// The constants of the gap sampler's logarithm, shared by the one-at-a-time
// code (noise.cpp) and the vector code (unit_logs.cpp), which must give the
// same doubles.
#pragma once

namespace ordavine::frames::log_constants {

// ln 2 split so that e * kLn2High is exact for every exponent e.
inline constexpr double kLn2High = 0x1.62e42feep-1;
inline constexpr double kLn2Low = 0x1.a39ef35793c76p-33;
inline constexpr double kSqrtHalf = 0x1.6a09e667f3bcdp-1;
// Terms of 2 atanh(s) for ln of a mantissa in [sqrt(1/2), sqrt(2)).
inline constexpr int kTerms = 12;

}  // namespace ordavine::frames::log_constants
