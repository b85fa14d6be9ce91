#include <gtest/gtest.h>

#include "cipher/adapter.h"
#include "cipher/aead.h"
#include "token/context_record.h"
#include "token/open.h"
#include "token/seal.h"
#include "token/token_codec.h"
#include "testing/allocation_counter.h"
#include "testing/backends.h"
#include "testing/bytes.h"

namespace tessaril {
namespace {

using testing::as_bytes;

constexpr std::uint64_t kNow = 1'800'000'000;

class SealOpen : public ::testing::TestWithParam<Backend> {
protected:
    CipherState state = CipherState::build(GetParam(), 0x0123456789abcdef);

    std::string seal(std::string_view text, std::optional<std::uint64_t> expires_at = std::nullopt,
                     std::optional<std::string_view> purpose = std::nullopt)
    {
        auto token = seal_token(state, as_bytes(text), expires_at, purpose);
        EXPECT_TRUE(token.has_value());
        return token.value_or("");
    }

    ErrorKind open_error(std::string_view token, std::string_view purpose = DEFAULT_PURPOSE, std::uint64_t now = kNow)
    {
        auto opened = open_token(state, token, purpose, now);
        EXPECT_FALSE(opened.has_value());
        return opened ? ErrorKind::MissingKey : opened.error();
    }
};

std::string as_string(const Buffer& b)
{
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

TEST_P(SealOpen, RoundTripsAtTheSizeBoundaries)
{
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{MAX_PLAINTEXT_BYTES}}) {
        const std::string text(n, 'x');
        const auto opened = open_token(state, seal(text), DEFAULT_PURPOSE, kNow);
        ASSERT_TRUE(opened.has_value()) << n;
        EXPECT_EQ(as_string(*opened), text);
    }
}

TEST_P(SealOpen, TokenShapeFollowsTheBackend)
{
    const std::string token = seal("");
    const std::size_t field1 = token.find('.');
    EXPECT_EQ(field1, nonce_size(GetParam()) * 4 / 3);  // the nonce size tells the backends' tokens apart
    EXPECT_EQ(token.substr(field1 + 1, 24), "AQAAAAAAAAAAB3Nlc3Npb24=");
    EXPECT_EQ(token.size() - token.rfind('.') - 1, 24u);  // empty plaintext: the tag alone
    EXPECT_EQ(token.find('='), field1 + 24);
}

TEST_P(SealOpen, SealingTwiceGivesDifferentTokens)
{
    const std::string a = seal("same"), b = seal("same");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(a.find('.'), a.rfind('.') - a.find('.')), b.substr(b.find('.'), b.rfind('.') - b.find('.')));
}

struct SealFailure {
    std::size_t plaintext_bytes;
    std::optional<std::uint64_t> expires_at;
    std::optional<std::string> purpose;
    ErrorKind expected;
};

TEST_P(SealOpen, SealingChecksInOrder)
{
    const SealFailure cases[] = {
        {16385, 0, "", ErrorKind::PlaintextTooLong},
        {1, 0, "", ErrorKind::ZeroExpiry},
        {1, std::nullopt, "", ErrorKind::EmptyPurpose},
        {1, 1, std::string(256, 'p'), ErrorKind::PurposeTooLong},
        {1, std::nullopt, std::string(128, '\xC3') , ErrorKind::RandomnessUnavailable},  // 128 bytes: passes
    };
    auto failing_random = [](std::span<std::uint8_t>) noexcept { return false; };
    for (const auto& c : cases) {
        const std::string text(c.plaintext_bytes, 'x');
        const auto token = seal_token(state, as_bytes(text), c.expires_at,
                                      c.purpose ? std::optional<std::string_view>(*c.purpose) : std::nullopt,
                                      failing_random);
        ASSERT_FALSE(token.has_value());
        EXPECT_EQ(token.error(), c.expected);
    }
}

TEST_P(SealOpen, PurposeLimitCountsBytes)
{
    EXPECT_TRUE(seal_token(state, {}, std::nullopt, std::string(255, 'p')).has_value());
    EXPECT_EQ(seal_token(state, {}, std::nullopt, std::string(128 * 2, '\xC3')).error(), ErrorKind::PurposeTooLong);
}

