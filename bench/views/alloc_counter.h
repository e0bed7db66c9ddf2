// Counts the calls of malloc and friends in this process (glibc), so the
// benchmark can show what a frame or a tick allocates.
#pragma once

#include <cstdint>

namespace bench {

std::uint64_t AllocationCount();

} // namespace bench
