// AES-256-GCM with a key schedule and hash subkey built once per key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tessaril {

// Read-only after construction: every call works on per-call state, so one
// context serves any number of threads without a lock.
class Aes256GcmContext {
public:
    // The two implementations a context can run; they give identical output.
    enum class Path : std::uint8_t {
        // libsodium's AES-NI code on a key schedule and H expanded at
        // construction: no per-call setup, the fastest for short messages.
        Precomputed,
        // OpenSSL on a per-call copy of a keyed context: the widest vector
        // code for long messages, and the only path without AES-NI.
        Library,
    };

    // Whether this processor runs Path::Precomputed (AES-NI and carry-less
    // multiplication, or their ARM equivalents).
    [[nodiscard]] static bool precomputed_available() noexcept;

    explicit Aes256GcmContext(std::span<const std::uint8_t, 32> key);
    ~Aes256GcmContext();
    Aes256GcmContext(const Aes256GcmContext&) = delete;
    Aes256GcmContext& operator=(const Aes256GcmContext&) = delete;

    // The path seal and open take for a message of |bytes| bytes.
    [[nodiscard]] Path path_for(std::size_t bytes) const noexcept;

    // Encrypts |plaintext| into |ciphertext| (the same size; it may be the
    // plaintext itself, but must not otherwise overlap it) under |nonce| with
    // |aad|, and writes the tag.
    void seal(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
              std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext,
              std::span<std::uint8_t, 16> tag) const;

    // Decrypts |ciphertext| into |plaintext| (the same size, same aliasing
    // rule) if |tag| authenticates it. Returns false otherwise, and then
    // |plaintext| holds only zeros: both paths decrypt while they
    // authenticate, so whatever they wrote is wiped before returning.
    [[nodiscard]] bool open(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            std::span<const std::uint8_t, 16> tag) const;

    // seal and open on a given path, so that tests and benchmarks can hold
    // the paths against each other. Path::Precomputed needs
    // precomputed_available().
    void seal(Path path, std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
              std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext,
              std::span<std::uint8_t, 16> tag) const;
    [[nodiscard]] bool open(Path path, std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                            std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext,
                            std::span<const std::uint8_t, 16> tag) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaril
