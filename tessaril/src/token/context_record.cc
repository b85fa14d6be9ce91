#include "token/context_record.h"

#include <cstring>

#include "codec/utf8.h"

namespace tessaril {

Buffer build_context(std::optional<std::uint64_t> expires_at, std::string_view purpose)
{
    Buffer record = Buffer::uninitialized(CONTEXT_HEADER_BYTES + purpose.size());
    std::uint8_t* p = record.data();
    const std::uint64_t expiry = expires_at.value_or(0);
    p[CONTEXT_VERSION_AT] = CONTEXT_VERSION;
    for (std::size_t i = 0; i < CONTEXT_EXPIRY_BYTES; ++i) {
        p[CONTEXT_EXPIRY_AT + i] = static_cast<std::uint8_t>(expiry >> (8 * (CONTEXT_EXPIRY_BYTES - 1 - i)));
    }
    p[CONTEXT_PURPOSE_LENGTH_AT] = static_cast<std::uint8_t>(purpose.size());
    if (!purpose.empty()) std::memcpy(p + CONTEXT_HEADER_BYTES, purpose.data(), purpose.size());
    return record;
}

std::optional<TokenContext> parse_context(std::span<const std::uint8_t> record)
{
    const std::size_t n = record.size();
    if (n == 0 || record[CONTEXT_VERSION_AT] != CONTEXT_VERSION || n < CONTEXT_HEADER_BYTES) return std::nullopt;
    const std::size_t purpose_len = record[CONTEXT_PURPOSE_LENGTH_AT];
    if (n - CONTEXT_HEADER_BYTES < purpose_len) return std::nullopt;

    TokenContext context;
    for (std::size_t i = 0; i < CONTEXT_EXPIRY_BYTES; ++i) {
        context.expires_at = (context.expires_at << 8) | record[CONTEXT_EXPIRY_AT + i];
    }
    const auto purpose = record.subspan(CONTEXT_HEADER_BYTES, purpose_len);
    if (!is_valid_utf8(purpose)) return std::nullopt;
    if (n != CONTEXT_HEADER_BYTES + purpose_len) return std::nullopt;
    context.purpose.assign(reinterpret_cast<const char*>(purpose.data()), purpose.size());
    return context;
}

}  // namespace tessaril
