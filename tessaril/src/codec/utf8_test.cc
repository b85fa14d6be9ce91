#include "codec/utf8.h"

#include <array>
#include <string>

#include <gtest/gtest.h>

#include "codec/utf8_kernels.h"

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

using utf8_detail::Kernel;

class Utf8Kernels : public ::testing::TestWithParam<const Kernel*> {
protected:
    bool valid(std::string_view text) const
    {
        return GetParam()->is_valid(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
};

// Every string of one to four bytes drawn from the values where the rules
// change, standing across the 32- and 64-byte block boundaries and at the
// very end of the text, gets the verdict of the byte-by-byte walk.
TEST_P(Utf8Kernels, AgreeWithTheWalkOnEveryShortSequence)
{
    constexpr std::array<char, 24> EDGES = {'\x00', '\x7F', '\x80', '\x8F', '\x90', '\x9F', '\xA0', '\xBF',
                                            '\xC0', '\xC1', '\xC2', '\xDF', '\xE0', '\xE1', '\xEC', '\xED',
                                            '\xEE', '\xEF', '\xF0', '\xF1', '\xF3', '\xF4', '\xF5', '\xFF'};
    std::string text;
    unsigned checked = 0;
    for (std::size_t width = 1; width <= 4; ++width) {
        std::size_t combinations = 1;
        for (std::size_t k = 0; k < width; ++k) combinations *= EDGES.size();
        for (std::size_t code = 0; code < combinations; ++code) {
            std::string sequence;
            for (std::size_t c = code, k = 0; k < width; ++k, c /= EDGES.size()) sequence += EDGES[c % EDGES.size()];
            for (std::size_t before : {0u, 30u, 62u}) {
                for (std::string_view after : {"", "a"}) {
                    text.assign(before, 'a').append(sequence).append(after);
                    const bool expected = !utf8_detail::walk_to_first_fault(testing::as_bytes(text)).has_value();
                    ASSERT_EQ(valid(text), expected) << testing::to_hex(testing::as_bytes(text));
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 6u * (24 + 24 * 24 + 24 * 24 * 24 + 24 * 24 * 24 * 24));
}

// Mixed text (Latin accents, CJK, emoji) cut at every length up to past two
// 64-byte blocks is valid exactly when the cut falls between characters, and
// a 16 KiB text is refused for one bad byte at its start, middle or end.
TEST_P(Utf8Kernels, JudgeMixedTextAtEveryLength)
{
    std::string text;
    while (text.size() < 16384) text += "gr\u00fc\u00dfe \u6f22\u5b57 \U0001F600 ";
    for (std::size_t n = 0; n <= 200; ++n) {
        const std::string cut = text.substr(0, n);
        ASSERT_EQ(valid(cut), !utf8_detail::walk_to_first_fault(testing::as_bytes(cut)).has_value()) << n;
    }
    ASSERT_TRUE(valid(text));
    for (std::size_t at : {std::size_t{0}, text.size() / 2, text.size() - 1}) {
        std::string bad = text;
        bad[at] = '\xFF';
        EXPECT_FALSE(valid(bad)) << at;
    }
}

std::string kernel_name(const ::testing::TestParamInfo<const Kernel*>& kernel)
{
    return kernel.param->name;
}

INSTANTIATE_TEST_SUITE_P(EveryAvailableKernel, Utf8Kernels,
                         ::testing::ValuesIn(utf8_detail::available_kernels().begin(),
                                             utf8_detail::available_kernels().end()),
                         kernel_name);

}  // namespace
}  // namespace tessaril
