#include "codec/base64url_kernels.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/base64url.h"
#include "testing/bytes.h"

namespace tessaril::base64url_detail {
namespace {

using testing::random_bytes;

std::string encode_with(const Kernel& kernel, std::span<const std::uint8_t> in)
{
    std::string out(base64url_encoded_size(in.size()), '\0');
    encode_into_with(kernel, in, out.data());
    return out;
}

// Lengths that cross every loop boundary of every kernel, up to the longest
// field a token carries (16,400 bytes, 21,868 characters).
std::vector<std::size_t> interesting_lengths()
{
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 400; ++n) lengths.push_back(n);
    for (std::size_t n : {1021u, 1024u, 1040u, 4096u, 16384u, 16399u, 16400u}) lengths.push_back(n);
    return lengths;
}

class Base64urlKernels : public ::testing::TestWithParam<const Kernel*> {};

TEST_P(Base64urlKernels, MatchThePortableLoopBothWays)
{
    const Kernel& kernel = *GetParam();
    std::mt19937 rng(7);
    for (std::size_t n : interesting_lengths()) {
        const auto bytes = random_bytes(rng, n);
        const std::string text = encode_with(kernel, bytes);
        ASSERT_EQ(text, encode_with(SCALAR_KERNEL, bytes)) << n;
        const auto back = decode_with(kernel, text);
        ASSERT_TRUE(back.has_value()) << n;
        ASSERT_EQ(std::vector<std::uint8_t>(back->data(), back->data() + back->size()), bytes) << n;
    }
}

// Every byte value outside the alphabet, at positions that fall into every
// lane of every loop and into the portable tail, is refused.
TEST_P(Base64urlKernels, RefuseAnyForeignByteAnywhere)
{
    const Kernel& kernel = *GetParam();
    std::mt19937 rng(11);
    const std::string good = encode_with(SCALAR_KERNEL, random_bytes(rng, 600));  // 800 characters, no padding
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool in_alphabet = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                                 ch == '-' || ch == '_';
        for (std::size_t pos = c % 7; pos < good.size(); pos += 37) {
            std::string bad = good;
            bad[pos] = ch;
            ASSERT_EQ(decode_with(kernel, bad).has_value(), in_alphabet) << c << " at " << pos;
        }
    }
}

TEST_P(Base64urlKernels, DecideLikeThePortableLoopOnNoise)
{
    // Fields drawn mostly from the alphabet with an occasional stray byte,
    // one or two characters of padding included (whose data character
    // before them is then often not in canonical form), so that both
    // outcomes are common.
    const Kernel& kernel = *GetParam();
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::mt19937 rng(13);
    std::size_t accepted = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string field(4 * (rng() % 120), 'A');
        for (auto& ch : field) ch = rng() % 2000 == 0 ? static_cast<char>(rng()) : alphabet[rng() % 64];
        if (!field.empty() && rng() % 3 == 0) field.back() = '=';
        if (!field.empty() && rng() % 6 == 0) field[field.size() - 2] = '=';
        const auto expected = decode_with(SCALAR_KERNEL, field);
        const auto got = decode_with(kernel, field);
        ASSERT_EQ(got.has_value(), expected.has_value()) << field;
        if (!got) continue;
        ++accepted;
        ASSERT_EQ(std::vector<std::uint8_t>(got->data(), got->data() + got->size()),
                  std::vector<std::uint8_t>(expected->data(), expected->data() + expected->size()));
    }
    EXPECT_GT(accepted, 400u);
    EXPECT_LT(accepted, 3600u);
}

std::string kernel_name(const ::testing::TestParamInfo<const Kernel*>& kernel)
{
    return kernel.param->name;
}

INSTANTIATE_TEST_SUITE_P(EveryAvailableKernel, Base64urlKernels,
                         ::testing::ValuesIn(available_kernels().begin(), available_kernels().end()), kernel_name);

TEST(Base64urlKernels, PublicFunctionsUseTheFastestKernel)
{
    EXPECT_EQ(&active_kernel(), available_kernels().back());
    EXPECT_EQ(available_kernels().front(), &SCALAR_KERNEL);
}

}  // namespace
}  // namespace tessaril::base64url_detail
