#include "lib/evp_aead.h"

#include <climits>

#include "lib/buffer.h"
#include "lib/internal_fault.h"

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

void cipher_limits_broken()
{
    throw InternalFault("bounded plaintext and AAD fit the cipher limits");
}

void evp_seal(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
              std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag)
{
    update(ctx, nullptr, aad);
    update(ctx, ciphertext.data(), plaintext);
    int written = 0;
    if (EVP_EncryptFinal_ex(ctx, ciphertext.data() + ciphertext.size(), &written) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, tag.data()) != 1) {
        cipher_limits_broken();
    }
}

bool evp_open(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
              std::span<std::uint8_t> plaintext, std::span<const std::uint8_t, 16> tag)
{
    if (EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, const_cast<std::uint8_t*>(tag.data())) != 1) {
        cipher_limits_broken();
    }
    update(ctx, nullptr, aad);
    update(ctx, plaintext.data(), ciphertext);
    int written = 0;
    const bool authentic = EVP_DecryptFinal_ex(ctx, plaintext.data() + plaintext.size(), &written) == 1;
    if (!authentic) secure_wipe(plaintext);
    return authentic;
}

}  // namespace tessaril
