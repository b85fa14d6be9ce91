#include "codec/kernel_list.h"

#include <array>
#include <string_view>

#include <gtest/gtest.h>

#include "codec/base64url_kernels.h"
#include "codec/utf8_kernels.h"
#include "testing/forced_kernels.h"

#ifdef TESSARILS_BASE64URL_X86
#include "processor/x86_targets.h"
#endif
#ifdef TESSARILS_BASE64URL_NEON
#include "processor/arm_features.h"
#endif

namespace tessaril::codec {
namespace {

struct FakeKernel {
    const char* name;
};

constexpr FakeKernel LOW{"low"}, MIDDLE{"middle"}, HIGH{"high"}, HIGHEST{"highest"};

bool runs_nowhere() noexcept
{
    return false;
}

TEST(KernelRegistry, OrdersByPriorityAndUsesTheHighestThatRuns)
{
    // Listed out of priority order, with the highest one unable to run.
    constexpr auto entries = std::to_array<KernelEntry<FakeKernel>>({
        {&HIGH, 30, runs_anywhere},
        {&HIGHEST, 40, runs_nowhere},
        {&LOW, 0, runs_anywhere},
        {&MIDDLE, 20, runs_anywhere},
    });
    static_assert(distinct_priorities(entries));
    KernelRegistry<FakeKernel> registry(entries);
    ASSERT_EQ(registry.available().size(), 3U);
    EXPECT_EQ(registry.available()[0], &LOW);
    EXPECT_EQ(registry.available()[1], &MIDDLE);
    EXPECT_EQ(registry.available()[2], &HIGH);
    EXPECT_EQ(&registry.best(), &HIGH);
    EXPECT_EQ(&registry.active(), &HIGH);
    registry.make_active(LOW);
    EXPECT_EQ(&registry.active(), &LOW);
    EXPECT_EQ(&registry.best(), &HIGH);
}

TEST(KernelRegistry, RejectsSharedPriorities)
{
    constexpr auto entries = std::to_array<KernelEntry<FakeKernel>>({{&LOW, 5, runs_anywhere}, {&HIGH, 5, runs_anywhere}});
    static_assert(!distinct_priorities(entries));
}

// The kernel each codec should use here, from the processor's features
// alone: the widest vector instructions it runs, else the portable kernel.
std::string_view expected_best(std::string_view portable)
{
#ifdef TESSARILS_BASE64URL_X86
    if (x86::runs_avx512()) return "avx512bw";
    if (x86::runs_avx2()) return "avx2";
#endif
#ifdef TESSARILS_BASE64URL_NEON
    if (arm::runs_neon()) return "neon";
#endif
    return portable;
}

TEST(KernelRegistry, EachCodecUsesTheHighestPriorityKernelThisProcessorRuns)
{
    EXPECT_EQ(base64url_detail::active_kernel().name, expected_best("swar"));
    EXPECT_EQ(utf8_detail::active_kernel().name, expected_best("scalar"));
    EXPECT_EQ(&base64url_detail::active_kernel(), base64url_detail::available_kernels().back());
    EXPECT_EQ(&utf8_detail::active_kernel(), utf8_detail::available_kernels().back());
}

TEST(KernelRegistry, TestSupportForcesAKernelForAsLongAsItsGuardLives)
{
    {
        const testing::ForcedKernels forced(base64url_detail::SCALAR_KERNEL, utf8_detail::SCALAR_KERNEL);
        EXPECT_EQ(&base64url_detail::active_kernel(), &base64url_detail::SCALAR_KERNEL);
        EXPECT_EQ(&utf8_detail::active_kernel(), &utf8_detail::SCALAR_KERNEL);
    }
    EXPECT_EQ(&base64url_detail::active_kernel(), &base64url_detail::best_kernel());
    EXPECT_EQ(&utf8_detail::active_kernel(), &utf8_detail::best_kernel());
}

}  // namespace
}  // namespace tessaril::codec
