// The few things the engine reads from the operating system.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/secret.h"

namespace tessaril::platform {

// Fills |out| completely from the OS's cryptographic random source in one
// call, without retry. Returns false if the source fails or falls short.
[[nodiscard]] bool fill_random(std::span<std::uint8_t> out) noexcept;

// Current UTC time in whole Unix seconds, rounded down; 2^64 - 1 when the
// clock reads before 1970.
[[nodiscard]] std::uint64_t unix_now() noexcept;

// Whole Unix seconds, rounded down, of a Windows FILETIME reading |ticks|
// (100 ns intervals since 1601-01-01 UTC); 2^64 - 1 for one before 1970.
[[nodiscard]] std::uint64_t unix_seconds_from_filetime(std::uint64_t ticks) noexcept;

// Value of the environment variable |name| as UTF-8, or nullopt when it is
// absent, the name cannot be looked up (empty, NUL or '='), or the value is
// not valid Unicode. The value may be a key: it is returned as SecretText,
// and every intermediate copy is wiped before this returns.
[[nodiscard]] std::optional<SecretText> read_environment(std::string_view name);

using RandomSource = bool (*)(std::span<std::uint8_t>) noexcept;

}  // namespace tessaril::platform
