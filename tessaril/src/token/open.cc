#include "token/open.h"

#include "cipher/aead.h"
#include "token/context_record.h"
#include "platform/platform.h"
#include "core/secret.h"
#include "token/token_codec.h"
#include "codec/utf8.h"

namespace tessaril {

namespace {

// Shape, authenticity, then the context record: the decoded fields live only
// this long, whatever the outcome. An authentic plaintext is handed to
// |plaintext| before the record is parsed, so that the caller wipes it if
// the record is then refused.
Result<TokenContext> authenticate(const CipherState& state, std::string_view token, Buffer& plaintext)
{
    Result<DecodedToken> fields = decode_token(token, state.backend());
    if (!fields) return std::unexpected(fields.error());
    Result<Buffer> opened = aead_open(state, fields->nonce.span(), fields->context.span(), fields->ciphertext.span());
    if (!opened) return std::unexpected(opened.error());
    plaintext = std::move(*opened);
    std::optional<TokenContext> context = parse_context(fields->context.span());
    if (!context) return std::unexpected(ErrorKind::InvalidToken);
    return std::move(*context);
}

}  // namespace

Result<Buffer> open_token(const CipherState& state, std::string_view token, std::string_view expected_purpose,
                          std::uint64_t now)
{
    Buffer plaintext;
    const Result<TokenContext> context = authenticate(state, token, plaintext);
    // The caller sees the plaintext only if every check passes; a refused
    // token's plaintext is wiped before its buffer is released.
    WipeUnlessCommitted refused(plaintext.span());
    if (!context) return std::unexpected(context.error());
    if (context->purpose != expected_purpose) return std::unexpected(ErrorKind::PurposeMismatch);
    if (is_expired(context->expires_at, now)) return std::unexpected(ErrorKind::Expired);
    if (!is_valid_utf8(plaintext.span())) return std::unexpected(ErrorKind::InvalidUtf8);
    refused.commit();
    return plaintext;
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
