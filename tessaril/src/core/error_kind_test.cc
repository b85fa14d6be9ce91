#include "core/error_kind.h"

#include <gtest/gtest.h>

namespace tessaril {
namespace {

TEST(ErrorKind, MessagesHaveTheirExactLengths)
{
    constexpr std::size_t kLengths[ERROR_KIND_COUNT] = {33, 31, 55, 13, 26, 17, 64, 45, 63, 34, 38, 34, 17, 42};
    for (std::size_t i = 0; i < ERROR_KIND_COUNT; ++i) {
        const std::string_view text = message(static_cast<ErrorKind>(i));
        EXPECT_EQ(text.size(), kLengths[i]) << text;
        EXPECT_FALSE(text.ends_with('.')) << text;
        EXPECT_TRUE(text.front() >= 'a' && text.front() <= 'z') << text;
    }
}

TEST(ErrorKind, ThreeMessagesCarryAnEmDashBetweenSpaces)
{
    for (ErrorKind kind : {ErrorKind::ConflictingKeySources, ErrorKind::ZeroExpiry, ErrorKind::EmptyPurpose}) {
        EXPECT_NE(message(kind).find(" \xE2\x80\x94 "), std::string_view::npos) << message(kind);
    }
    EXPECT_EQ(message(ErrorKind::ConflictingKeySources),
              "key and key_env were both provided \xE2\x80\x94 pass exactly one");
}

TEST(ErrorKind, LimitsAreWrittenWithoutGrouping)
{
    EXPECT_EQ(message(ErrorKind::PurposeTooLong), "purpose exceeds the 255-byte limit");
    EXPECT_EQ(message(ErrorKind::PlaintextTooLong), "plaintext exceeds the 16384-byte limit");
    EXPECT_EQ(sizeof(ErrorKind), 1u);
}

}  // namespace
}  // namespace tessaril