TEST_P(SealOpen, AuthenticityComesBeforePurposeAndExpiry)
{
    const std::string token = seal("payload", 100, "admin");
    std::string forged = token;
    forged[forged.size() - 3] = forged[forged.size() - 3] == 'A' ? 'B' : 'A';
    EXPECT_EQ(open_error(forged, "other"), ErrorKind::Tampered);
    EXPECT_EQ(open_error(token, "other"), ErrorKind::PurposeMismatch);
    EXPECT_EQ(open_error(token, "Admin"), ErrorKind::PurposeMismatch);
    EXPECT_EQ(open_error(token, "admin"), ErrorKind::Expired);
    EXPECT_TRUE(open_token(state, token, "admin", 99).has_value());
}

TEST_P(SealOpen, ExpiryBoundaries)
{
    const std::string token = seal("x", kNow);
    EXPECT_EQ(open_error(token, DEFAULT_PURPOSE, kNow), ErrorKind::Expired);
    EXPECT_TRUE(open_token(state, token, DEFAULT_PURPOSE, kNow - 1).has_value());
    const std::string forever = seal("x");
    EXPECT_TRUE(open_token(state, forever, DEFAULT_PURPOSE, ~std::uint64_t{0}).has_value());
}

TEST_P(SealOpen, OtherBackendFailsOnItsNonceSizeAndOtherKeyAsTampered)
{
    const std::string token = seal("x");
    const Backend other = testing::other_backend(GetParam());
    const auto cross = open_token(CipherState::build(other, 0x0123456789abcdef), token, DEFAULT_PURPOSE, kNow);
    EXPECT_EQ(cross.error(), ErrorKind::InvalidToken);
    const auto wrong_key = open_token(CipherState::build(GetParam(), 1), token, DEFAULT_PURPOSE, kNow);
    EXPECT_EQ(wrong_key.error(), ErrorKind::Tampered);
}

