#include "xchacha_backend/xchacha20poly1305.h"

#include <array>
#include <cstring>
#include <memory>

#include <openssl/evp.h>
#include <sodium/core.h>
#include <sodium/crypto_aead_xchacha20poly1305.h>
#include <sodium/crypto_core_hchacha20.h>

#include "lib/buffer.h"
#include "lib/evp_aead.h"
#include "lib/internal_fault.h"
#include "openssl/library_context.h"

namespace tessaril {

namespace {

// Up to this many bytes the combined call wins: OpenSSL's context setup
// costs more than libsodium spends on short messages, while above it
// OpenSSL's wider ChaCha20 and Poly1305 code pulls ahead
// (tessaril_aead_bench shows the crossing).
constexpr std::size_t COMBINED_MAX_BYTES = 256;

void ensure_sodium_initialised()
{
    // Picks the processor-specific implementations once per process.
    static const int status = sodium_init();
    if (status < 0) throw InternalFault("libsodium failed to initialise");
}

// OpenSSL's ChaCha20-Poly1305; null where the library was built without
// it, and then every message takes the combined call.
const EVP_CIPHER* chacha20_poly1305() noexcept
{
    return library_cipher(LibraryCipher::CHACHA20_POLY1305);
}

// The ChaCha20-Poly1305 key and 12-byte nonce that XChaCha20-Poly1305 runs
// on: HChaCha20 of the key and nonce bytes 0 to 15, and four zero bytes
// followed by nonce bytes 16 to 23. The subkey is wiped when it goes.
class Subkey {
public:
    Subkey(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce)
    {
        crypto_core_hchacha20(key_.data(), nonce.data(), key.data(), nullptr);
        std::memcpy(nonce_.data() + 4, nonce.data() + 16, 8);
    }
    ~Subkey() { secure_wipe(key_); }
    Subkey(const Subkey&) = delete;
    Subkey& operator=(const Subkey&) = delete;

    // A fresh OpenSSL context keyed with the subkey, for one message.
    CipherCtx context(int encrypt) const
    {
        CipherCtx ctx(EVP_CIPHER_CTX_new());
        if (!ctx || EVP_CipherInit_ex2(ctx.get(), chacha20_poly1305(), key_.data(), nonce_.data(), encrypt,
                                       nullptr) != 1) {
            cipher_limits_broken();
        }
        return ctx;
    }

private:
    std::array<std::uint8_t, 32> key_;
    std::array<std::uint8_t, 12> nonce_{};
};

}  // namespace

XChaChaPath xchacha_path_for(std::size_t bytes) noexcept
{
    return bytes > COMBINED_MAX_BYTES && chacha20_poly1305() != nullptr ? XChaChaPath::Split : XChaChaPath::Combined;
}

void xchacha_seal(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                  std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                  std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag)
{
    xchacha_seal(xchacha_path_for(plaintext.size()), key, nonce, aad, plaintext, ciphertext, tag);
}

bool xchacha_open(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                  std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
                  std::span<std::uint8_t> plaintext, std::span<const std::uint8_t, 16> tag)
{
    return xchacha_open(xchacha_path_for(ciphertext.size()), key, nonce, aad, ciphertext, plaintext, tag);
}

void xchacha_seal(XChaChaPath path, std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                  std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                  std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag)
{
    ensure_sodium_initialised();
    if (path == XChaChaPath::Combined) {
        std::uint8_t spare;
        if (crypto_aead_xchacha20poly1305_ietf_encrypt_detached(non_null_data(ciphertext, spare), tag.data(), nullptr,
                                                                plaintext.data(), plaintext.size(), aad.data(),
                                                                aad.size(), nullptr, nonce.data(), key.data()) != 0) {
            cipher_limits_broken();
        }
        return;
    }
    const Subkey subkey(key, nonce);
    const CipherCtx ctx = subkey.context(1);
    evp_seal(ctx.get(), aad, plaintext, ciphertext, tag);
}

bool xchacha_open(XChaChaPath path, std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                  std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
                  std::span<std::uint8_t> plaintext, std::span<const std::uint8_t, 16> tag)
{
    ensure_sodium_initialised();
    if (path == XChaChaPath::Combined) {
        // Verifies the tag in constant time before decrypting anything.
        const std::uint8_t spare = 0;
        return crypto_aead_xchacha20poly1305_ietf_decrypt_detached(plaintext.data(), nullptr,
                                                                   non_null_data(ciphertext, spare),
                                                                   ciphertext.size(), tag.data(), aad.data(),
                                                                   aad.size(), nonce.data(), key.data()) == 0;
    }
    const Subkey subkey(key, nonce);
    const CipherCtx ctx = subkey.context(0);
    return evp_open(ctx.get(), aad, ciphertext, plaintext, tag);
}

}  // namespace tessaril
