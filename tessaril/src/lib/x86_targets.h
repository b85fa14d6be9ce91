// What the x86 kernels share: the target attributes that let one file hold
// code for several instruction sets, and a byte constant for the
// _mm*_set_epi8 intrinsics, which take chars.
#pragma once

#define TESSARILS_AVX2 __attribute__((target("avx2")))
#define TESSARILS_AVX512 __attribute__((target("avx2,avx512f,avx512bw")))

namespace tessaril::x86 {

constexpr char byte(int value) noexcept
{
    return static_cast<char>(value);
}

}  // namespace tessaril::x86
