#include "token/token_codec.h"

#include <array>

#include "codec/base64url.h"

namespace tessaril {

std::string encode_token(std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> context,
                         std::span<const std::uint8_t> ciphertext)
{
    const std::size_t n1 = base64url_encoded_size(nonce.size());
    const std::size_t n2 = base64url_encoded_size(context.size());
    const std::size_t n3 = base64url_encoded_size(ciphertext.size());
    const std::array<std::span<const std::uint8_t>, 3> fields = {nonce, context, ciphertext};
    std::string token;
    token.resize_and_overwrite(n1 + n2 + n3 + 2, [&](char* out, std::size_t total) {
        base64url_encode_joined(fields, '.', out);
        return total;
    });
    return token;
}

Result<DecodedToken> decode_token(std::string_view token, Backend backend)
{
    if (token.size() > MAX_TOKEN_BYTES) return std::unexpected(ErrorKind::InvalidToken);

    const std::size_t dot1 = token.find('.');
    if (dot1 == std::string_view::npos) return std::unexpected(ErrorKind::InvalidToken);
    const std::size_t dot2 = token.find('.', dot1 + 1);
    if (dot2 == std::string_view::npos) return std::unexpected(ErrorKind::InvalidToken);

    // Any further '.' stays in the third field and fails to decode there.
    std::optional<Buffer> nonce = base64url_decode(token.substr(0, dot1));
    if (!nonce) return std::unexpected(ErrorKind::InvalidBase64);
    std::optional<Buffer> context = base64url_decode(token.substr(dot1 + 1, dot2 - dot1 - 1));
    if (!context) return std::unexpected(ErrorKind::InvalidBase64);
    std::optional<Buffer> ciphertext = base64url_decode(token.substr(dot2 + 1));
    if (!ciphertext) return std::unexpected(ErrorKind::InvalidBase64);

    if (nonce->size() != nonce_size(backend)) return std::unexpected(ErrorKind::InvalidToken);
    return DecodedToken{std::move(*nonce), std::move(*context), std::move(*ciphertext)};
}

}  // namespace tessaril
