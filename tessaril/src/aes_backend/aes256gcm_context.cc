#include "aes_backend/aes256gcm_context.h"

#include <climits>

#include <openssl/evp.h>

#include "lib/buffer.h"
#include "lib/internal_fault.h"

namespace tessaril {
namespace {

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
    CipherCtx encrypt;
    CipherCtx decrypt;
};

Aes256GcmContext::Aes256GcmContext(std::span<const std::uint8_t, 32> key)
    : impl_(std::make_unique<Impl>(Impl{keyed_template(key, 1), keyed_template(key, 0)}))
{
}

Aes256GcmContext::~Aes256GcmContext() = default;

void Aes256GcmContext::seal_in_place(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                                     std::span<std::uint8_t> inout, std::span<std::uint8_t, 16> tag) const
{
    CipherCtx ctx = per_call_copy(impl_->encrypt, nonce);
    update(ctx.get(), nullptr, aad);
    update(ctx.get(), inout.data(), inout);
    int written = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), inout.data() + inout.size(), &written) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag.data()) != 1) {
        cipher_limits_broken();
    }
}

bool Aes256GcmContext::open_in_place(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                                     std::span<std::uint8_t> inout, std::span<const std::uint8_t, 16> tag) const
{
    // GCM here decrypts and authenticates in one pass: the plaintext exists
    // before the tag is known to be good, so it is wiped on failure.
    CipherCtx ctx = per_call_copy(impl_->decrypt, nonce);
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, const_cast<std::uint8_t*>(tag.data())) != 1) {
        cipher_limits_broken();
    }
    update(ctx.get(), nullptr, aad);
    update(ctx.get(), inout.data(), inout);
    int written = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), inout.data() + inout.size(), &written) != 1) {
        secure_wipe(inout);
        return false;
    }
    return true;
}

}  // namespace tessaril
