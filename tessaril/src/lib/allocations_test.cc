// Each call allocates only what the engine's design lists: sealing the
// context record, the sealed buffer and the token string; opening the three
// decoded fields, the plaintext and (beyond the string's inline capacity)
// the purpose copy. Counted by replacing operator new in this test binary.
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "lib/context_record.h"
#include "lib/open.h"
#include "lib/seal.h"
#include "testing/bytes.h"

#if defined(__SANITIZE_ADDRESS__)
#define TESSARILS_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define TESSARILS_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef TESSARILS_COUNT_ALLOCATIONS
#define TESSARILS_COUNT_ALLOCATIONS 1
#endif

#if TESSARILS_COUNT_ALLOCATIONS
// The replacements pair malloc with free; GCC cannot see that through the
// standard library's inlined allocators.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
thread_local std::size_t allocations = 0;
}  // namespace

void* operator new(std::size_t size)
{
    ++allocations;
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

namespace tessaril {
namespace {

using testing::as_bytes;

struct Counted {
    std::size_t seal;
    std::size_t open;
};

#if TESSARILS_COUNT_ALLOCATIONS
// Allocations of one seal and one open of |size| bytes under |purpose|.
Counted count_calls(const CipherState& state, std::size_t size, std::string_view purpose)
{
    const std::string text(size, 'x');
    const std::size_t before_seal = allocations;
    const auto token = seal_token(state, as_bytes(text), std::nullopt, purpose);
    const std::size_t sealed = allocations - before_seal;
    EXPECT_TRUE(token.has_value());
    const std::size_t before_open = allocations;
    const auto opened = open_token(state, *token, purpose, 1);
    const std::size_t opened_count = allocations - before_open;
    EXPECT_TRUE(opened.has_value());
    return {sealed, opened_count};
}
#endif

class Allocations : public ::testing::TestWithParam<Backend> {};

TEST_P(Allocations, PerCallAreThoseOfTheDesign)
{
#if !TESSARILS_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizer owns operator new";
#else
    const CipherState state = CipherState::build(GetParam(), 99);
    // Every path of each backend: short messages take the fast path, long
    // ones the wide path.
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{1024}, std::size_t{16384}}) {
        const std::size_t plaintext = size == 0 ? 0 : 1;  // an empty plaintext needs no buffer
        const Counted short_purpose = count_calls(state, size, DEFAULT_PURPOSE);
        EXPECT_EQ(short_purpose.seal, 3u) << size;
        EXPECT_EQ(short_purpose.open, 3 + plaintext) << size;  // "session" fits the string inline
        const Counted long_purpose = count_calls(state, size, std::string(200, 'p'));
        EXPECT_EQ(long_purpose.seal, 3u) << size;
        EXPECT_EQ(long_purpose.open, 4 + plaintext) << size;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(Backends, Allocations, ::testing::Values(Backend::AES256_GCM, Backend::XCHACHA20_POLY1305),
                         [](const ::testing::TestParamInfo<Backend>& backend) {
                             return backend.param == Backend::AES256_GCM ? "Aes" : "XChaCha";
                         });

}  // namespace
}  // namespace tessaril
