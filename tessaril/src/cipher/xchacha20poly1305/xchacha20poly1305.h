// XChaCha20-Poly1305 (IETF construction, 24-byte nonce, detached 16-byte tag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/adapter.h"
#include "cipher/sizes.h"
#include "core/secret.h"

namespace tessaril {

// Holds the key and nothing else that changes, so one context serves any
// number of threads without a lock.
//
// AeadPath::Short is libsodium's XChaCha20-Poly1305 in one call; opening
// verifies the tag before it decrypts anything. AeadPath::Long takes the
// subkey from libsodium's HChaCha20, then runs OpenSSL's ChaCha20-Poly1305,
// which decrypts while it authenticates; it is available only where OpenSSL
// was built with that cipher.
class XChaCha20Poly1305Context {
public:
    static constexpr std::size_t NONCE_BYTES = XCHACHA_NONCE_BYTES;
    using Nonce = NonceView<NONCE_BYTES>;

    // Whether this process runs |path|.
    [[nodiscard]] static bool path_available(AeadPath path) noexcept;

    // Keeps a copy of |key|, wiped with the context. Throws InternalFault
    // when libsodium cannot run.
    explicit XChaCha20Poly1305Context(KeyView key);

    // Seal and open on |path| (see AeadAdapter); it must be available.
    void seal(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
              std::span<std::uint8_t> ciphertext, TagOut tag) const;
    [[nodiscard]] bool open(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            TagView tag) const;

private:
    Secret<KEY_BYTES> key_;
};

static_assert(AeadAdapter<XChaCha20Poly1305Context>);

}  // namespace tessaril
