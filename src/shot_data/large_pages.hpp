// Output that is about to be written for the first time: on a large array
// the kernel's page faults (one per 4 KiB page, each zeroing its page) cost
// more than the writing itself.  Advising the whole 2 MiB pages inside it as
// large pages lets the kernel fault them in 512 times fewer steps.  Only a
// hint: the bytes are the same, and where the kernel declines (or the
// system has no such pages) nothing changes.
#pragma once

#include <cstdint>
#include <span>

namespace ordavine::shot_data {

// Spans below this size are left alone: they hold no whole large page to
// speak of, and the call would cost more than it saves.
inline constexpr std::size_t kLargePageAdviceBytes = std::size_t{4} << 20;

void advise_large_pages(std::span<std::uint8_t> bytes);

}  // namespace ordavine::shot_data
