#include "cipher/sodium.h"

#include <sodium/core.h>

#include "core/internal_fault.h"

namespace tessaril {

bool sodium_ready() noexcept
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

void require_sodium()
{
    if (!sodium_ready()) throw InternalFault("libsodium failed to initialise");
}

}  // namespace tessaril
