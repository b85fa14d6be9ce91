#include "allocation_counter.h"

#include <cstdlib>
#include <new>

// glibc's own entry points, which the definitions below forward to. Defining
// malloc in the executable interposes it for the shared libraries too.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

thread_local std::uint64_t news = 0;
thread_local std::uint64_t mallocs = 0;

}  // namespace

extern "C" {

void* malloc(std::size_t size)
{
    ++mallocs;
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    ++mallocs;
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size)
{
    ++mallocs;
    return __libc_realloc(pointer, size);
}

}  // extern "C"

void* operator new(std::size_t size)
{
    ++news;
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

namespace tessaril::bench {

AllocationCounts allocation_counts() noexcept
{
    return {news, mallocs};
}

}  // namespace tessaril::bench
