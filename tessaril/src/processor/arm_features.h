// The run-time check the NEON kernels share: whether this AArch64 Linux
// processor runs Advanced SIMD code.
#pragma once

#include <asm/hwcap.h>
#include <sys/auxv.h>

namespace tessaril::arm {

inline bool runs_neon() noexcept
{
    return (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0;
}

}  // namespace tessaril::arm
