// Makes a chosen codec kernel the one the engine's public functions use, for
// as long as the guard lives, so that tests, the constant-time probes and
// the benchmarks reach the portable kernels on a processor with vector
// ones. The engine itself never reads a choice from outside: only code that
// includes this header can make one, and only while no other thread uses
// the codec.
#pragma once

#include <span>
#include <string_view>

#include "codec/base64url_kernels.h"
#include "codec/utf8_kernels.h"

namespace tessaril::testing {

// The available kernel of the codec whose kernels are |Kernel| that is
// called |name|, or nullptr when this processor runs none of that name.
template <class Kernel>
const Kernel* find_kernel(std::span<const Kernel* const> available, std::string_view name) noexcept
{
    for (const Kernel* kernel : available) {
        if (kernel->name == name) return kernel;
    }
    return nullptr;
}

// The base64url kernel |base64url| and the UTF-8 kernel |utf8| made active
// while the guard lives; each codec's best kernel is active again after.
class ForcedKernels {
public:
    ForcedKernels(const base64url_detail::Kernel& base64url, const utf8_detail::Kernel& utf8) noexcept
    {
        base64url_detail::make_active_kernel(base64url);
        utf8_detail::make_active_kernel(utf8);
    }
    ForcedKernels(const ForcedKernels&) = delete;
    ForcedKernels& operator=(const ForcedKernels&) = delete;
    ~ForcedKernels()
    {
        base64url_detail::make_active_kernel(base64url_detail::best_kernel());
        utf8_detail::make_active_kernel(utf8_detail::best_kernel());
    }
};

}  // namespace tessaril::testing
