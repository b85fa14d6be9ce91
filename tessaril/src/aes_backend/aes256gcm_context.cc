#include "aes_backend/aes256gcm_context.h"

#include <climits>

#include <openssl/evp.h>
#include <sodium/core.h>
#include <sodium/crypto_aead_aes256gcm.h>

#include "lib/buffer.h"
#include "lib/internal_fault.h"

namespace tessaril {
namespace {

// Up to this many bytes of plaintext the precomputed path wins: it has no
// setup to pay, while copying an OpenSSL context costs about as much as
// libsodium needs for a few hundred bytes. Above it OpenSSL's wider vector
// code wins (tessaril_aead_bench shows the crossing).
constexpr std::size_t PRECOMPUTED_MAX_BYTES = 256;

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }  // cleanses key material
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

struct CipherDeleter {
    void operator()(EVP_CIPHER* cipher) const noexcept { EVP_CIPHER_free(cipher); }
};

[[noreturn]] void cipher_limits_broken()
{
    throw InternalFault("bounded plaintext and AAD fit the cipher limits");
}

const EVP_CIPHER* aes_256_gcm()
{
    // Fetched once: later initialisations then skip the provider lookup.
    static const std::unique_ptr<EVP_CIPHER, CipherDeleter> cipher(EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr));
    if (!cipher) throw InternalFault("AES-256-GCM is not available from the cryptographic library");
    return cipher.get();
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

void update(EVP_CIPHER_CTX* ctx, std::uint8_t* out, std::span<const std::uint8_t> in)
{
    if (in.empty()) return;
    int written = 0;
    if (in.size() > INT_MAX || EVP_CipherUpdate(ctx, out, &written, in.data(), static_cast<int>(in.size())) != 1) {
        cipher_limits_broken();
    }
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
                                                           plaintext.data(),
                                                           plaintext.size(), aad.data(), aad.size(), nullptr,
                                                           nonce.data(), &impl_->precomputed) != 0) {
            cipher_limits_broken();
        }
        return;
    }
    CipherCtx ctx = per_call_copy(impl_->encrypt, nonce);
    update(ctx.get(), nullptr, aad);
    update(ctx.get(), ciphertext.data(), plaintext);
    int written = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), ciphertext.data() + ciphertext.size(), &written) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag.data()) != 1) {
        cipher_limits_broken();
    }
}

bool Aes256GcmContext::open(Path path, std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            std::span<const std::uint8_t, 16> tag) const
{
    // Both implementations decrypt in the same pass that computes the tag,
    // so plaintext exists before the tag is known to be good: on failure it
    // is wiped here, whatever the library already did with it.
    bool authentic;
    if (path == Path::Precomputed) {
        const std::uint8_t spare = 0;
        authentic = crypto_aead_aes256gcm_decrypt_detached_afternm(plaintext.data(), nullptr,
                                                                  non_null_data(ciphertext, spare),
                                                                  ciphertext.size(), tag.data(), aad.data(),
                                                                  aad.size(), nonce.data(), &impl_->precomputed) == 0;
    } else {
        CipherCtx ctx = per_call_copy(impl_->decrypt, nonce);
        if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, const_cast<std::uint8_t*>(tag.data())) != 1) {
            cipher_limits_broken();
        }
        update(ctx.get(), nullptr, aad);
        update(ctx.get(), plaintext.data(), ciphertext);
        int written = 0;
        authentic = EVP_DecryptFinal_ex(ctx.get(), plaintext.data() + plaintext.size(), &written) == 1;
    }
    if (!authentic) secure_wipe(plaintext);
    return authentic;
}

}  // namespace tessaril
