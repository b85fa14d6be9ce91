// Error kinds of the token engine and their fixed messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

namespace tessaril {

// Every failure the engine reports. The ordinal is part of the contract.
enum class ErrorKind : std::uint8_t {
    MissingKey = 0,
    InvalidKeyEnv = 1,
    ConflictingKeySources = 2,
    InvalidToken = 3,
    Tampered = 4,
    Expired = 5,
    ZeroExpiry = 6,
    PurposeMismatch = 7,
    EmptyPurpose = 8,
    PurposeTooLong = 9,
    PlaintextTooLong = 10,
    InvalidUtf8 = 11,
    InvalidBase64 = 12,
    RandomnessUnavailable = 13,
};

inline constexpr std::size_t ERROR_KIND_COUNT = 14;

// Limits that also appear inside messages.
inline constexpr std::uint64_t MAX_PURPOSE_BYTES = 255;
inline constexpr std::uint64_t MAX_PLAINTEXT_BYTES = 16384;

// Returns the fixed UTF-8 message of |kind|. Never fails.
[[nodiscard]] std::string_view message(ErrorKind kind) noexcept;

// Result of an engine operation: the value, or the first check that failed.
template <class T>
using Result = std::expected<T, ErrorKind>;

}  // namespace tessaril
