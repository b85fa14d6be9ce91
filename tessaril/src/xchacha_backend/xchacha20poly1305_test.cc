#include "xchacha_backend/xchacha20poly1305.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "testing/wycheproof.h"

namespace tessaril {
namespace {

class XChaChaPaths : public ::testing::TestWithParam<XChaChaPath> {};

TEST_P(XChaChaPaths, WycheproofVectors)
{
    const auto cases = testing::load_wycheproof("xchacha20_poly1305_test.json", 256, 192);
    ASSERT_EQ(cases.size(), 306u);
    const XChaChaPath path = GetParam();
    const auto counts = testing::check_aead_cases(
        cases,
        [&](const testing::AeadCase& t, std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag) {
            xchacha_seal(path, testing::fixed<32>(t.key), testing::fixed<24>(t.iv), t.aad, t.msg, ciphertext, tag);
        },
        [&](const testing::AeadCase& t, std::span<std::uint8_t> plaintext) {
            return xchacha_open(path, testing::fixed<32>(t.key), testing::fixed<24>(t.iv), t.aad, t.ct, plaintext,
                                testing::fixed<16>(t.tag));
        },
        [](std::span<const std::uint8_t> output) {
            // Untouched (verified before decrypting) or wiped.
            return std::ranges::all_of(output, [](std::uint8_t b) { return b == 0 || b == 0xEE; });
        });
    EXPECT_EQ(counts.valid, 246u);
    EXPECT_EQ(counts.invalid, 60u);
}

INSTANTIATE_TEST_SUITE_P(Each, XChaChaPaths, ::testing::Values(XChaChaPath::Combined, XChaChaPath::Split),
                         [](const ::testing::TestParamInfo<XChaChaPath>& path) {
                             return path.param == XChaChaPath::Combined ? "Combined" : "Split";
                         });

// The size picks a path for sealing and for opening independently, so both
// must agree at every size, including across the switch-over.
TEST(XChaChaPathsAgree, AtEverySize)
{
    std::mt19937 rng(5);
    const auto random = [&](std::size_t n) { return testing::random_bytes(rng, n); };
    for (std::size_t n : testing::path_switch_sizes()) {
        const auto key_bytes = random(32), nonce_bytes = random(24), aad = random(n % 270), plaintext = random(n);
        const auto key = std::span<const std::uint8_t, 32>(key_bytes.data(), 32);
        const auto nonce = std::span<const std::uint8_t, 24>(nonce_bytes.data(), 24);
        std::vector<std::uint8_t> combined(n), split(n);
        std::array<std::uint8_t, 16> combined_tag, split_tag;
        xchacha_seal(XChaChaPath::Combined, key, nonce, aad, plaintext, combined, combined_tag);
        xchacha_seal(XChaChaPath::Split, key, nonce, aad, plaintext, split, split_tag);
        ASSERT_EQ(combined, split) << n;
        ASSERT_EQ(combined_tag, split_tag) << n;

        std::vector<std::uint8_t> in_place = plaintext;
        std::array<std::uint8_t, 16> in_place_tag;
        xchacha_seal(key, nonce, aad, in_place, in_place, in_place_tag);
        ASSERT_EQ(in_place, combined) << n;
        ASSERT_EQ(in_place_tag, combined_tag) << n;

        for (const XChaChaPath path : {XChaChaPath::Combined, XChaChaPath::Split}) {
            std::vector<std::uint8_t> opened(n);
            ASSERT_TRUE(xchacha_open(path, key, nonce, aad, combined, opened, combined_tag)) << n;
            ASSERT_EQ(opened, plaintext) << n;
            if (n == 0) continue;
            auto forged = combined;
            forged[n / 2] ^= 1;
            std::vector<std::uint8_t> refused(n, 0xEE);
            ASSERT_FALSE(xchacha_open(path, key, nonce, aad, forged, refused, combined_tag)) << n;
            for (std::uint8_t b : refused) ASSERT_TRUE(b == 0 || b == 0xEE) << n;
        }
    }
}

}  // namespace
}  // namespace tessaril
