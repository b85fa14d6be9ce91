// What the x86 kernels share: the target attributes that let one file hold
// code for several instruction sets, the run-time checks that must agree
// with them, and a byte constant for the _mm*_set_epi8 intrinsics, which
// take chars.
#pragma once

#include <cpuid.h>

#include <cstdint>

#define TESSARILS_AVX2 __attribute__((target("avx2")))
#define TESSARILS_AVX512 __attribute__((target("avx2,avx512f,avx512bw")))

namespace tessaril::x86 {

// Asked of the processor directly rather than through the compiler
// runtime's __builtin_cpu_supports: the wheels' toolchain links no runtime
// that provides its feature table. A feature counts only if the operating
// system also saves the registers it uses (XGETBV), as that builtin checks.
namespace detail {

constexpr unsigned LEAF1_ECX_OSXSAVE = 1U << 27;
constexpr unsigned LEAF1_ECX_AVX = 1U << 28;
constexpr unsigned LEAF7_EBX_AVX2 = 1U << 5;
constexpr unsigned LEAF7_EBX_AVX512F = 1U << 16;
constexpr unsigned LEAF7_EBX_AVX512BW = 1U << 30;
constexpr std::uint64_t XCR0_SSE_AVX = 0x6;        // XMM and YMM state
constexpr std::uint64_t XCR0_AVX512 = 0xe0 | 0x6;  // plus opmask and ZMM state

struct Features {
    bool avx2 = false;
    bool avx512 = false;
};

inline Features read_features() noexcept
{
    Features found;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return found;
    if ((ecx & LEAF1_ECX_OSXSAVE) == 0 || (ecx & LEAF1_ECX_AVX) == 0) return found;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    const std::uint64_t xcr0 = (static_cast<std::uint64_t>(xcr0_high) << 32) | xcr0_low;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return found;
    found.avx2 = (xcr0 & XCR0_SSE_AVX) == XCR0_SSE_AVX && (ebx & LEAF7_EBX_AVX2) != 0;
    found.avx512 = found.avx2 && (xcr0 & XCR0_AVX512) == XCR0_AVX512 && (ebx & LEAF7_EBX_AVX512F) != 0 &&
                   (ebx & LEAF7_EBX_AVX512BW) != 0;
    return found;
}

inline const Features& features() noexcept
{
    static const Features found = read_features();
    return found;
}

}  // namespace detail

// Whether this processor runs code built with TESSARILS_AVX2 / TESSARILS_AVX512.
inline bool runs_avx2() noexcept
{
    return detail::features().avx2;
}

inline bool runs_avx512() noexcept
{
    return detail::features().avx512;
}

constexpr char byte(int value) noexcept
{
    return static_cast<char>(value);
}

}  // namespace tessaril::x86
