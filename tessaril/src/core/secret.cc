#include "core/secret.h"

#include <sodium/utils.h>

namespace tessaril {

void secure_wipe(std::span<std::uint8_t> bytes) noexcept
{
    sodium_memzero(bytes.data(), bytes.size());
}

}  // namespace tessaril
