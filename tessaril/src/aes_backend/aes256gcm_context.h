// AES-256-GCM with a key schedule and hash subkey built once per key.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace tessaril {

// Read-only after construction: every call works on per-call state, so one
// context serves any number of threads without a lock.
class Aes256GcmContext {
public:
    explicit Aes256GcmContext(std::span<const std::uint8_t, 32> key);
    ~Aes256GcmContext();
    Aes256GcmContext(const Aes256GcmContext&) = delete;
    Aes256GcmContext& operator=(const Aes256GcmContext&) = delete;

    // Encrypts |inout| in place under |nonce| with |aad| and writes the tag.
    void seal_in_place(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                       std::span<std::uint8_t> inout, std::span<std::uint8_t, 16> tag) const;

    // Decrypts |inout| in place if |tag| authenticates it; returns false and
    // leaves |inout| wiped otherwise.
    [[nodiscard]] bool open_in_place(std::span<const std::uint8_t, 12> nonce, std::span<const std::uint8_t> aad,
                                     std::span<std::uint8_t> inout, std::span<const std::uint8_t, 16> tag) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaril
