// What the x86 kernels share: the target attributes that let one file hold
// code for several instruction sets, the run-time checks that must agree
// with them, and a byte constant for the _mm*_set_epi8 intrinsics, which
// take chars.
#pragma once

#define TESSARILS_AVX2 __attribute__((target("avx2")))
#define TESSARILS_AVX512 __attribute__((target("avx2,avx512f,avx512bw")))

namespace tessaril::x86 {

// Whether this processor runs code built with TESSARILS_AVX2 / TESSARILS_AVX512.
inline bool runs_avx2() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

inline bool runs_avx512() noexcept
{
    return runs_avx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}

constexpr char byte(int value) noexcept
{
    return static_cast<char>(value);
}

}  // namespace tessaril::x86
