#include "lib/aead.h"

#include <cstring>

#include "xchacha_backend/xchacha20poly1305.h"

namespace tessaril {

Buffer aead_seal(const CipherState& state, std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> aad,
                 std::span<const std::uint8_t> plaintext)
{
    Buffer sealed = Buffer::uninitialized(sealed_size(plaintext.size()));
    if (!plaintext.empty()) std::memcpy(sealed.data(), plaintext.data(), plaintext.size());
    const auto body = sealed.span().first(plaintext.size());
    const auto tag = sealed.span().subspan(plaintext.size()).first<TAG_BYTES>();
    if (state.backend() == Backend::AES256_GCM) {
        state.aes().seal_in_place(nonce.first<AES_NONCE_BYTES>(), aad, body, tag);
    } else {
        xchacha_seal_in_place(state.xchacha_key(), nonce.first<XCHACHA_NONCE_BYTES>(), aad, body, tag);
    }
    return sealed;
}

Result<Buffer> aead_open(const CipherState& state, std::span<const std::uint8_t> nonce,
                         std::span<const std::uint8_t> aad, std::span<const std::uint8_t> sealed)
{
    if (sealed.size() < TAG_BYTES) return std::unexpected(ErrorKind::Tampered);
    const std::size_t body_size = sealed.size() - TAG_BYTES;
    Buffer plaintext = Buffer::copy_of(sealed);
    const auto body = plaintext.span().first(body_size);
    const auto tag = sealed.subspan(body_size).first<TAG_BYTES>();
    const bool authentic =
        state.backend() == Backend::AES256_GCM
            ? state.aes().open_in_place(nonce.first<AES_NONCE_BYTES>(), aad, body, tag)
            : xchacha_open_in_place(state.xchacha_key(), nonce.first<XCHACHA_NONCE_BYTES>(), aad, body, tag);
    if (!authentic) return std::unexpected(ErrorKind::Tampered);
    plaintext.truncate(body_size);
    return plaintext;
}

}  // namespace tessaril
