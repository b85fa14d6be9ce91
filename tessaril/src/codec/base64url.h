// Strict, padded base64url (RFC 4648 section 5) without data-dependent
// branches or table lookups, so secret bytes do not leak through timing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/buffer.h"

namespace tessaril {

// Length of the padded encoding of |bytes| input bytes: 4 * ceil(bytes / 3).
constexpr std::size_t base64url_encoded_size(std::size_t bytes) noexcept
{
    return (bytes + 2) / 3 * 4;
}

// Writes exactly base64url_encoded_size(in.size()) characters to |out|.
void base64url_encode_into(std::span<const std::uint8_t> in, char* out) noexcept;

[[nodiscard]] std::string base64url_encode(std::span<const std::uint8_t> in);

// Writes the encodings of |fields| one after another, |separator| between
// each two: their encoded sizes plus fields.size() - 1 characters. One
// kernel look-up for all of them.
void base64url_encode_joined(std::span<const std::span<const std::uint8_t>> fields, char separator,
                             char* out) noexcept;

// Decodes one field in exactly the form base64url_encode produces; nullopt
// for any other input (bad length, padding, alphabet or non-canonical bits).
[[nodiscard]] std::optional<Buffer> base64url_decode(std::string_view field);

}  // namespace tessaril
