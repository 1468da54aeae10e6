// The amplitudes of a small register in the computational basis.  Qubit k
// is bit k of the basis index (little-endian), and the global phase is
// fixed by making the first non-zero amplitude real and positive, so equal
// states give equal vectors whatever graph represents them.
#pragma once

#include <complex>
#include <cstddef>
#include <span>

#include "register/register.hpp"

namespace ordavine {

// Registers larger than this have no state vector (2^24 amplitudes are
// 128 MiB as single-precision complex numbers).
inline constexpr std::size_t kMaxStateVectorQubits = 24;

// Writes the 2^n amplitudes of `reg` into `out`, which holds exactly that
// many.  Every amplitude of a stabilizer state is 0 or 2^(-k/2) times a
// power of i, and the values are written exactly so, not as rounded by the
// arithmetic that found them.
void write_state_vector(const Register& reg, std::span<std::complex<float>> out);

}  // namespace ordavine
