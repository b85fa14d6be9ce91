// AES-256-GCM with a key schedule and hash subkey built once per key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "cipher/adapter.h"
#include "cipher/sizes.h"

namespace tessaril {

// Read-only after construction: every call works on per-call state, so one
// context serves any number of threads without a lock.
//
// AeadPath::Short runs libsodium's AES-NI code on a key schedule and H
// expanded at construction; it needs AES-NI and carry-less multiplication
// (or their ARM equivalents). AeadPath::Long runs OpenSSL on a per-call copy
// of a keyed context, and is the only path without them.
class Aes256GcmContext {
public:
    static constexpr std::size_t NONCE_BYTES = AES_NONCE_BYTES;
    using Nonce = NonceView<NONCE_BYTES>;

    // Whether this processor runs |path|.
    [[nodiscard]] static bool path_available(AeadPath path) noexcept;

    // Throws InternalFault when the cryptographic library cannot key the
    // cipher; whatever was expanded from |key| by then is wiped.
    explicit Aes256GcmContext(KeyView key);
    ~Aes256GcmContext();
    Aes256GcmContext(Aes256GcmContext&&) noexcept;
    Aes256GcmContext& operator=(Aes256GcmContext&&) = delete;
    Aes256GcmContext(const Aes256GcmContext&) = delete;
    Aes256GcmContext& operator=(const Aes256GcmContext&) = delete;

    // Seal and open on |path| (see AeadAdapter); it must be available.
    void seal(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
              std::span<std::uint8_t> ciphertext, TagOut tag) const;
    [[nodiscard]] bool open(AeadPath path, Nonce nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            TagView tag) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

static_assert(AeadAdapter<Aes256GcmContext>);

}  // namespace tessaril
