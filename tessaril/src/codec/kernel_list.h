// The kernels a codec may choose from, listed once, each with an explicit
// priority and the check whether this processor runs it. The registry keeps
// the ones this processor runs, lowest priority first, and makes the
// highest the active one; the engine's test support can make another one
// active for a while (testing/forced_kernels.h). The list of runnable
// kernels is an array as long as the whole list, so a new entry lengthens
// both and none can be written past the end.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace tessaril::codec {

// A kernel this build carries: its priority (the highest one this processor
// runs is used) and the run-time check that says whether this processor
// runs the instructions it was built for.
template <class Kernel>
struct KernelEntry {
    const Kernel* kernel;
    int priority;
    bool (*runs)() noexcept;
};

// The check for the portable kernels, which every processor runs.
inline bool runs_anywhere() noexcept
{
    return true;
}

// Whether no two entries share a priority, so that the choice is never left
// to the order of the list.
template <class Kernel, std::size_t N>
consteval bool distinct_priorities(const std::array<KernelEntry<Kernel>, N>& entries)
{
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (entries[i].priority == entries[j].priority) return false;
        }
    }
    return true;
}

template <class Kernel, std::size_t N>
class KernelRegistry {
public:
    explicit KernelRegistry(const std::array<KernelEntry<Kernel>, N>& entries) noexcept
    {
        // Insertion in priority order: a handful of entries, once per process.
        std::array<int, N> priorities{};
        for (const KernelEntry<Kernel>& entry : entries) {
            if (!entry.runs()) continue;
            std::size_t at = count_++;
            for (; at > 0 && priorities[at - 1] > entry.priority; --at) {
                priorities[at] = priorities[at - 1];
                kernels_[at] = kernels_[at - 1];
            }
            priorities[at] = entry.priority;
            kernels_[at] = entry.kernel;
        }
        active_ = kernels_[count_ - 1];
    }
    KernelRegistry(const KernelRegistry&) = delete;
    KernelRegistry& operator=(const KernelRegistry&) = delete;

    // The kernels this processor runs, lowest priority first.
    [[nodiscard]] std::span<const Kernel* const> available() const noexcept { return {kernels_.data(), count_}; }

    // The highest-priority kernel this processor runs.
    [[nodiscard]] const Kernel& best() const noexcept { return *kernels_[count_ - 1]; }

    // The kernel in use: best() unless the test support made another active.
    [[nodiscard]] const Kernel& active() const noexcept { return *active_; }

    // For the engine's test support only, with no other thread using the
    // codec: makes |kernel| (one of available()) the one in use.
    void make_active(const Kernel& kernel) noexcept { active_ = &kernel; }

private:
    std::array<const Kernel*, N> kernels_{};
    std::size_t count_ = 0;
    const Kernel* active_ = nullptr;
};

}  // namespace tessaril::codec
