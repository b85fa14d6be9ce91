// The kernels a codec may choose from, listed once, each with an explicit
// priority and the check whether this processor runs it. The registry keeps
// the ones this processor runs, lowest priority first, and makes the
// highest the active one; the engine's test support can make another one
// active for a while (testing/forced_kernels.h). Each codec builds its
// registry from its list in kernel_registry() and reaches it through
// Kernels<Kernel>, so the two codecs share every line of it.
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

// More than any codec carries: the registry holds at most this many.
inline constexpr std::size_t MAX_KERNELS = 8;

template <class Kernel>
class KernelRegistry {
public:
    // Out of line, so that the accessor around the once-only construction
    // stays small enough to inline into every call of a codec.
    template <std::size_t N>
    [[gnu::noinline, gnu::cold]] explicit KernelRegistry(const std::array<KernelEntry<Kernel>, N>& entries) noexcept
    {
        static_assert(N <= MAX_KERNELS);
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
    std::array<const Kernel*, MAX_KERNELS> kernels_{};
    std::size_t count_ = 0;
    const Kernel* active_ = nullptr;
};

// A codec's kernels, through the registry that the codec's
// kernel_registry(const Kernel*) (found by argument-dependent lookup) builds
// once per process from what the processor reports.
template <class Kernel>
struct Kernels {
    static KernelRegistry<Kernel>& registry() noexcept { return kernel_registry(static_cast<const Kernel*>(nullptr)); }
    static std::span<const Kernel* const> available() noexcept { return registry().available(); }
    static const Kernel& best() noexcept { return registry().best(); }
    static const Kernel& active() noexcept { return registry().active(); }
    static void make_active(const Kernel& kernel) noexcept { registry().make_active(kernel); }
};

}  // namespace tessaril::codec
