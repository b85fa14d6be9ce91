// Secrets by type: fixed-size key material that wipes itself, and a guard
// that wipes an output buffer unless its contents were handed on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/buffer.h"

namespace tessaril {

// Overwrites |bytes| with zeros in a way the compiler may not drop as a dead store.
void secure_wipe(std::span<std::uint8_t> bytes) noexcept;

// N bytes of key material, wiped when destroyed or moved from, so that no
// path, exceptions included, releases them unwiped.
template <std::size_t N>
class Secret {
public:
    Secret() noexcept = default;
    Secret(Secret&& other) noexcept : bytes_(other.bytes_) { secure_wipe(other.bytes_); }
    Secret& operator=(Secret&&) = delete;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { secure_wipe(bytes_); }

    std::span<std::uint8_t, N> bytes() noexcept { return bytes_; }
    std::span<const std::uint8_t, N> bytes() const noexcept { return bytes_; }

private:
    std::array<std::uint8_t, N> bytes_{};
};

// Text that is secret, such as a key read from the environment: one exact
// allocation, wiped when released.
class SecretText {
public:
    // |size| bytes, to be filled through span() before use.
    explicit SecretText(std::size_t size) : bytes_(Buffer::uninitialized(size)) {}
    SecretText(SecretText&&) noexcept = default;  // the source is left empty
    SecretText& operator=(SecretText&&) = delete;
    ~SecretText() { secure_wipe(bytes_.span()); }

    std::span<std::uint8_t> span() noexcept { return bytes_.span(); }
    std::string_view view() const noexcept
    {
        return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    }

private:
    Buffer bytes_;
};

// Guards an output buffer that may hold plaintext nobody may see yet
// (unverified, or of a token about to be refused): the buffer is wiped when
// the guard goes out of scope, on every path, unless commit() was called.
class WipeUnlessCommitted {
public:
    explicit WipeUnlessCommitted(std::span<std::uint8_t> bytes) noexcept : bytes_(bytes) {}
    WipeUnlessCommitted(const WipeUnlessCommitted&) = delete;
    WipeUnlessCommitted& operator=(const WipeUnlessCommitted&) = delete;
    ~WipeUnlessCommitted()
    {
        if (!committed_) secure_wipe(bytes_);
    }

    // The contents may now be released as they are.
    void commit() noexcept { committed_ = true; }

private:
    std::span<std::uint8_t> bytes_;
    bool committed_ = false;
};

}  // namespace tessaril
