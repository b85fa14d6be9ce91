// Masked loads and stores of the AVX2 kernels that cannot fault, whatever the
// processor. Intel documents that VPMASKMOV never faults on a masked-off
// lane; AMD leaves that to the implementation. So a masked access whose
// 32-byte window reaches past the page of its first byte is never made:
// near the end of a page the window is moved back to end with the last
// lane that is accessed, where its masked-off lanes lie in the same page as
// the first accessed byte, and the lanes are rotated into place. The choice
// depends on the address and the lane count alone, never on the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "processor/x86_targets.h"

namespace tessaril::x86 {

// The smallest page x86-64 maps: a window inside one of these lies in one
// page of any size.
constexpr std::uintptr_t PAGE_BYTES = 4096;
constexpr std::uintptr_t WINDOW_BYTES = 32;

// All ones in the first |count| of the eight 32-bit lanes, count <= 8, given
// LANE_INDICES (processor/x86_constants.h).
[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i first_lanes(std::size_t count, __m256i lane_indices) noexcept
{
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), lane_indices);
}

// Whether the 32-byte window from |p| lies in p's page. Every caller passes
// the address of a byte it reads or writes, so that page is mapped.
inline bool window_in_page(const void* p) noexcept
{
    return reinterpret_cast<std::uintptr_t>(p) % PAGE_BYTES <= PAGE_BYTES - WINDOW_BYTES;
}

// Where the window ends with the last of |count| lanes at |p| (0 < count <=
// 8), for when the one from |p| would leave p's page: 4 * (8 - count) bytes
// before |p|, still in p's page, and its lanes from 8 - count on are p's.
inline std::uintptr_t window_before(const void* p, std::size_t count) noexcept
{
    return reinterpret_cast<std::uintptr_t>(p) - 4 * (8 - count);
}

// The masked-off lanes of the window from |p| would lie in the next page:
// out of line, so that the common case keeps its registers.
[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i load_lanes_near_page_end(const void* p, std::size_t count,
                                                                                   __m256i lane_indices) noexcept
{
    if (count == 0) return _mm256_setzero_si256();
    const __m256i last_lanes = _mm256_cmpgt_epi32(lane_indices, _mm256_set1_epi32(static_cast<int>(7 - count)));
    const __m256i window = _mm256_maskload_epi32(reinterpret_cast<const int*>(window_before(p, count)), last_lanes);
    // Lane i takes window lane i + 8 - count; lanes from |count| on wrap to
    // window lanes below 8 - count, which the mask left zero.
    const __m256i back = _mm256_set1_epi32(static_cast<int>(8 - count));
    return _mm256_permutevar8x32_epi32(window,
                                       _mm256_and_si256(_mm256_add_epi32(lane_indices, back), _mm256_set1_epi32(7)));
}

// The first |count| (<= 8) 32-bit lanes at |p|, the rest zero, touching no
// page that none of them lies in; |p| is in a page the caller reads.
[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i load_lanes(const void* p, std::size_t count, __m256i lane_indices) noexcept
{
    if (window_in_page(p)) [[likely]] {
        return _mm256_maskload_epi32(static_cast<const int*>(p), first_lanes(count, lane_indices));
    }
    return load_lanes_near_page_end(p, count, lane_indices);
}

[[gnu::always_inline]] TESSARILS_AVX2 inline void store_lanes_near_page_end(void* p, std::size_t count, __m256i v,
                                                                                 __m256i lane_indices) noexcept
{
    if (count == 0) return;
    const __m256i last_lanes = _mm256_cmpgt_epi32(lane_indices, _mm256_set1_epi32(static_cast<int>(7 - count)));
    // Window lane j (from 8 - count on) takes lane j + count - 8 of |v|.
    const __m256i rotated = _mm256_permutevar8x32_epi32(
        v, _mm256_and_si256(_mm256_add_epi32(lane_indices, _mm256_set1_epi32(static_cast<int>(count))),
                            _mm256_set1_epi32(7)));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(window_before(p, count)), last_lanes, rotated);
}

// Stores the first |count| (<= 8) 32-bit lanes of |v| at |p|, touching no
// page that none of them lies in; |p| is in a page the caller writes.
[[gnu::always_inline]] TESSARILS_AVX2 inline void store_lanes(void* p, std::size_t count, __m256i v, __m256i lane_indices) noexcept
{
    if (window_in_page(p)) [[likely]] {
        _mm256_maskstore_epi32(static_cast<int*>(p), first_lanes(count, lane_indices), v);
        return;
    }
    store_lanes_near_page_end(p, count, v, lane_indices);
}

// The 0 < |count| < 32 bytes at |p| in the low bytes of a vector, the rest
// zero, reading no byte past them and copying none to memory: the whole 4-byte
// words through load_lanes, the last one to three one by one into the lane
// after them. Nothing depends on the bytes' values.
[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i load_first_bytes(const std::uint8_t* p, std::size_t count, __m256i lane_indices) noexcept
{
    const std::size_t words = count / 4;
    const __m256i whole = load_lanes(p, words, lane_indices);
    // One to three bytes as three loads that cover them whatever their
    // number: the first, the middle and the last.
    std::uint32_t rest = 0;
    if (const std::size_t n = count % 4; n != 0) {
        const std::uint8_t* r = p + 4 * words;
        rest = r[0] | std::uint32_t{r[n / 2]} << (8 * (n / 2)) | std::uint32_t{r[n - 1]} << (8 * (n - 1));
    }
    const __m256i rest_lane = _mm256_cmpeq_epi32(_mm256_set1_epi32(static_cast<int>(words)), lane_indices);
    return _mm256_or_si256(whole, _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(rest)), rest_lane));
}

}  // namespace tessaril::x86
