#include "cipher/openssl/evp_aead.h"

#include <climits>

#include "core/internal_fault.h"
#include "core/secret.h"
#include "cipher/openssl/library_context.h"

namespace tessaril {
namespace {

void update(EVP_CIPHER_CTX* ctx, std::uint8_t* out, std::span<const std::uint8_t> in)
{
    if (in.empty()) return;
    int written = 0;
    if (in.size() > INT_MAX || EVP_CipherUpdate(ctx, out, &written, in.data(), static_cast<int>(in.size())) != 1) {
        cipher_limits_broken();
    }
}

}  // namespace

const EVP_CIPHER* aes_256_gcm()
{
    const EVP_CIPHER* cipher = library_cipher(Backend::AES256_GCM);
    if (cipher == nullptr) throw InternalFault("AES-256-GCM is not available from the cryptographic library");
    return cipher;
}

const EVP_CIPHER* chacha20_poly1305() noexcept
{
    return library_cipher(Backend::XCHACHA20_POLY1305);
}

CipherCtx keyed_context(const EVP_CIPHER* cipher, KeyView key, const std::uint8_t* nonce, int encrypt) noexcept
{
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (ctx && EVP_CipherInit_ex2(ctx.get(), cipher, key.data(), nonce, encrypt, nullptr) != 1) ctx.reset();
    return ctx;
}

CipherCtx copy_with_nonce(const CipherCtx& keyed, std::span<const std::uint8_t> nonce)
{
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CIPHER_CTX_copy(ctx.get(), keyed.get()) != 1 ||
        EVP_CipherInit_ex2(ctx.get(), nullptr, nullptr, nonce.data(), -1, nullptr) != 1) {
        cipher_limits_broken();
    }
    return ctx;
}

void cipher_limits_broken()
{
    throw InternalFault("bounded plaintext and AAD fit the cipher limits");
}

void evp_seal(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
              std::span<std::uint8_t> ciphertext, TagOut tag)
{
    update(ctx, nullptr, aad);
    update(ctx, ciphertext.data(), plaintext);
    int written = 0;
    if (EVP_EncryptFinal_ex(ctx, ciphertext.data() + ciphertext.size(), &written) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, TAG_BYTES, tag.data()) != 1) {
        cipher_limits_broken();
    }
}

bool evp_open(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
              std::span<std::uint8_t> plaintext, TagView tag)
{
    if (EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, TAG_BYTES, const_cast<std::uint8_t*>(tag.data())) != 1) {
        cipher_limits_broken();
    }
    WipeUnlessCommitted unverified(plaintext);
    update(ctx, nullptr, aad);
    update(ctx, plaintext.data(), ciphertext);
    int written = 0;
    const bool authentic = EVP_DecryptFinal_ex(ctx, plaintext.data() + plaintext.size(), &written) == 1;
    if (authentic) unverified.commit();
    return authentic;
}

}  // namespace tessaril
