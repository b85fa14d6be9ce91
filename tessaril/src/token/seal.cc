#include "token/seal.h"

#include <array>

#include "cipher/aead.h"
#include "token/context_record.h"
#include "token/token_codec.h"

namespace tessaril {

Result<std::string> seal_token(const CipherState& state, std::span<const std::uint8_t> plaintext,
                               std::optional<std::uint64_t> expires_at, std::optional<std::string_view> purpose,
                               platform::RandomSource random)
{
    if (plaintext.size() > MAX_PLAINTEXT_BYTES) return std::unexpected(ErrorKind::PlaintextTooLong);
    if (expires_at == 0) return std::unexpected(ErrorKind::ZeroExpiry);
    const std::string_view label = purpose.value_or(DEFAULT_PURPOSE);
    if (label.empty()) return std::unexpected(ErrorKind::EmptyPurpose);
    if (label.size() > MAX_PURPOSE_BYTES) return std::unexpected(ErrorKind::PurposeTooLong);

    const Buffer context = build_context(expires_at, label);
    std::array<std::uint8_t, Backends::MAX_NONCE_BYTES> nonce_storage;
    const auto nonce = std::span(nonce_storage).first(nonce_size(state.backend()));
    if (!random(nonce)) return std::unexpected(ErrorKind::RandomnessUnavailable);

    const Buffer sealed = aead_seal(state, nonce, context.span(), plaintext);
    return encode_token(nonce, context.span(), sealed.span());
}

}  // namespace tessaril
