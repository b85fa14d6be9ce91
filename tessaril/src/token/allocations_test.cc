// Each call allocates only what the engine's design lists: sealing the
// context record, the sealed buffer and the token string; opening the three
// decoded fields, the plaintext and (beyond the string's inline capacity)
// the purpose copy. Counted by the test binary's replacement operator new.
#include <gtest/gtest.h>

#include "token/context_record.h"
#include "token/open.h"
#include "token/seal.h"
#include "testing/allocation_counter.h"
#include "testing/backends.h"
#include "testing/bytes.h"

namespace tessaril {
namespace {

using testing::as_bytes;

struct Counted {
    std::uint64_t seal;
    std::uint64_t open;
};

// Allocations of one seal and one open of |size| bytes under |purpose|.
Counted count_calls(const CipherState& state, std::size_t size, std::string_view purpose)
{
    const std::string text(size, 'x');
    const std::uint64_t before_seal = testing::operator_new_calls();
    const auto token = seal_token(state, as_bytes(text), std::nullopt, purpose);
    const std::uint64_t before_open = testing::operator_new_calls();
    if (!token) {
        ADD_FAILURE() << "sealing failed";
        return {};
    }
    const auto opened = open_token(state, *token, purpose, 1);
    const std::uint64_t after = testing::operator_new_calls();
    EXPECT_TRUE(opened.has_value());
    return {before_open - before_seal, after - before_open};
}

class Allocations : public ::testing::TestWithParam<Backend> {};

TEST_P(Allocations, PerCallAreThoseOfTheDesign)
{
    if (!TESSARILS_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizer owns operator new";
    const CipherState state = CipherState::build(GetParam(), 99);
    // Every path of each backend: short messages take the fast path, long
    // ones the wide path.
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{1024}, std::size_t{16384}}) {
        const std::uint64_t plaintext = size == 0 ? 0 : 1;  // an empty plaintext needs no buffer
        const Counted short_purpose = count_calls(state, size, DEFAULT_PURPOSE);
        EXPECT_EQ(short_purpose.seal, 3u) << size;
        EXPECT_EQ(short_purpose.open, 3 + plaintext) << size;  // "session" fits the string inline
        const Counted long_purpose = count_calls(state, size, std::string(200, 'p'));
        EXPECT_EQ(long_purpose.seal, 3u) << size;
        EXPECT_EQ(long_purpose.open, 4 + plaintext) << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Allocations, ::testing::ValuesIn(Backends::ALL),
                         [](const auto& test_info) { return testing::backend_name(test_info.param); });

}  // namespace
}  // namespace tessaril
