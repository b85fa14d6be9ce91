#include "cipher/aes256gcm/aes256gcm_context.h"

#include <sodium/crypto_aead_aes256gcm.h>

#include "cipher/sodium.h"
#include "core/buffer.h"
#include "core/internal_fault.h"
#include "core/secret.h"
#include "cipher/openssl/evp_aead.h"

namespace tessaril {
namespace {

CipherCtx keyed_template(KeyView key, int encrypt)
{
    CipherCtx ctx = keyed_context(aes_256_gcm(), key, nullptr, encrypt);
    if (!ctx) throw InternalFault("cannot key AES-256-GCM");
    return ctx;
}

// libsodium's key schedule and H, expanded where the processor runs that
// code. Wiped by its destructor, which also runs when a later member's
// constructor throws.
class Precomputed {
public:
    explicit Precomputed(KeyView key)
    {
        if (Aes256GcmContext::path_available(AeadPath::Short) &&
            crypto_aead_aes256gcm_beforenm(&state_, key.data()) != 0) {
            wipe();
            throw InternalFault("cannot key AES-256-GCM");
        }
    }
    Precomputed(const Precomputed&) = delete;
    Precomputed& operator=(const Precomputed&) = delete;
    ~Precomputed() { wipe(); }

    const crypto_aead_aes256gcm_state* get() const noexcept { return &state_; }

private:
    void wipe() noexcept { secure_wipe(std::span(state_.opaque)); }

    crypto_aead_aes256gcm_state state_{};
};

}  // namespace

struct Aes256GcmContext::Impl {
    explicit Impl(KeyView key) : precomputed(key), encrypt(keyed_template(key, 1)), decrypt(keyed_template(key, 0)) {}

    Precomputed precomputed;
    CipherCtx encrypt;
    CipherCtx decrypt;
};

bool Aes256GcmContext::path_available(AeadPath path) noexcept
{
    // Settled once per process, after libsodium has picked its code paths.
    static const bool precomputed = sodium_ready() && crypto_aead_aes256gcm_is_available() == 1;
    return path == AeadPath::Long || precomputed;
}

Aes256GcmContext::Aes256GcmContext(KeyView key) : impl_(std::make_unique<Impl>(key)) {}

Aes256GcmContext::~Aes256GcmContext() = default;
Aes256GcmContext::Aes256GcmContext(Aes256GcmContext&&) noexcept = default;

void Aes256GcmContext::seal(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext,
                            TagOut tag) const
{
    if (path == AeadPath::Long) {
        const CipherCtx ctx = copy_with_nonce(impl_->encrypt, nonce);
        evp_seal(ctx.get(), aad, plaintext, ciphertext, tag);
        return;
    }
    std::uint8_t spare;
    if (crypto_aead_aes256gcm_encrypt_detached_afternm(non_null_data(ciphertext, spare), tag.data(), nullptr,
                                                       plaintext.data(), plaintext.size(), aad.data(), aad.size(),
                                                       nullptr, nonce.data(), impl_->precomputed.get()) != 0) {
        cipher_limits_broken();
    }
}

bool Aes256GcmContext::open(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            TagView tag) const
{
    if (path == AeadPath::Long) {
        const CipherCtx ctx = copy_with_nonce(impl_->decrypt, nonce);
        return evp_open(ctx.get(), aad, ciphertext, plaintext, tag);
    }
    // libsodium's AES-GCM also decrypts in the pass that computes the tag.
    WipeUnlessCommitted unverified(plaintext);
    const std::uint8_t spare = 0;
    const bool authentic =
        crypto_aead_aes256gcm_decrypt_detached_afternm(plaintext.data(), nullptr, non_null_data(ciphertext, spare),
                                                       ciphertext.size(), tag.data(), aad.data(), aad.size(),
                                                       nonce.data(), impl_->precomputed.get()) == 0;
    if (authentic) unverified.commit();
    return authentic;
}

}  // namespace tessaril
