#include "frames/cache_budget.hpp"

#include <unistd.h>

#include <algorithm>

namespace ordavine::frames {
namespace {

constexpr long kUnknownCache = long{1} << 20;
// Reports outside this range are taken as mistakes of the system's.
constexpr long kSmallestCache = long{128} << 10;
constexpr long kLargestCache = long{8} << 20;

long reported_level2_bytes() {
#ifdef _SC_LEVEL2_CACHE_SIZE
  const long reported = sysconf(_SC_LEVEL2_CACHE_SIZE);
  if (reported > 0) return std::clamp(reported, kSmallestCache, kLargestCache);
#endif
  return kUnknownCache;
}

}  // namespace

std::size_t batch_cache_bytes() {
  static const auto bytes = static_cast<std::size_t>(reported_level2_bytes());
  return bytes;
}

}  // namespace ordavine::frames
