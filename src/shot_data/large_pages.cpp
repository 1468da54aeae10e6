#include "shot_data/large_pages.hpp"

#include <sys/mman.h>

namespace ordavine::shot_data {

void advise_large_pages(std::span<std::uint8_t> bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes.size() < kLargePageAdviceBytes) return;
  constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = (begin + bytes.size()) & ~(kLargePage - 1);
  // Failure is no error: the advice is a hint (and the range lies inside
  // memory the caller owns, so it cannot touch anyone else's).
  if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

}  // namespace ordavine::shot_data
