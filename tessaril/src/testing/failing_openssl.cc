#include "testing/failing_openssl.h"

#include <cstdlib>

#include <openssl/crypto.h>

namespace {

thread_local bool failing = false;

void* allocate(std::size_t size, const char*, int) noexcept
{
    return failing ? nullptr : std::malloc(size);
}

void* reallocate(void* p, std::size_t size, const char*, int) noexcept
{
    return failing ? nullptr : std::realloc(p, size);
}

void release(void* p, const char*, int) noexcept
{
    std::free(p);
}

// Runs before main, ahead of any OpenSSL allocation.
const bool hooked = CRYPTO_set_mem_functions(allocate, reallocate, release) == 1;

}  // namespace

namespace tessaril::testing {

bool FailingOpenSsl::installed() noexcept
{
    return hooked;
}

FailingOpenSsl::FailingOpenSsl() noexcept
{
    failing = true;
}

FailingOpenSsl::~FailingOpenSsl()
{
    failing = false;
}

}  // namespace tessaril::testing
