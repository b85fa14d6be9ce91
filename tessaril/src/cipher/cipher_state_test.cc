#include "cipher/cipher_state.h"

#include <memory>

#include <gtest/gtest.h>

#include "core/internal_fault.h"
#include "testing/allocation_counter.h"
#include "testing/bytes.h"
#include "testing/failing_openssl.h"

namespace tessaril {
namespace {

using testing::to_hex;

std::string hex_of(Backend backend, KeyValue key)
{
    return to_hex(derive_aead_key(backend, key).bytes());
}

TEST(DeriveAeadKey, MatchesIndependentlyComputedDigests)
{
    EXPECT_EQ(hex_of(Backend::AES256_GCM, 0), "e6f9222eb570394fb17c8f49cf100a37163f484e1ed8bd687944096f362d96e7");
    EXPECT_EQ(hex_of(Backend::XCHACHA20_POLY1305, 1),
              "c3c9571b1a5cbc41f28299ca6ac9d75c2c5092abe2d52614cd2ee4015d37b7b8");
}

TEST(DeriveAeadKey, BackendsAndKeysGiveUnrelatedKeys)
{
    const KeyValue max = ~KeyValue{0};
    EXPECT_NE(hex_of(Backend::AES256_GCM, 7), hex_of(Backend::XCHACHA20_POLY1305, 7));
    EXPECT_NE(hex_of(Backend::AES256_GCM, 0), hex_of(Backend::AES256_GCM, max));
    // The high byte matters: all 16 bytes are hashed, big-endian.
    EXPECT_NE(hex_of(Backend::AES256_GCM, 1), hex_of(Backend::AES256_GCM, KeyValue{1} << 120));
}

TEST(CipherState, RecordsItsBackend)
{
    EXPECT_EQ(CipherState::build(Backend::AES256_GCM, 5).backend(), Backend::AES256_GCM);
    EXPECT_EQ(CipherState::build(Backend::XCHACHA20_POLY1305, 5).backend(), Backend::XCHACHA20_POLY1305);
}

// A library that cannot key the cipher makes construction throw; the key
// schedule expanded by then (it begins with the key itself) is wiped before
// its memory is released.
TEST(CipherState, FailedConstructionReleasesNoKeyMaterial)
{
    if (!TESSARILS_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizer owns operator delete";
    if (!testing::FailingOpenSsl::installed()) GTEST_SKIP() << "OpenSSL allocated before the test program started";
    (void)CipherState::build(Backend::AES256_GCM, 1);  // the cipher is fetched while allocations still succeed
    const DerivedKey derived = derive_aead_key(Backend::AES256_GCM, 42);
    const testing::FreedBlockWatch watch(derived.bytes());
    {
        const testing::FailingOpenSsl failing;
        EXPECT_THROW((void)CipherState::build(Backend::AES256_GCM, 42), InternalFault);
    }
    EXPECT_EQ(watch.blocks_holding_marker(), 0u);
}

TEST(DerivedKey, IsZeroAfterDestruction)
{
    alignas(DerivedKey) std::uint8_t storage[sizeof(DerivedKey)];
    auto* key = std::construct_at(reinterpret_cast<DerivedKey*>(storage),
                                  derive_aead_key(Backend::XCHACHA20_POLY1305, 1));
    const std::uint8_t* bytes = key->bytes().data();
    ASSERT_NE(to_hex(key->bytes()), std::string(64, '0'));
    std::destroy_at(key);
    EXPECT_EQ(to_hex({bytes, 32}), std::string(64, '0'));
}

TEST(DerivedKey, MovedFromKeyIsWiped)
{
    DerivedKey source = derive_aead_key(Backend::XCHACHA20_POLY1305, 1);
    DerivedKey target(std::move(source));
    EXPECT_EQ(to_hex(source.bytes()), std::string(64, '0'));
    EXPECT_EQ(to_hex(target.bytes()), "c3c9571b1a5cbc41f28299ca6ac9d75c2c5092abe2d52614cd2ee4015d37b7b8");
}

}  // namespace
}  // namespace tessaril
