// Key derivation and the per-object cipher state, built once and then read-only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <variant>

#include "aes_backend/aes256gcm_context.h"
#include "lib/backend.h"

namespace tessaril {

// The caller's key: any unsigned 128-bit value, 0 included.
using KeyValue = unsigned __int128;

using DerivedKey = std::array<std::uint8_t, 32>;

// Returns SHA-256(16 big-endian key bytes || backend label). Never fails.
[[nodiscard]] DerivedKey derive_aead_key(Backend backend, KeyValue key) noexcept;

// The 32-byte XChaCha20-Poly1305 key, wiped when it is destroyed or moved from.
class XChaChaKey {
public:
    explicit XChaChaKey(const DerivedKey& key) noexcept : bytes_(key) {}
    XChaChaKey(XChaChaKey&& other) noexcept;
    XChaChaKey& operator=(XChaChaKey&&) = delete;
    XChaChaKey(const XChaChaKey&) = delete;
    ~XChaChaKey();

    std::span<const std::uint8_t, 32> bytes() const noexcept { return bytes_; }

private:
    DerivedKey bytes_;
};

// Tagged union by backend; the variant index is the backend tag.
class CipherState {
public:
    // Builds the state for |backend| from |key|. Cannot fail (allocation
    // failure ends the process, as for any allocation).
    [[nodiscard]] static CipherState build(Backend backend, KeyValue key);

    CipherState(CipherState&&) noexcept = default;
    CipherState& operator=(CipherState&&) = delete;
    CipherState(const CipherState&) = delete;

    Backend backend() const noexcept { return static_cast<Backend>(alternative_.index()); }

    // Valid only for the matching backend.
    const Aes256GcmContext& aes() const noexcept { return *std::get<0>(alternative_); }
    std::span<const std::uint8_t, 32> xchacha_key() const noexcept { return std::get<1>(alternative_).bytes(); }

private:
    using Alternative = std::variant<std::unique_ptr<Aes256GcmContext>, XChaChaKey>;
    explicit CipherState(Alternative alternative) noexcept : alternative_(std::move(alternative)) {}

    Alternative alternative_;
};

}  // namespace tessaril
