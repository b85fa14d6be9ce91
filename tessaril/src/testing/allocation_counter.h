// Counts the calls of operator new made by each thread, and inspects the
// blocks each thread releases, by replacing the global operator new and
// delete in the program that links allocation_counter.cc.
#pragma once

#include <cstdint>
#include <span>

#if defined(__SANITIZE_ADDRESS__)
#define TESSARILS_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define TESSARILS_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef TESSARILS_COUNTS_ALLOCATIONS
#define TESSARILS_COUNTS_ALLOCATIONS 1  // a sanitizer that owns operator new turns counting off
#endif

namespace tessaril::testing {

// Calls of operator new (all forms but the aligned ones) made by this thread
// so far; always 0 where counting is off.
[[nodiscard]] std::uint64_t operator_new_calls() noexcept;

// While it lives, counts the blocks this thread releases through operator
// delete that still hold |marker|: plaintext or key bytes that were freed
// without being wiped. Always 0 where counting is off.
class FreedBlockWatch {
public:
    explicit FreedBlockWatch(std::span<const std::uint8_t> marker) noexcept;
    ~FreedBlockWatch();
    FreedBlockWatch(const FreedBlockWatch&) = delete;
    FreedBlockWatch& operator=(const FreedBlockWatch&) = delete;

    [[nodiscard]] std::uint64_t blocks_holding_marker() const noexcept;
};

}  // namespace tessaril::testing
