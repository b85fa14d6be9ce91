#include "allocation_counter.h"

#include <cstddef>

#include "testing/allocation_counter.h"

// glibc's own entry points, which the definitions below forward to. Defining
// malloc in the executable interposes it for the shared libraries too.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

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

namespace tessaril::bench {

AllocationCounts allocation_counts() noexcept
{
    return {testing::operator_new_calls(), mallocs};
}

}  // namespace tessaril::bench
