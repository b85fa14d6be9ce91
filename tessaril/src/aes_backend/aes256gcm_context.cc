#include "aes_backend/aes256gcm_context.h"

#include <sodium/core.h>
#include <sodium/crypto_aead_aes256gcm.h>

#include "lib/buffer.h"
#include "lib/evp_aead.h"
#include "lib/internal_fault.h"
#include "openssl/library_context.h"

namespace tessaril {
namespace {

// Up to this many bytes of plaintext the precomputed path wins: it has no
// setup to pay, while copying an OpenSSL context costs about as much as
// libsodium needs for a few hundred bytes. Above it OpenSSL's wider vector
// code wins (tessaril_aead_bench shows the crossing).
constexpr std::size_t PRECOMPUTED_MAX_BYTES = 256;

const EVP_CIPHER* aes_256_gcm()
{
    const EVP_CIPHER* cipher = library_cipher(LibraryCipher::AES_256_GCM);
    if (cipher == nullptr) throw InternalFault("AES-256-GCM is not available from the cryptographic library");
    return cipher;
}

CipherCtx keyed_template(std::span<const std::uint8_t, 32> key, int encrypt)
{
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex2(ctx.get(), aes_256_gcm(), key.data(), nullptr, encrypt, nullptr) != 1) {
        throw InternalFault("cannot key AES-256-GCM");
    }
    return ctx;
}

// A private copy of a keyed template, so that calls never write shared state.
CipherCtx per_call_copy(const CipherCtx& keyed, std::span<const std::uint8_t, 12> nonce)
{
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CIPHER_CTX_copy(ctx.get(), keyed.get()) != 1 ||
        EVP_CipherInit_ex2(ctx.get(), nullptr, nullptr, nonce.data(), -1, nullptr) != 1) {
        cipher_limits_broken();
    }
    return ctx;
}

}  // namespace

struct Aes256GcmContext::Impl {
    // Key schedule and H in libsodium's form; filled only where the
    // processor runs that code.
    crypto_aead_aes256gcm_state precomputed;
    bool has_precomputed;
    CipherCtx encrypt;
    CipherCtx decrypt;
};

bool Aes256GcmContext::precomputed_available() noexcept
{
    // Settled once per process; sodium_init picks the processor's code paths.
    static const bool available = sodium_init() >= 0 && crypto_aead_aes256gcm_is_available() == 1;
    return available;
}

Aes256GcmContext::Aes256GcmContext(std::span<const std::uint8_t, 32> key)
    : impl_(std::make_unique<Impl>(Impl{{}, precomputed_available(), keyed_template(key, 1), keyed_template(key, 0)}))
{
    if (impl_->has_precomputed && crypto_aead_aes256gcm_beforenm(&impl_->precomputed, key.data()) != 0) {
        throw InternalFault("cannot key AES-256-GCM");
    }
}

Aes256GcmContext::~Aes256GcmContext()
{
    secure_wipe(std::span(impl_->precomputed.opaque));
}

Aes256GcmContext::Path Aes256GcmContext::path_for(std::size_t bytes) const noexcept
{
    return impl_->has_precomputed && bytes <= PRECOMPUTED_MAX_BYTES ? Path::Precomputed : Path::Library;
}

void Aes256GcmContext::seal(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext,
                            std::span<std::uint8_t, 16> tag) const
{
    seal(path_for(plaintext.size()), nonce, aad, plaintext, ciphertext, tag);
}

bool Aes256GcmContext::open(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            std::span<const std::uint8_t, 16> tag) const
{
    return open(path_for(ciphertext.size()), nonce, aad, ciphertext, plaintext, tag);
}

void Aes256GcmContext::seal(Path path, std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext,
                            std::span<std::uint8_t, 16> tag) const
{
    if (path == Path::Precomputed) {
        std::uint8_t spare;
        if (crypto_aead_aes256gcm_encrypt_detached_afternm(non_null_data(ciphertext, spare), tag.data(), nullptr,
                                                           plaintext.data(), plaintext.size(), aad.data(), aad.size(),
                                                           nullptr, nonce.data(), &impl_->precomputed) != 0) {
            cipher_limits_broken();
        }
        return;
    }
    const CipherCtx ctx = per_call_copy(impl_->encrypt, nonce);
    evp_seal(ctx.get(), aad, plaintext, ciphertext, tag);
}

bool Aes256GcmContext::open(Path path, std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            std::span<const std::uint8_t, 16> tag) const
{
    if (path == Path::Library) {
        const CipherCtx ctx = per_call_copy(impl_->decrypt, nonce);
        return evp_open(ctx.get(), aad, ciphertext, plaintext, tag);
    }
    // libsodium's AES-GCM also decrypts in the pass that computes the tag:
    // whatever it wrote is wiped here if the tag then fails.
    const std::uint8_t spare = 0;
    const bool authentic =
        crypto_aead_aes256gcm_decrypt_detached_afternm(plaintext.data(), nullptr, non_null_data(ciphertext, spare),
                                                       ciphertext.size(), tag.data(), aad.data(), aad.size(),
                                                       nonce.data(), &impl_->precomputed) == 0;
    if (!authentic) secure_wipe(plaintext);
    return authentic;
}

}  // namespace tessaril
