// The closed choice of AEAD construction; the tag is shared with Python.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/sizes.h"

namespace tessaril {

enum class Backend : std::uint8_t {
    AES256_GCM = 0,
    XCHACHA20_POLY1305 = 1,
};

constexpr std::size_t nonce_size(Backend backend) noexcept
{
    return backend == Backend::AES256_GCM ? AES_NONCE_BYTES : XCHACHA_NONCE_BYTES;
}

constexpr std::size_t sealed_size(std::size_t plaintext_bytes) noexcept
{
    return plaintext_bytes + TAG_BYTES;
}

}  // namespace tessaril
