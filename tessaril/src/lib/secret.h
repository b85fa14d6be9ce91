// Secrets by type: fixed-size key material that wipes itself, and a guard
// that wipes an output buffer unless its contents were handed on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

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
