#include "token/token_codec.h"

#include <gtest/gtest.h>

#include "codec/base64url.h"
#include "testing/bytes.h"

namespace tessaril {
namespace {

std::string field_of(std::size_t bytes, std::uint8_t fill = 0x41)
{
    return base64url_encode(std::vector<std::uint8_t>(bytes, fill));
}

TEST(EncodeToken, JoinsThreeFields)
{
    const std::vector<std::uint8_t> nonce(12, 1), context = testing::from_hex("0100000000000000000773657373696f6e"),
                                    sealed(16, 2);
    const std::string token = encode_token(nonce, context, sealed);
    EXPECT_EQ(token, "AQEBAQEBAQEBAQEB.AQAAAAAAAAAAB3Nlc3Npb24=.AgICAgICAgICAgICAgICAg==");
}

TEST(DecodeToken, ReturnsTheThreeFields)
{
    const std::string token = field_of(24) + "." + field_of(17) + "." + field_of(21);
    const auto decoded = decode_token(token, Backend::XCHACHA20_POLY1305);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->nonce.size(), 24u);
    EXPECT_EQ(decoded->context.size(), 17u);
    EXPECT_EQ(decoded->ciphertext.size(), 21u);
}

struct DecodeCase {
    std::string name;
    std::string token;
    Backend backend;
    ErrorKind expected;
};

class DecodeTokenFails : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTokenFails, WithTheFirstFailingCheck)
{
    const auto decoded = decode_token(GetParam().token, GetParam().backend);
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error(), GetParam().expected);
}

const std::string kAesToken = field_of(12) + "." + field_of(17) + "." + field_of(21);

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTokenFails,
    ::testing::Values(
        DecodeCase{"Empty", "", Backend::AES256_GCM, ErrorKind::InvalidToken},
        DecodeCase{"NoDot", "abc", Backend::AES256_GCM, ErrorKind::InvalidToken},
        DecodeCase{"OneDot", "a.b", Backend::AES256_GCM, ErrorKind::InvalidToken},
        DecodeCase{"TwoDotsOnly", "..", Backend::AES256_GCM, ErrorKind::InvalidToken},
        DecodeCase{"ThirdDot", kAesToken + ".x", Backend::AES256_GCM, ErrorKind::InvalidBase64},
        DecodeCase{"TrailingNewline", kAesToken + "\n", Backend::AES256_GCM, ErrorKind::InvalidBase64},
        DecodeCase{"OtherBackendByItsNonceSize", kAesToken, Backend::XCHACHA20_POLY1305, ErrorKind::InvalidToken},
        // All fields are decoded before the nonce size is looked at.
        DecodeCase{"WrongNonceAndBadField3", field_of(5) + "." + field_of(17) + ".QR==", Backend::AES256_GCM,
                   ErrorKind::InvalidBase64},
        DecodeCase{"BadField1BeforeOversizeNonce", "Q.Q.Q", Backend::AES256_GCM, ErrorKind::InvalidBase64},
        DecodeCase{"TooLong", std::string(MAX_TOKEN_BYTES + 1, '.'), Backend::AES256_GCM, ErrorKind::InvalidToken},
        DecodeCase{"TooLongEvenIfWellFormed", kAesToken + std::string(MAX_TOKEN_BYTES, 'A'), Backend::AES256_GCM,
                   ErrorKind::InvalidToken}),
    [](const auto& test_info) { return test_info.param.name; });

TEST(DecodeToken, ExactlyMaxBytesPassesTheSizeCheck)
{
    // Real tokens are 2 mod 4 characters long, so one of exactly 32,768
    // bytes cannot decode; it must fail on base64, not on size.
    const std::string head = field_of(12) + "." + field_of(17) + ".";
    const std::string token = head + std::string(MAX_TOKEN_BYTES - head.size(), 'A');
    ASSERT_EQ(token.size(), MAX_TOKEN_BYTES);
    EXPECT_EQ(decode_token(token, Backend::AES256_GCM).error(), ErrorKind::InvalidBase64);
    EXPECT_EQ(decode_token(token + "A", Backend::AES256_GCM).error(), ErrorKind::InvalidToken);
}

}  // namespace
}  // namespace tessaril
