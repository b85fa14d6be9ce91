// The context record: version, expiry and purpose, sent in clear and
// authenticated as the AEAD's associated data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/buffer.h"

namespace tessaril {

inline constexpr std::uint8_t CONTEXT_VERSION = 1;
inline constexpr std::string_view DEFAULT_PURPOSE = "session";

// Where the fields sit: a version byte, the expiry as 8 big-endian bytes,
// the purpose length, then the purpose itself.
inline constexpr std::size_t CONTEXT_VERSION_AT = 0;
inline constexpr std::size_t CONTEXT_EXPIRY_AT = 1;
inline constexpr std::size_t CONTEXT_EXPIRY_BYTES = 8;
inline constexpr std::size_t CONTEXT_PURPOSE_LENGTH_AT = CONTEXT_EXPIRY_AT + CONTEXT_EXPIRY_BYTES;
inline constexpr std::size_t CONTEXT_HEADER_BYTES = CONTEXT_PURPOSE_LENGTH_AT + 1;

struct TokenContext {
    std::uint64_t expires_at = 0;  // Unix seconds; 0 never expires
    std::string purpose;
};

// Writes version 1, |expires_at| (0 when absent) big-endian, the purpose
// length and |purpose|. The caller has already validated both.
[[nodiscard]] Buffer build_context(std::optional<std::uint64_t> expires_at, std::string_view purpose);

// Parses a record; nullopt for a wrong version, a short or overlong record,
// or a purpose that is not well-formed UTF-8.
[[nodiscard]] std::optional<TokenContext> parse_context(std::span<const std::uint8_t> record);

// A token expires at the start of second |expires_at|; 0 never expires.
[[nodiscard]] constexpr bool is_expired(std::uint64_t expires_at, std::uint64_t now) noexcept
{
    return expires_at - 1 < now;  // wraps for 0, which then never compares less
}

}  // namespace tessaril
