#include "aes_backend/aes256gcm_context.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "testing/wycheproof.h"

namespace tessaril {
namespace {

using Path = Aes256GcmContext::Path;

class Aes256GcmPath : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        if (GetParam() == Path::Precomputed && !Aes256GcmContext::precomputed_available()) {
            GTEST_SKIP() << "this processor has no AES-NI path";
        }
    }
};

TEST_P(Aes256GcmPath, WycheproofVectors)
{
    const auto cases = testing::load_wycheproof("aes_gcm_test.json", 256, 96);
    ASSERT_EQ(cases.size(), 66u);
    const Path path = GetParam();
    const auto counts = testing::check_aead_cases(
        cases,
        [&](const testing::AeadCase& t, std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag) {
            Aes256GcmContext(testing::fixed<32>(t.key)).seal(path, testing::fixed<12>(t.iv), t.aad, t.msg,
                                                             ciphertext, tag);
        },
        [&](const testing::AeadCase& t, std::span<std::uint8_t> plaintext) {
            return Aes256GcmContext(testing::fixed<32>(t.key))
                .open(path, testing::fixed<12>(t.iv), t.aad, t.ct, plaintext, testing::fixed<16>(t.tag));
        },
        [](std::span<const std::uint8_t> output) {
            return std::ranges::all_of(output, [](std::uint8_t b) { return b == 0; });  // wiped
        });
    EXPECT_EQ(counts.valid, 39u);
    EXPECT_EQ(counts.invalid, 27u);
}

INSTANTIATE_TEST_SUITE_P(Paths, Aes256GcmPath, ::testing::Values(Path::Precomputed, Path::Library),
                         [](const ::testing::TestParamInfo<Path>& path) {
                             return path.param == Path::Precomputed ? "Precomputed" : "Library";
                         });

// Both paths must be interchangeable at every size, since the size alone
// picks one for sealing and opening independently.
TEST(Aes256GcmPaths, AgreeAndOpenEachOther)
{
    if (!Aes256GcmContext::precomputed_available()) GTEST_SKIP() << "this processor has only one path";
    std::mt19937 rng(3);
    const auto random = [&](std::size_t n) { return testing::random_bytes(rng, n); };
    const auto key = random(32);
    const Aes256GcmContext context(std::span<const std::uint8_t, 32>(key.data(), 32));
    for (std::size_t n : testing::path_switch_sizes()) {
        const auto nonce_bytes = random(12), aad = random(n % 270), plaintext = random(n);
        const auto nonce = std::span<const std::uint8_t, 12>(nonce_bytes.data(), 12);
        std::vector<std::uint8_t> fast(n), wide(n);
        std::array<std::uint8_t, 16> fast_tag, wide_tag;
        context.seal(Path::Precomputed, nonce, aad, plaintext, fast, fast_tag);
        context.seal(Path::Library, nonce, aad, plaintext, wide, wide_tag);
        ASSERT_EQ(fast, wide) << n;
        ASSERT_EQ(fast_tag, wide_tag) << n;

        std::vector<std::uint8_t> in_place = plaintext;
        std::array<std::uint8_t, 16> in_place_tag;
        context.seal(nonce, aad, in_place, in_place, in_place_tag);
        ASSERT_EQ(in_place, fast) << n;
        ASSERT_EQ(in_place_tag, fast_tag) << n;

        for (const Path path : {Path::Precomputed, Path::Library}) {
            std::vector<std::uint8_t> opened(n);
            ASSERT_TRUE(context.open(path, nonce, aad, fast, opened, fast_tag)) << n;
            ASSERT_EQ(opened, plaintext) << n;
            auto forged_tag = fast_tag;
            forged_tag[n % 16] ^= 0x80;
            ASSERT_FALSE(context.open(path, nonce, aad, fast, opened, forged_tag)) << n;
            ASSERT_EQ(opened, std::vector<std::uint8_t>(n, 0)) << n;
        }
    }
}

}  // namespace
}  // namespace tessaril
