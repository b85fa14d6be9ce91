// Vector constants for the x86 kernels, kept in memory. Built from
// immediates, as the compiler otherwise does, each costs two or three
// instructions on every call, which on a field or text of a few bytes is
// more than the work itself; read from memory, each is an operand of the
// instruction that uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "processor/x86_targets.h"

namespace tessaril::x86 {

struct alignas(32) Vector32 {
    std::array<std::uint8_t, 32> bytes;
};

// |value| in every byte.
constexpr Vector32 splat8(int value) noexcept
{
    Vector32 v{};
    v.bytes.fill(static_cast<std::uint8_t>(value));
    return v;
}

// |value| in every 32-bit lane.
constexpr Vector32 splat32(std::uint32_t value) noexcept
{
    Vector32 v{};
    for (std::size_t i = 0; i < 32; ++i) v.bytes[i] = static_cast<std::uint8_t>(value >> (8 * (i % 4)));
    return v;
}

// The eight 32-bit lanes.
constexpr Vector32 lanes32(const std::array<std::uint32_t, 8>& lanes) noexcept
{
    Vector32 v{};
    for (std::size_t i = 0; i < 32; ++i) v.bytes[i] = static_cast<std::uint8_t>(lanes[i / 4] >> (8 * (i % 4)));
    return v;
}

// The same 16 bytes in both 128-bit lanes.
template <class Byte>
constexpr Vector32 both_lanes(const std::array<Byte, 16>& lane) noexcept
{
    Vector32 v{};
    for (std::size_t i = 0; i < 32; ++i) v.bytes[i] = static_cast<std::uint8_t>(lane[i % 16]);
    return v;
}

// 0, 1, ..., 31.
constexpr Vector32 byte_indices() noexcept
{
    Vector32 v{};
    for (std::size_t i = 0; i < 32; ++i) v.bytes[i] = static_cast<std::uint8_t>(i);
    return v;
}

// |constants| through a pointer the compiler cannot see through, so that it
// reads them from memory rather than rebuilding them from their known values.
template <class Constants>
const Constants& in_memory(const Constants& constants) noexcept
{
    const Constants* p = &constants;
    asm("" : "+r"(p));
    return *p;
}

[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i load(const Vector32& v) noexcept
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(v.bytes.data()));
}

// The lane numbers 0 to 7, one per 32-bit lane.
inline constexpr Vector32 LANE_INDICES = lanes32({0, 1, 2, 3, 4, 5, 6, 7});

}  // namespace tessaril::x86
