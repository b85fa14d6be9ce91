// Key derivation and the per-object cipher state, built once and then read-only.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/backend.h"
#include "cipher/sizes.h"
#include "core/secret.h"

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
    using Adapter = Backends::Adapter;
    template <std::size_t Index>
    static CipherState make(KeyView key);
    explicit CipherState(Adapter&& adapter) noexcept : adapter_(std::move(adapter)) {}

    Adapter adapter_;
};

}  // namespace tessaril
