// One-shot AEAD seal and open over OpenSSL contexts, shared by the adapters
// that hand large messages to OpenSSL.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <openssl/evp.h>

namespace tessaril {

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }  // cleanses key material
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// A library failure on input the engine has already bounded: a broken
// invariant, thrown as InternalFault.
[[noreturn]] void cipher_limits_broken();

// Encrypts |plaintext| into |ciphertext| (same length) with |aad| and writes
// the tag; |ctx| is keyed and has its nonce.
void evp_seal(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
              std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag);

// Decrypts |ciphertext| into |plaintext| and checks |tag|. OpenSSL decrypts
// in the pass that computes the tag, so on failure |plaintext| is wiped and
// false returned.
[[nodiscard]] bool evp_open(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            std::span<const std::uint8_t, 16> tag);

}  // namespace tessaril
