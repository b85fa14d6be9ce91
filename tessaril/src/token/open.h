// Opening: token text in, plaintext out, authenticity checked before
// purpose and expiry.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/buffer.h"
#include "cipher/cipher_state.h"
#include "core/error_kind.h"

namespace tessaril {

// Opens |token| for |expected_purpose| at time |now|. Fails, first failure
// wins: InvalidToken / InvalidBase64 (shape), Tampered, InvalidToken
// (context), PurposeMismatch, Expired, InvalidUtf8.
[[nodiscard]] Result<Buffer> open_token(const CipherState& state, std::string_view token,
                                        std::string_view expected_purpose, std::uint64_t now);

// open_token for "session" at the current time.
[[nodiscard]] Result<Buffer> decrypt(const CipherState& state, std::string_view token);

// open_token for |purpose| (not validated) at the current time.
[[nodiscard]] Result<Buffer> decrypt_for(const CipherState& state, std::string_view token, std::string_view purpose);

}  // namespace tessaril
