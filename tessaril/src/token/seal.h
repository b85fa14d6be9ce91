// Sealing: plaintext, expiry and purpose in, token text out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cipher/cipher_state.h"
#include "core/error_kind.h"
#include "platform/platform.h"

namespace tessaril {

// Seals |plaintext| (already validated as UTF-8) into a token. Checks, in
// order: PlaintextTooLong, ZeroExpiry, EmptyPurpose, PurposeTooLong, then
// RandomnessUnavailable if |random| fails. An absent purpose is "session".
[[nodiscard]] Result<std::string> seal_token(const CipherState& state, std::span<const std::uint8_t> plaintext,
                                             std::optional<std::uint64_t> expires_at,
                                             std::optional<std::string_view> purpose,
                                             platform::RandomSource random = platform::fill_random);

}  // namespace tessaril
