#include "testing/allocation_counter.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

thread_local std::uint64_t calls = 0;
thread_local std::span<const std::uint8_t> watched_marker;
thread_local std::uint64_t blocks_holding_marker = 0;

}  // namespace

namespace tessaril::testing {

std::uint64_t operator_new_calls() noexcept
{
    return calls;
}

FreedBlockWatch::FreedBlockWatch(std::span<const std::uint8_t> marker) noexcept
{
    watched_marker = marker;
    ::blocks_holding_marker = 0;
}

FreedBlockWatch::~FreedBlockWatch()
{
    watched_marker = {};
}

std::uint64_t FreedBlockWatch::blocks_holding_marker() const noexcept
{
    return ::blocks_holding_marker;
}

}  // namespace tessaril::testing

#if TESSARILS_COUNTS_ALLOCATIONS

// The replacements pair malloc with free; GCC cannot see that through the
// standard library's inlined allocators.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// The bytes a malloc block can hold, which may exceed what was asked for.
std::size_t usable_size(void* p) noexcept
{
#ifdef _WIN32
    return _msize(p);
#else
    return malloc_usable_size(p);
#endif
}

void release(void* p) noexcept
{
    if (p != nullptr && !watched_marker.empty()) {
        const auto* block = static_cast<const std::uint8_t*>(p);
        const std::span<const std::uint8_t> bytes(block, usable_size(p));
        if (!std::ranges::search(bytes, watched_marker).empty()) ++blocks_holding_marker;
    }
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size)
{
    ++calls;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    release(p);
}

void operator delete[](void* p) noexcept
{
    release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    release(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    release(p);
}

#endif
