#include "lib/cipher_state.h"

#include <string_view>

#include <sodium/crypto_hash_sha256.h>

#include "lib/buffer.h"

namespace tessaril {
namespace {

constexpr std::string_view label(Backend backend) noexcept
{
    return backend == Backend::AES256_GCM ? std::string_view("aes256gcm") : std::string_view("xchacha20poly1305");
}

}  // namespace

DerivedKey derive_aead_key(Backend backend, KeyValue key) noexcept
{
    // 16 big-endian key bytes (leading zeros kept) followed by the label: at
    // most 33 bytes, one SHA-256 block.
    std::array<std::uint8_t, 16 + 17> input{};
    for (std::size_t i = 0; i < 16; ++i) input[i] = static_cast<std::uint8_t>(key >> (8 * (15 - i)));
    const std::string_view name = label(backend);
    for (std::size_t i = 0; i < name.size(); ++i) input[16 + i] = static_cast<std::uint8_t>(name[i]);

    // libsodium's SHA-256 neither allocates nor fails. OpenSSL's one-shot
    // call fetches from the process-wide library context, so a configuration
    // that withholds SHA-256 there made it fail and leave the key unwritten.
    DerivedKey derived;
    crypto_hash_sha256(derived.data(), input.data(), 16 + name.size());
    secure_wipe(input);
    return derived;
}

XChaChaKey::XChaChaKey(XChaChaKey&& other) noexcept : bytes_(other.bytes_)
{
    secure_wipe(other.bytes_);
}

XChaChaKey::~XChaChaKey()
{
    secure_wipe(bytes_);
}

CipherState CipherState::build(Backend backend, KeyValue key)
{
    DerivedKey derived = derive_aead_key(backend, key);
    if (backend == Backend::AES256_GCM) {
        auto context = std::make_unique<Aes256GcmContext>(derived);
        secure_wipe(derived);
        return CipherState(Alternative(std::in_place_index<0>, std::move(context)));
    }
    CipherState state(Alternative(std::in_place_index<1>, derived));
    secure_wipe(derived);
    return state;
}

}  // namespace tessaril
