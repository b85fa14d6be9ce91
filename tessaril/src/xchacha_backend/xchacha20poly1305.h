// XChaCha20-Poly1305 (IETF construction, 24-byte nonce, detached 16-byte tag).
#pragma once

#include <cstdint>
#include <span>

namespace tessaril {

// Encrypts |inout| in place under |key| and |nonce| with |aad| and writes the tag.
void xchacha_seal_in_place(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                           std::span<const std::uint8_t> aad, std::span<std::uint8_t> inout,
                           std::span<std::uint8_t, 16> tag);

// Verifies |tag| over |aad| and the ciphertext in |inout| before decrypting
// anything; decrypts in place and returns true only if it verifies.
[[nodiscard]] bool xchacha_open_in_place(std::span<const std::uint8_t, 32> key,
                                         std::span<const std::uint8_t, 24> nonce, std::span<const std::uint8_t> aad,
                                         std::span<std::uint8_t> inout, std::span<const std::uint8_t, 16> tag);

}  // namespace tessaril
