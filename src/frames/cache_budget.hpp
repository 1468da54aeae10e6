// How many bytes of rows a batch of blocks may keep so that walking the
// program over it stays within the core's own cache: the level-2 cache as
// the system reports it, or a megabyte where it reports none.  Only the
// batch width depends on it, and no output depends on the batch width.
#pragma once

#include <cstddef>

namespace ordavine::frames {

std::size_t batch_cache_bytes();

}  // namespace ordavine::frames
