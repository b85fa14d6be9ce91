#include "lib/utf8.h"

#include <gtest/gtest.h>

#include "testing/bytes.h"

namespace tessaril {
namespace {

struct Utf8Case {
    std::string_view bytes;
    std::optional<Utf8Fault> fault;
};

class Utf8Faults : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Faults, FindsTheMaximalSubpart)
{
    const auto& [bytes, expected] = GetParam();
    const auto fault = find_utf8_fault(testing::as_bytes(bytes));
    ASSERT_EQ(fault.has_value(), expected.has_value());
    if (fault) {
        EXPECT_EQ(fault->index, expected->index);
        EXPECT_EQ(fault->length, expected->length);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Faults,
    ::testing::Values(Utf8Case{"", std::nullopt}, Utf8Case{"plain ascii text, long enough for words", std::nullopt},
                      Utf8Case{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", std::nullopt},
                      Utf8Case{"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", std::nullopt},  // U+FFFF, U+10FFFF
                      Utf8Case{"\xFF", Utf8Fault{0, 1}}, Utf8Case{"ab\x80", Utf8Fault{2, 1}},
                      Utf8Case{"\xC0\xAF", Utf8Fault{0, 1}},                    // overlong lead
                      Utf8Case{"\xE0\x80\x80", Utf8Fault{0, 1}},                // overlong 3-byte
                      Utf8Case{"\xED\xA0\x80", Utf8Fault{0, 1}},                // surrogate
                      Utf8Case{"\xF4\x90\x80\x80", Utf8Fault{0, 1}},            // above U+10FFFF
                      Utf8Case{"\xF5\x80", Utf8Fault{0, 1}},
                      Utf8Case{"\xE2\x82x", Utf8Fault{0, 2}}, Utf8Case{"12345678\xF0\x9F\x98x", Utf8Fault{8, 3}},
                      Utf8Case{"ab\xE2\x82", Utf8Fault{2, 0}},                  // ends mid-sequence
                      Utf8Case{"\xF0\x9F", Utf8Fault{0, 0}}, Utf8Case{"\xE0\x80", Utf8Fault{0, 1}}));

// Long ASCII runs are skipped a block at a time: a fault must be found at
// its exact offset wherever it falls in or after a block, also when the scan
// re-enters the blocks after a multi-byte character.
TEST(Utf8LongText, FaultFoundAtEveryOffset)
{
    for (std::size_t pos = 0; pos < 300; ++pos) {
        std::string text(300, 'a');
        text[pos] = '\xFF';
        const auto fault = find_utf8_fault(testing::as_bytes(text));
        ASSERT_TRUE(fault.has_value()) << pos;
        EXPECT_EQ(fault->index, pos);

        std::string mixed = std::string(pos, 'a') + "\xC3\xA9" + std::string(150, 'b') + "\xE2\x82";
        const auto cut = find_utf8_fault(testing::as_bytes(mixed));
        ASSERT_TRUE(cut.has_value()) << pos;
        EXPECT_EQ(cut->index, pos + 152);
        EXPECT_EQ(cut->length, 0u);
        EXPECT_TRUE(is_valid_utf8(testing::as_bytes(mixed.substr(0, mixed.size() - 2))));
    }
}

}  // namespace
}  // namespace tessaril
