// The kernels a codec may choose from, listed once: each with the check
// whether this processor runs it. The list of those it runs is an array as
// long as the whole list, so a new entry lengthens both and none can be
// written past the end.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace tessaril::codec {

// A kernel this build carries, with the run-time check that says whether
// this processor runs the instructions it was built for.
template <class Kernel>
struct KernelEntry {
    const Kernel* kernel;
    bool (*runs)() noexcept;
};

// The check for the portable kernels, which every processor runs.
inline bool runs_anywhere() noexcept
{
    return true;
}

// The kernels of |entries| that this processor runs, in the order given.
template <class Kernel, std::size_t N>
class RunnableKernels {
public:
    explicit RunnableKernels(const std::array<KernelEntry<Kernel>, N>& entries) noexcept
    {
        for (const KernelEntry<Kernel>& entry : entries) {
            if (entry.runs()) kernels_[count_++] = entry.kernel;
        }
    }

    [[nodiscard]] std::span<const Kernel* const> span() const noexcept { return {kernels_.data(), count_}; }

private:
    std::array<const Kernel*, N> kernels_{};
    std::size_t count_ = 0;
};

}  // namespace tessaril::codec
