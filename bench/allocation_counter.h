// Counts heap allocations made by this thread: those of operator new (the
// engine's own buffers and strings) and every malloc-family call, which also
// sees what libcrypto and libsodium allocate inside a call.
#pragma once

#include <cstdint>

namespace tessaril::bench {

struct AllocationCounts {
    std::uint64_t news = 0;     // operator new
    std::uint64_t mallocs = 0;  // malloc, calloc, realloc (operator new's included)
};

[[nodiscard]] AllocationCounts allocation_counts() noexcept;

}  // namespace tessaril::bench
