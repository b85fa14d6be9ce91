#include "lib/buffer.h"

#include <cstring>

#include <sodium/utils.h>

namespace tessaril {

Buffer Buffer::copy_of(std::span<const std::uint8_t> bytes)
{
    Buffer b = uninitialized(bytes.size());
    if (!bytes.empty()) std::memcpy(b.data(), bytes.data(), bytes.size());
    return b;
}

void secure_wipe(std::span<std::uint8_t> bytes) noexcept
{
    sodium_memzero(bytes.data(), bytes.size());
}

}  // namespace tessaril
