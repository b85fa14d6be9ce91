#include "token/context_record.h"

#include <limits>

#include <gtest/gtest.h>

#include "testing/bytes.h"

namespace tessaril {
namespace {

using testing::from_hex;
using testing::to_hex;

TEST(ContextRecord, BuildsTheDocumentedBytes)
{
    EXPECT_EQ(to_hex(build_context(std::nullopt, "session").span()), "0100000000000000000773657373696f6e");
    EXPECT_EQ(to_hex(build_context(1700000000, "session").span()), "01000000006553f1000773657373696f6e");
}

TEST(ContextRecord, ParsesWhatItBuilds)
{
    const std::string purpose(255, 'p');
    const auto parsed = parse_context(build_context(std::numeric_limits<std::uint64_t>::max(), purpose).span());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->expires_at, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(parsed->purpose, purpose);
}

TEST(ContextRecord, ExpiryIsBigEndian)
{
    const auto parsed = parse_context(from_hex("0100000000000000010161"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->expires_at, 1u);
}

TEST(ContextRecord, EmptyPurposeParses)
{
    const auto parsed = parse_context(from_hex("01000000000000002a00"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->expires_at, 42u);
    EXPECT_EQ(parsed->purpose, "");
}

class ContextRecordRejects : public ::testing::TestWithParam<std::string_view> {};

TEST_P(ContextRecordRejects, Record)
{
    EXPECT_FALSE(parse_context(from_hex(GetParam())).has_value());
}

INSTANTIATE_TEST_SUITE_P(Malformed, ContextRecordRejects,
                         ::testing::Values("",                                  // empty
                                           "00000000000000000000",              // version 0
                                           "020000000000000000076162636465666768",  // version 2
                                           "010000000000000000",                // 9 bytes
                                           "0100000000000000000561626364",      // L=5, one byte short
                                           "01000000000000000005616263646566",  // L=5, one byte over
                                           "0100000000000000000766ff6f6f6f6f6f",  // invalid UTF-8 purpose
                                           "010000000000000000ff61"));          // L=255, 1 byte given

TEST(IsExpired, ExpiresAtTheStartOfItsSecond)
{
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    EXPECT_FALSE(is_expired(1700000000, 1699999999));
    EXPECT_TRUE(is_expired(1700000000, 1700000000));
    EXPECT_TRUE(is_expired(1700000000, 1700000001));
    EXPECT_FALSE(is_expired(0, 0));
    EXPECT_FALSE(is_expired(0, kMax));
    EXPECT_FALSE(is_expired(kMax, kMax - 1));
    EXPECT_TRUE(is_expired(kMax, kMax));  // a clock before 1970 reads as the maximum
    EXPECT_TRUE(is_expired(1, kMax));
}

}  // namespace
}  // namespace tessaril
