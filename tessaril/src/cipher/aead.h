// Backend-independent AEAD seal and open over a CipherState.
#pragma once

#include <cstdint>
#include <span>

#include "core/buffer.h"
#include "cipher/cipher_state.h"
#include "core/error_kind.h"

namespace tessaril {

// Returns ciphertext || 16-byte tag of |plaintext| under the state's key,
// |nonce| (of the backend's size) and |aad|. One allocation; cannot fail.
[[nodiscard]] Buffer aead_seal(const CipherState& state, std::span<const std::uint8_t> nonce,
                               std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext);

// Returns the plaintext of |sealed| (ciphertext || tag), or Tampered for any
// authentication failure, including |sealed| shorter than the tag. Never
// returns or leaves behind unverified plaintext.
[[nodiscard]] Result<Buffer> aead_open(const CipherState& state, std::span<const std::uint8_t> nonce,
                                       std::span<const std::uint8_t> aad, std::span<const std::uint8_t> sealed);

}  // namespace tessaril
