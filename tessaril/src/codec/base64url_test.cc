#include "codec/base64url.h"

#include <random>

#include <gtest/gtest.h>

#include "testing/bytes.h"

namespace tessaril {
namespace {

// A plain table-driven reference, independent of the arithmetic mapping.
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string reference_encode(std::span<const std::uint8_t> in)
{
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, in.size() - i);
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 3; ++k) w = w << 8 | (k < n ? in[i + k] : 0);
        for (std::size_t k = 0; k < 4; ++k) out.push_back(k <= n ? kAlphabet[(w >> (18 - 6 * k)) & 63] : '=');
    }
    return out;
}

TEST(Base64url, EncodesLikeTheReferenceAndDecodesBack)
{
    std::mt19937 rng(1);
    for (std::size_t n = 0; n <= 300; ++n) {
        const std::vector<std::uint8_t> bytes = testing::random_bytes(rng, n);
        const std::string text = base64url_encode(bytes);
        ASSERT_EQ(text, reference_encode(bytes)) << n;
        ASSERT_EQ(text.size(), base64url_encoded_size(n));
        const auto back = base64url_decode(text);
        ASSERT_TRUE(back.has_value()) << text;
        ASSERT_EQ(std::vector<std::uint8_t>(back->data(), back->data() + back->size()), bytes);
        ASSERT_EQ(back->empty(), n == 0);
    }
}

TEST(Base64url, EveryCharacterMapsBothWays)
{
    for (std::uint8_t v = 0; v < 64; ++v) {
        // Three bytes whose first sextet is v.
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(v << 2), 0, 0};
        EXPECT_EQ(base64url_encode(bytes)[0], kAlphabet[v]);
    }
    for (int c = 0; c < 256; ++c) {
        const std::string field = std::string(1, static_cast<char>(c)) + "AAA";
        const bool in_alphabet = kAlphabet.find(static_cast<char>(c)) != std::string_view::npos;
        EXPECT_EQ(base64url_decode(field).has_value(), in_alphabet) << c;
    }
}

// Every padded last quantum: accepted exactly when it is what the encoder
// writes for some bytes.
TEST(Base64url, PaddedQuantaAreAcceptedOnlyInCanonicalForm)
{
    std::size_t accepted = 0;
    for (char a : kAlphabet) {
        for (char b : kAlphabet) {
            const std::string two = std::string{a, b} + "==";
            const auto decoded = base64url_decode(two);
            if (decoded) {
                ++accepted;
                EXPECT_EQ(reference_encode(decoded->span()), two);
            }
            for (char c : kAlphabet) {
                const std::string three = std::string{a, b, c} + "=";
                const auto d3 = base64url_decode(three);
                if (d3) {
                    ++accepted;
                    EXPECT_EQ(reference_encode(d3->span()), three);
                }
            }
        }
    }
    EXPECT_EQ(accepted, 256u + 65536u);  // one per 1-byte and 2-byte value
}

TEST(Base64url, QQPaddedIsTheOnlyFormOfOneByte41)
{
    const auto qq = base64url_decode("QQ==");
    ASSERT_TRUE(qq.has_value());
    EXPECT_EQ(testing::to_hex(qq->span()), "41");
    EXPECT_FALSE(base64url_decode("QR==").has_value());
}

class Base64urlRejects : public ::testing::TestWithParam<std::string_view> {};

TEST_P(Base64urlRejects, Field)
{
    EXPECT_FALSE(base64url_decode(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Malformed, Base64urlRejects,
                         ::testing::Values("QQ", "QQ=", "QUJD\n", "QUJ", "A===", "====", "Q=Q=", "QQ=A", "QUJD=AAA",
                                           "QU+D", "QU/D", "QU D", "QU\tD", "QU.D", "QU\xC3\xA9", "QUJD QUJD",
                                           std::string_view("QU\0D", 4)));

TEST(Base64url, EmptyFieldIsZeroBytes)
{
    const auto empty = base64url_decode("");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->size(), 0u);
}

}  // namespace
}  // namespace tessaril
