// The logarithms the gap sampler needs, many words at a time: for each
// word w, ln U with U = (floor(w / 2^11) + 1) / 2^53, the same double that
// portable_log (noise.hpp) gives for that U.  Vector lanes do the same
// IEEE 754 operations in the same order as the one-at-a-time code, so the
// results are bit for bit those of portable_log on every width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/kernels.hpp"

namespace ordavine::frames {

// logs[i] = ln U of words[i], for i < count (count a multiple of 8).
void unit_logs(const std::uint64_t* words, double* logs, std::size_t count);

// The same by a chosen width (which this machine must run), for tests.
void unit_logs_with(VectorWidth width, const std::uint64_t* words, double* logs, std::size_t count);

}  // namespace ordavine::frames
