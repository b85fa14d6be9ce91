// The adapters' OpenSSL side, all in one place: the ciphers, fetched once per
// process, keyed contexts, and one-shot AEAD seal and open over them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <openssl/evp.h>

#include "cipher/sizes.h"

namespace tessaril {

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }  // cleanses key material
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// AES-256-GCM; an InternalFault when the library does not provide it.
[[nodiscard]] const EVP_CIPHER* aes_256_gcm();

// ChaCha20-Poly1305, or null when the library was built without it.
[[nodiscard]] const EVP_CIPHER* chacha20_poly1305() noexcept;

// A new context for |cipher| keyed with |key| and, unless it is null, the
// nonce at |nonce|, to encrypt (|encrypt| 1) or decrypt (0). Null on failure.
[[nodiscard]] CipherCtx keyed_context(const EVP_CIPHER* cipher, KeyView key, const std::uint8_t* nonce,
                                      int encrypt) noexcept;

// A private copy of the keyed context |keyed| set to |nonce|, so that a call
// never writes shared state.
[[nodiscard]] CipherCtx copy_with_nonce(const CipherCtx& keyed, std::span<const std::uint8_t> nonce);

// A library failure on input the engine has already bounded: a broken
// invariant, thrown as InternalFault.
[[noreturn]] void cipher_limits_broken();

// Encrypts |plaintext| into |ciphertext| (same length) with |aad| and writes
// the tag; |ctx| is keyed and has its nonce.
void evp_seal(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
              std::span<std::uint8_t> ciphertext, TagOut tag);

// Decrypts |ciphertext| into |plaintext| and checks |tag|. OpenSSL decrypts
// in the pass that computes the tag, so unless it authenticates, |plaintext|
// is wiped and false returned.
[[nodiscard]] bool evp_open(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext, TagView tag);

}  // namespace tessaril
