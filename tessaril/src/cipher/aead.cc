#include "cipher/aead.h"

namespace tessaril {

Buffer aead_seal(const CipherState& state, std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> aad,
                 std::span<const std::uint8_t> plaintext)
{
    // The cipher writes straight from the caller's plaintext into the final
    // buffer: one allocation and one pass, no separate copy to encrypt in place.
    Buffer sealed = Buffer::uninitialized(sealed_size(plaintext.size()));
    const auto body = sealed.span().first(plaintext.size());
    const auto tag = sealed.span().subspan(plaintext.size()).first<TAG_BYTES>();
    state.seal(nonce, aad, plaintext, body, tag);
    return sealed;
}

Result<Buffer> aead_open(const CipherState& state, std::span<const std::uint8_t> nonce,
                         std::span<const std::uint8_t> aad, std::span<const std::uint8_t> sealed)
{
    if (sealed.size() < TAG_BYTES) return std::unexpected(ErrorKind::Tampered);
    const std::size_t body_size = sealed.size() - TAG_BYTES;
    const auto ciphertext = sealed.first(body_size);
    const auto tag = sealed.subspan(body_size).first<TAG_BYTES>();
    // The plaintext buffer is the open's own; the adapters leave no
    // plaintext in it when the tag fails.
    Buffer plaintext = Buffer::uninitialized(body_size);
    if (!state.open(nonce, aad, ciphertext, plaintext.span(), tag)) return std::unexpected(ErrorKind::Tampered);
    return plaintext;
}

}  // namespace tessaril
