#include "testing/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::uint64_t calls = 0;

}  // namespace

namespace tessaril::testing {

std::uint64_t operator_new_calls() noexcept
{
    return calls;
}

}  // namespace tessaril::testing

#if TESSARILS_COUNTS_ALLOCATIONS

// The replacements pair malloc with free; GCC cannot see that through the
// standard library's inlined allocators.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

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
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

#endif
