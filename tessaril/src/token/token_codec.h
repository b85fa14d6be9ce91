// The token text: base64url(nonce) "." base64url(context) "." base64url(ciphertext || tag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cipher/backend.h"
#include "core/buffer.h"
#include "core/error_kind.h"

namespace tessaril {

// Longest token, in UTF-8 bytes, that opening examines.
inline constexpr std::size_t MAX_TOKEN_BYTES = 32768;

// Joins the three encoded fields into one allocation of exact length.
[[nodiscard]] std::string encode_token(std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> context,
                                       std::span<const std::uint8_t> ciphertext);

struct DecodedToken {
    Buffer nonce;
    Buffer context;
    Buffer ciphertext;
};

// Splits and decodes |token|. Fails with InvalidToken (too long, fewer than
// two '.', nonce not the size |backend| uses) or InvalidBase64 (first field
// that is not strict base64url), checked in that order: size, split, the
// three fields in turn, nonce size.
[[nodiscard]] Result<DecodedToken> decode_token(std::string_view token, Backend backend);

}  // namespace tessaril
