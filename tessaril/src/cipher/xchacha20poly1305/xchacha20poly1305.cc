#include "cipher/xchacha20poly1305/xchacha20poly1305.h"

#include <algorithm>
#include <array>

#include <sodium/crypto_aead_xchacha20poly1305.h>
#include <sodium/crypto_core_hchacha20.h>

#include "cipher/sodium.h"
#include "core/buffer.h"
#include "cipher/openssl/evp_aead.h"

namespace tessaril {

namespace {

// The ChaCha20-Poly1305 key and 12-byte nonce that XChaCha20-Poly1305 runs
// on: HChaCha20 of the key and nonce bytes 0 to 15, and four zero bytes
// followed by nonce bytes 16 to 23. The subkey is wiped when it goes.
class Subkey {
public:
    Subkey(KeyView key, XChaCha20Poly1305Context::Nonce nonce)
    {
        crypto_core_hchacha20(key_.bytes().data(), nonce.data(), key.data(), nullptr);
        std::ranges::copy(nonce.subspan<16>(), nonce_.begin() + 4);
    }

    // A fresh OpenSSL context keyed with the subkey, for one message.
    CipherCtx context(int encrypt) const
    {
        CipherCtx ctx = keyed_context(chacha20_poly1305(), key_.bytes(), nonce_.data(), encrypt);
        if (!ctx) cipher_limits_broken();
        return ctx;
    }

private:
    Secret<KEY_BYTES> key_;
    std::array<std::uint8_t, 12> nonce_{};
};

}  // namespace

bool XChaCha20Poly1305Context::path_available(AeadPath path) noexcept
{
    return path == AeadPath::Short || chacha20_poly1305() != nullptr;
}

XChaCha20Poly1305Context::XChaCha20Poly1305Context(KeyView key)
{
    require_sodium();
    std::ranges::copy(key, key_.bytes().begin());
}

void XChaCha20Poly1305Context::seal(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad,
                                    std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext,
                                    TagOut tag) const
{
    if (path == AeadPath::Long) {
        const CipherCtx ctx = Subkey(key_.bytes(), nonce).context(1);
        evp_seal(ctx.get(), aad, plaintext, ciphertext, tag);
        return;
    }
    std::uint8_t spare;
    if (crypto_aead_xchacha20poly1305_ietf_encrypt_detached(non_null_data(ciphertext, spare), tag.data(), nullptr,
                                                            plaintext.data(), plaintext.size(), aad.data(),
                                                            aad.size(), nullptr, nonce.data(),
                                                            key_.bytes().data()) != 0) {
        cipher_limits_broken();
    }
}

bool XChaCha20Poly1305Context::open(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad,
                                    std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                                    TagView tag) const
{
    if (path == AeadPath::Long) {
        const CipherCtx ctx = Subkey(key_.bytes(), nonce).context(0);
        return evp_open(ctx.get(), aad, ciphertext, plaintext, tag);
    }
    // Verifies the tag before it decrypts anything; the output is still
    // cleared on failure, so that every path leaves the same zeros.
    WipeUnlessCommitted unverified(plaintext);
    const std::uint8_t spare = 0;
    const bool authentic = crypto_aead_xchacha20poly1305_ietf_decrypt_detached(
                               plaintext.data(), nullptr, non_null_data(ciphertext, spare), ciphertext.size(),
                               tag.data(), aad.data(), aad.size(), nonce.data(), key_.bytes().data()) == 0;
    if (authentic) unverified.commit();
    return authentic;
}

}  // namespace tessaril
