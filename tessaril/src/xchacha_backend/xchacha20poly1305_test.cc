#include "xchacha_backend/xchacha20poly1305.h"

#include <gtest/gtest.h>

#include "testing/wycheproof.h"

namespace tessaril {
namespace {

TEST(XChaCha20Poly1305, WycheproofVectors)
{
    const auto cases = testing::load_wycheproof("xchacha20_poly1305_test.json", 256, 192);
    if (!cases) GTEST_SKIP() << "Wycheproof vectors not present";
    ASSERT_EQ(cases->size(), 306u);
    std::size_t valid = 0, invalid = 0;
    for (const auto& t : *cases) {
        const auto key = std::span<const std::uint8_t, 32>(t.key.data(), 32);
        const auto nonce = std::span<const std::uint8_t, 24>(t.iv.data(), 24);
        const auto tag = std::span<const std::uint8_t, 16>(t.tag.data(), 16);
        std::vector<std::uint8_t> buffer = t.ct;
        const bool opened = xchacha_open_in_place(key, nonce, t.aad, buffer, tag);
        if (t.result == "valid") {
            ++valid;
            ASSERT_TRUE(opened) << t.id;
            EXPECT_EQ(buffer, t.msg) << t.id;
            std::vector<std::uint8_t> sealed = t.msg;
            std::uint8_t computed[16];
            xchacha_seal_in_place(key, nonce, t.aad, sealed, computed);
            EXPECT_EQ(sealed, t.ct) << t.id;
            EXPECT_EQ(std::vector<std::uint8_t>(computed, computed + 16), t.tag) << t.id;
        } else {
            ++invalid;
            ASSERT_EQ(t.result, "invalid") << t.id;
            EXPECT_FALSE(opened) << t.id;
            // The library verifies first and then clears the output.
            EXPECT_TRUE(buffer == t.ct || buffer == std::vector<std::uint8_t>(buffer.size(), 0))
                << "unverified plaintext left behind";
        }
    }
    EXPECT_EQ(valid, 246u);
    EXPECT_EQ(invalid, 60u);
}

}  // namespace
}  // namespace tessaril
