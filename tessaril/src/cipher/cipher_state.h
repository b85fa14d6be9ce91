// Key derivation and the per-object cipher state, built once and then read-only.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>
#include <variant>

#include "cipher/sizes.h"
#include "cipher/aes256gcm/aes256gcm_context.h"
#include "cipher/backend.h"
#include "core/secret.h"
#include "cipher/xchacha20poly1305/xchacha20poly1305.h"

namespace tessaril {

// The caller's key: any unsigned 128-bit value, 0 included.
using KeyValue = unsigned __int128;

using DerivedKey = Secret<KEY_BYTES>;

// Returns SHA-256(16 big-endian key bytes || backend label). Never fails.
[[nodiscard]] DerivedKey derive_aead_key(Backend backend, KeyValue key) noexcept;

// One backend's adapter, chosen at construction.
class CipherState {
public:
    // Builds the state for |backend| from |key|. Throws InternalFault when
    // the cryptographic library cannot key the cipher; the derived key is
    // wiped on every path.
    [[nodiscard]] static CipherState build(Backend backend, KeyValue key);

    CipherState(CipherState&&) noexcept = default;
    CipherState& operator=(CipherState&&) = delete;
    CipherState(const CipherState&) = delete;

    Backend backend() const noexcept { return static_cast<Backend>(adapter_.index()); }

    // The adapter's seal and open on the path the message size picks.
    // |nonce| holds at least the backend's nonce size.
    void seal(std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> aad,
              std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext, TagOut tag) const;
    [[nodiscard]] bool open(std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            TagView tag) const;

private:
    // Indexed by the backend tag.
    using Adapter = std::variant<Aes256GcmContext, XChaCha20Poly1305Context>;
    template <Backend B>
    using AdapterOf = std::variant_alternative_t<static_cast<std::size_t>(B), Adapter>;
    static_assert(std::is_same_v<AdapterOf<Backend::AES256_GCM>, Aes256GcmContext> &&
                  std::is_same_v<AdapterOf<Backend::XCHACHA20_POLY1305>, XChaCha20Poly1305Context>);
    explicit CipherState(Adapter&& adapter) noexcept : adapter_(std::move(adapter)) {}

    Adapter adapter_;
};

}  // namespace tessaril
