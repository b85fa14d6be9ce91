#include "lib/utf8.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaril {
namespace {

// Index of the first 64-byte block from |i| that holds a non-ASCII byte, or
// the end of the last whole block; payloads are mostly ASCII, and sealing
// and opening both check up to 16 KiB.
std::size_t skip_ascii_blocks(const std::uint8_t* s, std::size_t i, std::size_t n) noexcept
{
#if defined(__SSE2__)
    for (; i + 64 <= n; i += 64) {
        const auto* p = reinterpret_cast<const __m128i*>(s + i);
        const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                                         _mm_or_si128(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3)));
        if (_mm_movemask_epi8(any) != 0) break;
    }
#else
    (void)s;
    (void)n;
#endif
    return i;
}

}  // namespace

std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> bytes) noexcept
{
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Skip ASCII a block and then eight bytes at a time.
        i = skip_ascii_blocks(s, i, n);
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        const std::uint8_t lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Sequence length and the allowed range of the second byte (Unicode
        // table 3-7); later bytes are always 80..BF.
        std::size_t need;
        std::uint8_t lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 3;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 4;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            return Utf8Fault{i, 1};
        }
        // Walk the maximal subpart: the longest prefix of a valid sequence.
        for (std::size_t k = 1; k < need; ++k) {
            if (i + k >= n) return Utf8Fault{i, 0};
            const std::uint8_t c = s[i + k];
            const bool ok = (k == 1) ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
            if (!ok) return Utf8Fault{i, k};
        }
        i += need;
    }
    return std::nullopt;
}

}  // namespace tessaril
