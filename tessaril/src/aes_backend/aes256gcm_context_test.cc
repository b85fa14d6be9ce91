#include "aes_backend/aes256gcm_context.h"

#include <gtest/gtest.h>

#include "testing/wycheproof.h"

namespace tessaril {
namespace {

TEST(Aes256GcmContext, WycheproofVectors)
{
    const auto cases = testing::load_wycheproof("aes_gcm_test.json", 256, 96);
    if (!cases) GTEST_SKIP() << "Wycheproof vectors not present";
    ASSERT_EQ(cases->size(), 66u);
    std::size_t valid = 0, invalid = 0;
    for (const auto& t : *cases) {
        const Aes256GcmContext context(std::span<const std::uint8_t, 32>(t.key.data(), 32));
        const auto nonce = std::span<const std::uint8_t, 12>(t.iv.data(), 12);
        const auto tag = std::span<const std::uint8_t, 16>(t.tag.data(), 16);
        std::vector<std::uint8_t> buffer = t.ct;
        const bool opened = context.open_in_place(nonce, t.aad, buffer, tag);
        if (t.result == "valid") {
            ++valid;
            ASSERT_TRUE(opened) << t.id;
            EXPECT_EQ(buffer, t.msg) << t.id;
            std::vector<std::uint8_t> sealed = t.msg;
            std::uint8_t computed[16];
            context.seal_in_place(nonce, t.aad, sealed, computed);
            EXPECT_EQ(sealed, t.ct) << t.id;
            EXPECT_EQ(std::vector<std::uint8_t>(computed, computed + 16), t.tag) << t.id;
        } else {
            ++invalid;
            ASSERT_EQ(t.result, "invalid") << t.id;
            EXPECT_FALSE(opened) << t.id;
            EXPECT_EQ(buffer, std::vector<std::uint8_t>(buffer.size(), 0)) << "unverified plaintext left behind";
        }
    }
    EXPECT_EQ(valid, 39u);
    EXPECT_EQ(invalid, 27u);
}

}  // namespace
}  // namespace tessaril
