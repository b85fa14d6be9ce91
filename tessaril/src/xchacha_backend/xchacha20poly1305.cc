#include "xchacha_backend/xchacha20poly1305.h"

#include <sodium/core.h>
#include <sodium/crypto_aead_xchacha20poly1305.h>

#include "lib/internal_fault.h"

namespace tessaril {

namespace {

void ensure_sodium_initialised()
{
    // Picks the processor-specific implementations once per process.
    static const int status = sodium_init();
    if (status < 0) throw InternalFault("libsodium failed to initialise");
}

}  // namespace

void xchacha_seal_in_place(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                           std::span<const std::uint8_t> aad, std::span<std::uint8_t> inout,
                           std::span<std::uint8_t, 16> tag)
{
    ensure_sodium_initialised();
    if (crypto_aead_xchacha20poly1305_ietf_encrypt_detached(inout.data(), tag.data(), nullptr, inout.data(),
                                                            inout.size(), aad.data(), aad.size(), nullptr,
                                                            nonce.data(), key.data()) != 0) {
        throw InternalFault("bounded plaintext and AAD fit the cipher limits");
    }
}

bool xchacha_open_in_place(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                           std::span<const std::uint8_t> aad, std::span<std::uint8_t> inout,
                           std::span<const std::uint8_t, 16> tag)
{
    ensure_sodium_initialised();
    // Verifies the tag in constant time before decrypting; on failure the
    // buffer still holds only ciphertext.
    return crypto_aead_xchacha20poly1305_ietf_decrypt_detached(inout.data(), nullptr, inout.data(), inout.size(),
                                                               tag.data(), aad.data(), aad.size(), nonce.data(),
                                                               key.data()) == 0;
}

}  // namespace tessaril
