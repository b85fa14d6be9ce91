// Both AEAD adapters through one typed test: Wycheproof vectors on every
// path, and the paths held against each other across the size that picks one.
#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "cipher/backend.h"
#include "testing/backends.h"
#include "testing/wycheproof.h"

namespace tessaril {
namespace {

// Every backend's adapter, in tag order; each needs its Vectors below.
template <class Variant>
struct TypesOf;
template <class... A>
struct TypesOf<std::variant<A...>> {
    using type = ::testing::Types<A...>;
};

// A refused open leaves only zeros, whatever the buffer held before.
bool wiped(std::span<const std::uint8_t> output)
{
    return std::ranges::all_of(output, [](std::uint8_t b) { return b == 0; });
}

template <class A>
struct Vectors;

template <>
struct Vectors<Aes256GcmContext> {
    static constexpr const char* file = "aes_gcm_test.json";
    static constexpr std::size_t total = 66, valid = 39, invalid = 27;
};

template <>
struct Vectors<XChaCha20Poly1305Context> {
    static constexpr const char* file = "xchacha20_poly1305_test.json";
    static constexpr std::size_t total = 306, valid = 246, invalid = 60;
};

template <class A>
class Adapter : public ::testing::Test {
protected:
    // The paths this process runs; the long one always where it exists.
    static std::vector<AeadPath> paths()
    {
        std::vector<AeadPath> paths;
        for (AeadPath path : {AeadPath::Short, AeadPath::Long}) {
            if (A::path_available(path)) paths.push_back(path);
        }
        return paths;
    }
};

struct AdapterName {
    template <class A>
    static std::string GetName(int index)
    {
        return testing::backend_name(Backends::ALL[static_cast<std::size_t>(index)]);
    }
};

using Adapters = TypesOf<Backends::Adapter>::type;
TYPED_TEST_SUITE(Adapter, Adapters, AdapterName);

TYPED_TEST(Adapter, WycheproofVectorsOnEveryPath)
{
    using A = TypeParam;
    const auto cases = testing::load_wycheproof(Vectors<A>::file, 256, 8 * A::NONCE_BYTES);
    ASSERT_EQ(cases.size(), Vectors<A>::total);
    for (const AeadPath path : this->paths()) {
        SCOPED_TRACE(path == AeadPath::Short ? "short path" : "long path");
        const auto counts = testing::check_aead_cases(
            cases,
            [&](const testing::AeadCase& t, std::span<std::uint8_t> ciphertext, TagOut tag) {
                A(testing::fixed<KEY_BYTES>(t.key))
                    .seal(path, testing::fixed<A::NONCE_BYTES>(t.iv), t.aad, t.msg, ciphertext, tag);
            },
            [&](const testing::AeadCase& t, std::span<std::uint8_t> plaintext) {
                return A(testing::fixed<KEY_BYTES>(t.key))
                    .open(path, testing::fixed<A::NONCE_BYTES>(t.iv), t.aad, t.ct, plaintext,
                          testing::fixed<TAG_BYTES>(t.tag));
            },
            wiped);
        EXPECT_EQ(counts.valid, Vectors<A>::valid);
        EXPECT_EQ(counts.invalid, Vectors<A>::invalid);
    }
}

// The size picks a path for sealing and for opening independently, so the
// paths must agree and open each other at every size, in place too.
TYPED_TEST(Adapter, PathsAgreeAndOpenEachOther)
{
    using A = TypeParam;
    if (this->paths().size() < 2) GTEST_SKIP() << "this process runs only one path";
    std::mt19937 rng(3);
    const auto random = [&](std::size_t n) { return testing::random_bytes(rng, n); };
    const auto key = random(KEY_BYTES);
    const A adapter(testing::fixed<KEY_BYTES>(key));
    for (std::size_t n : testing::path_switch_sizes()) {
        const auto nonce_bytes = random(A::NONCE_BYTES), aad = random(n % 270), plaintext = random(n);
        const auto nonce = testing::fixed<A::NONCE_BYTES>(nonce_bytes);
        std::vector<std::uint8_t> short_out(n), long_out(n);
        std::array<std::uint8_t, TAG_BYTES> short_tag, long_tag;
        adapter.seal(AeadPath::Short, nonce, aad, plaintext, short_out, short_tag);
        adapter.seal(AeadPath::Long, nonce, aad, plaintext, long_out, long_tag);
        ASSERT_EQ(short_out, long_out) << n;
        ASSERT_EQ(short_tag, long_tag) << n;

        std::vector<std::uint8_t> in_place = plaintext;
        std::array<std::uint8_t, TAG_BYTES> in_place_tag;
        adapter.seal(path_for<A>(n), nonce, aad, in_place, in_place, in_place_tag);
        ASSERT_EQ(in_place, short_out) << n;
        ASSERT_EQ(in_place_tag, short_tag) << n;

        for (const AeadPath path : {AeadPath::Short, AeadPath::Long}) {
            std::vector<std::uint8_t> opened(n);
            ASSERT_TRUE(adapter.open(path, nonce, aad, short_out, opened, short_tag)) << n;
            ASSERT_EQ(opened, plaintext) << n;
            auto forged_tag = short_tag;
            forged_tag[n % TAG_BYTES] ^= 0x80;
            std::vector<std::uint8_t> refused(n, 0xEE);
            ASSERT_FALSE(adapter.open(path, nonce, aad, short_out, refused, forged_tag)) << n;
            ASSERT_TRUE(wiped(refused)) << n;
        }
    }
}

}  // namespace
}  // namespace tessaril
