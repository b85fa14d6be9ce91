#include "token/context_record.h"

#include <bit>
#include <cstring>

#include "codec/utf8.h"

namespace tessaril {
namespace {

// The expiry's 8 bytes, most significant first, in one move each way.
void store_expiry(std::uint64_t expiry, std::uint8_t* out) noexcept
{
    if constexpr (std::endian::native == std::endian::little) expiry = std::byteswap(expiry);
    std::memcpy(out, &expiry, CONTEXT_EXPIRY_BYTES);
}

std::uint64_t load_expiry(const std::uint8_t* in) noexcept
{
    std::uint64_t expiry;
    std::memcpy(&expiry, in, CONTEXT_EXPIRY_BYTES);
    if constexpr (std::endian::native == std::endian::little) expiry = std::byteswap(expiry);
    return expiry;
}

static_assert(CONTEXT_EXPIRY_BYTES == sizeof(std::uint64_t));

}  // namespace

Buffer build_context(std::optional<std::uint64_t> expires_at, std::string_view purpose)
{
    Buffer record = Buffer::uninitialized(CONTEXT_HEADER_BYTES + purpose.size());
    std::uint8_t* p = record.data();
    p[CONTEXT_VERSION_AT] = CONTEXT_VERSION;
    store_expiry(expires_at.value_or(0), p + CONTEXT_EXPIRY_AT);
    p[CONTEXT_PURPOSE_LENGTH_AT] = static_cast<std::uint8_t>(purpose.size());
    if (!purpose.empty()) std::memcpy(p + CONTEXT_HEADER_BYTES, purpose.data(), purpose.size());
    return record;
}

std::optional<TokenContext> parse_context(std::span<const std::uint8_t> record)
{
    // The one object every return gives back, so that it is built in the
    // caller's place and the purpose is never moved to it.
    std::optional<TokenContext> context;
    const std::size_t n = record.size();
    if (n == 0 || record[CONTEXT_VERSION_AT] != CONTEXT_VERSION || n < CONTEXT_HEADER_BYTES) return context;
    const std::size_t purpose_len = record[CONTEXT_PURPOSE_LENGTH_AT];
    if (n - CONTEXT_HEADER_BYTES < purpose_len) return context;

    const auto purpose = record.subspan(CONTEXT_HEADER_BYTES, purpose_len);
    if (!is_valid_utf8(purpose)) return context;
    if (n != CONTEXT_HEADER_BYTES + purpose_len) return context;
    context.emplace();
    context->expires_at = load_expiry(record.data() + CONTEXT_EXPIRY_AT);
    context->purpose.assign(reinterpret_cast<const char*>(purpose.data()), purpose.size());
    return context;
}

}  // namespace tessaril
