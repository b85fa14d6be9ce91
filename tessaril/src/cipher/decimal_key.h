// The 128-bit key value written as decimal text, as read from the environment.
#pragma once

#include <string_view>

#include "cipher/cipher_state.h"
#include "core/error_kind.h"

namespace tessaril {

// Parses strict unsigned decimal text: one optional leading '+', then only
// ASCII digits, at most 2**128 - 1; anything else is InvalidKeyEnv. The text
// is the key, so the parse takes the same path whatever its characters are:
// its running time depends on the length of |text| alone, and it branches
// once, on the verdict.
[[nodiscard]] Result<KeyValue> parse_decimal_key(std::string_view text) noexcept;

}  // namespace tessaril