// A message above the size where the adapters switch paths, so that the long
// path sees every flipped bit and every cut, not only the short one.
TEST_P(SealOpen, EveryBitFlipAndEveryTruncationOfTheDecodedFieldsIsTampered)
{
    const std::string token = seal(std::string(SHORT_PATH_MAX_BYTES + 44, 'm'));
    auto fields = decode_token(token, GetParam()).value();
    const auto reencoded = [&](std::span<const std::uint8_t> sealed) {
        return encode_token(fields.nonce.span(), fields.context.span(), sealed);
    };
    for (Buffer* field : {&fields.nonce, &fields.context, &fields.ciphertext}) {
        for (std::size_t bit = 0; bit < field->size() * 8; ++bit) {
            field->data()[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            const std::string altered = reencoded(fields.ciphertext.span());
            field->data()[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            ASSERT_EQ(open_error(altered), ErrorKind::Tampered) << bit;
        }
    }
    for (std::size_t kept = 0; kept < fields.ciphertext.size(); ++kept) {
        ASSERT_EQ(open_error(reencoded(fields.ciphertext.span().first(kept))), ErrorKind::Tampered) << kept;
    }
}

TEST_P(SealOpen, EveryCharacterReplacementFails)
{
    const std::string token = seal("hello");
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    for (std::size_t i = 0; i < token.size(); ++i) {
        for (char c : {'A', 'z', '-', '_', '=', '.', '+'}) {
            if (c == token[i]) continue;
            std::string altered = token;
            altered[i] = c;
            const ErrorKind kind = open_error(altered);
            if (token[i] == '.' && kAlphabet.find(c) != std::string_view::npos) {
                EXPECT_EQ(kind, ErrorKind::InvalidToken) << i;
            } else {
                EXPECT_TRUE(kind == ErrorKind::InvalidBase64 || kind == ErrorKind::Tampered ||
                            kind == ErrorKind::InvalidToken)
                    << i << " " << c;
            }
        }
    }
}

TEST_P(SealOpen, DecryptForTakesAnyPurposeArgument)
{
    const std::string token = seal("x");
    EXPECT_EQ(open_error(token, ""), ErrorKind::PurposeMismatch);
    EXPECT_EQ(open_error(token, std::string(300, 's')), ErrorKind::PurposeMismatch);
    EXPECT_TRUE(decrypt_for(state, token, "session").has_value());
    EXPECT_TRUE(decrypt(state, token).has_value());
}

// Tokens that another writer holding the key could produce.
TEST_P(SealOpen, ForeignContextRecordsAndPlaintexts)
{
    struct Foreign {
        std::string_view context_hex;
        std::string_view plaintext;
        std::string_view purpose;
        std::optional<ErrorKind> expected;
    };
    const Foreign cases[] = {
        {"01000000000000000000", "x", "", std::nullopt},                           // L = 0
        {"01000000000000000000", "x", "session", ErrorKind::PurposeMismatch},
        {"0100000000000000000773657373696f6e", "\xff", "session", ErrorKind::InvalidUtf8},
        {"0200000000000000000773657373696f6e", "x", "session", ErrorKind::InvalidToken},
        {"0100000000000000000773657373696f6e00", "x", "session", ErrorKind::InvalidToken},
        {"01000000000000000001ff", "x", "\xff", ErrorKind::InvalidToken},
        {"0100000000000000010773657373696f6e", "\xff", "session", ErrorKind::Expired},  // expiry before UTF-8
    };
    const std::vector<std::uint8_t> nonce(nonce_size(GetParam()), 7);
    for (const auto& c : cases) {
        const auto context = testing::from_hex(c.context_hex);
        const Buffer sealed = aead_seal(state, nonce, context, as_bytes(c.plaintext));
        const std::string token = encode_token(nonce, context, sealed.span());
        const auto opened = open_token(state, token, c.purpose, kNow);
        if (c.expected) {
            ASSERT_FALSE(opened.has_value()) << c.context_hex;
            EXPECT_EQ(opened.error(), *c.expected) << c.context_hex;
        } else {
            ASSERT_TRUE(opened.has_value()) << c.context_hex;
            EXPECT_EQ(as_string(*opened), c.plaintext);
        }
    }
}

// A token refused after it authenticated, or one that fails the tag, never
// shows its plaintext to the caller: the buffer that held it is wiped before
// it is released, on the short and the long path. The accepted token's
// plaintext, released unwiped by the caller, shows that the watch sees it.
TEST_P(SealOpen, RefusedPlaintextIsWipedBeforeRelease)
{
    if (!TESSARILS_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizer owns operator delete";
    const std::string marker(64, '#');
    for (std::size_t filler : {std::size_t{0}, SHORT_PATH_MAX_BYTES}) {
        std::string text;
        text.reserve(filler + marker.size());  // no freed copy of the marker left behind
        text.append(filler, '.').append(marker);
        const std::string token = seal(text, 100, "admin");
        std::string forged = token;
        forged.back() = forged.back() == 'A' ? 'B' : 'A';
        const std::vector<std::uint8_t> nonce(nonce_size(GetParam()), 7);
        const auto foreign = [&](std::string_view context_hex, std::string_view suffix) {
            const auto context = testing::from_hex(context_hex);
            const std::string plaintext = text + std::string(suffix);
            return encode_token(nonce, context, aead_seal(state, nonce, context, as_bytes(plaintext)).span());
        };
        const std::string bad_utf8 = foreign("0100000000000000000773657373696f6e", "\xff");
        const std::string version_2 = foreign("0200000000000000000773657373696f6e", "");
        const struct {
            std::string_view token, purpose;
            std::uint64_t now;
            std::optional<ErrorKind> refusal;
        } cases[] = {
            {forged, "admin", 99, ErrorKind::Tampered},
            {version_2, "session", kNow, ErrorKind::InvalidToken},
            {token, "other", 99, ErrorKind::PurposeMismatch},
            {token, "admin", kNow, ErrorKind::Expired},
            {bad_utf8, "session", kNow, ErrorKind::InvalidUtf8},
            {token, "admin", 99, std::nullopt},
        };
        for (const auto& c : cases) {
            const testing::FreedBlockWatch watch(as_bytes(marker));
            {
                const auto opened = open_token(state, c.token, c.purpose, c.now);
                EXPECT_EQ(opened ? std::nullopt : std::optional(opened.error()), c.refusal) << filler;
            }
            EXPECT_EQ(watch.blocks_holding_marker(), c.refusal ? 0u : 1u) << filler << " " << c.token.size();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, SealOpen, ::testing::ValuesIn(Backends::ALL),
                         [](const auto& test_info) { return testing::backend_name(test_info.param); });

}  // namespace
}  // namespace tessaril
