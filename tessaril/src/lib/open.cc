#include "lib/open.h"

#include "lib/aead.h"
#include "lib/context_record.h"
#include "lib/platform.h"
#include "lib/token_codec.h"
#include "lib/utf8.h"

namespace tessaril {

namespace {

struct Authenticated {
    Buffer plaintext;
    TokenContext context;
};

// Shape, authenticity, then the context record: the decoded fields live only
// this long, whatever the outcome.
Result<Authenticated> authenticate(const CipherState& state, std::string_view token)
{
    Result<DecodedToken> fields = decode_token(token, state.backend());
    if (!fields) return std::unexpected(fields.error());
    Result<Buffer> plaintext = aead_open(state, fields->nonce.span(), fields->context.span(),
                                         fields->ciphertext.span());
    if (!plaintext) return std::unexpected(plaintext.error());
    std::optional<TokenContext> context = parse_context(fields->context.span());
    if (!context) return std::unexpected(ErrorKind::InvalidToken);
    return Authenticated{std::move(*plaintext), std::move(*context)};
}

}  // namespace

Result<Buffer> open_token(const CipherState& state, std::string_view token, std::string_view expected_purpose,
                          std::uint64_t now)
{
    Result<Authenticated> opened = authenticate(state, token);
    if (!opened) return std::unexpected(opened.error());
    if (opened->context.purpose != expected_purpose) return std::unexpected(ErrorKind::PurposeMismatch);
    if (is_expired(opened->context.expires_at, now)) return std::unexpected(ErrorKind::Expired);
    if (!is_valid_utf8(opened->plaintext.span())) return std::unexpected(ErrorKind::InvalidUtf8);
    return std::move(opened->plaintext);
}

Result<Buffer> decrypt(const CipherState& state, std::string_view token)
{
    return open_token(state, token, DEFAULT_PURPOSE, platform::unix_now());
}

Result<Buffer> decrypt_for(const CipherState& state, std::string_view token, std::string_view purpose)
{
    return open_token(state, token, purpose, platform::unix_now());
}

}  // namespace tessaril
