#include "lib/context_record.h"

#include <cstring>

#include "lib/utf8.h"

namespace tessaril {

Buffer build_context(std::optional<std::uint64_t> expires_at, std::string_view purpose)
{
    Buffer record = Buffer::uninitialized(CONTEXT_HEADER_BYTES + purpose.size());
    std::uint8_t* p = record.data();
    const std::uint64_t expiry = expires_at.value_or(0);
    p[0] = CONTEXT_VERSION;
    for (std::size_t i = 0; i < 8; ++i) p[1 + i] = static_cast<std::uint8_t>(expiry >> (56 - 8 * i));
    p[9] = static_cast<std::uint8_t>(purpose.size());
    if (!purpose.empty()) std::memcpy(p + CONTEXT_HEADER_BYTES, purpose.data(), purpose.size());
    return record;
}

std::optional<TokenContext> parse_context(std::span<const std::uint8_t> record)
{
    const std::size_t n = record.size();
    if (n == 0 || record[0] != CONTEXT_VERSION || n < CONTEXT_HEADER_BYTES) return std::nullopt;
    const std::size_t purpose_len = record[9];
    if (n - CONTEXT_HEADER_BYTES < purpose_len) return std::nullopt;

    TokenContext context;
    for (std::size_t i = 0; i < 8; ++i) context.expires_at = (context.expires_at << 8) | record[1 + i];
    const auto purpose = record.subspan(CONTEXT_HEADER_BYTES, purpose_len);
    if (!is_valid_utf8(purpose)) return std::nullopt;
    if (n != CONTEXT_HEADER_BYTES + purpose_len) return std::nullopt;
    context.purpose.assign(reinterpret_cast<const char*>(purpose.data()), purpose.size());
    return context;
}

}  // namespace tessaril
