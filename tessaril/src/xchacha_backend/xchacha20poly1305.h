// XChaCha20-Poly1305 (IETF construction, 24-byte nonce, detached 16-byte tag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessaril {

// The two implementations; they give identical output.
enum class XChaChaPath : std::uint8_t {
    // libsodium's XChaCha20-Poly1305 in one call: the least setup, the
    // fastest for short messages. Opening verifies the tag before it
    // decrypts anything.
    Combined,
    // The subkey from libsodium's HChaCha20, then OpenSSL's ChaCha20-Poly1305
    // with its wide vector code: the fastest for long messages. Opening
    // decrypts while it authenticates and wipes the output on failure.
    Split,
};

// The path the path-less calls take for a message of |bytes| bytes.
[[nodiscard]] XChaChaPath xchacha_path_for(std::size_t bytes) noexcept;

// Encrypts |plaintext| into |ciphertext| (the same size; it may be the
// plaintext itself, but must not otherwise overlap it) under |key| and
// |nonce| with |aad|, and writes the tag.
void xchacha_seal(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                  std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                  std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag);

// Decrypts |ciphertext| into |plaintext| (the same size, same aliasing rule)
// and returns true only if |tag| authenticates it; on failure |plaintext|
// holds no plaintext (zeros, or untouched where nothing was decrypted).
[[nodiscard]] bool xchacha_open(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
                                std::span<std::uint8_t> plaintext, std::span<const std::uint8_t, 16> tag);

// The same on a given path, so that tests and benchmarks can hold the paths
// against each other.
void xchacha_seal(XChaChaPath path, std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t, 24> nonce,
                  std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                  std::span<std::uint8_t> ciphertext, std::span<std::uint8_t, 16> tag);
[[nodiscard]] bool xchacha_open(XChaChaPath path, std::span<const std::uint8_t, 32> key,
                                std::span<const std::uint8_t, 24> nonce, std::span<const std::uint8_t> aad,
                                std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                                std::span<const std::uint8_t, 16> tag);

}  // namespace tessaril
