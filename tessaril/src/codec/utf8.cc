#include "codec/utf8.h"

#include <bit>
#include <cstring>

#include "codec/kernel_list.h"
#include "codec/utf8_kernels.h"

#ifdef TESSARILS_UTF8_X86
#include "processor/x86_targets.h"
#endif
#ifdef TESSARILS_UTF8_NEON
#include "processor/arm_features.h"
#endif

namespace tessaril {
namespace utf8_detail {
namespace {

// The portable kernel works on eight bytes at a time in a 64-bit word, byte
// k of the text in bits 8k..8k+7, with per-byte arithmetic that never
// carries from one byte into the next. Each test leaves its answer in the
// top bit of every byte. The helpers are always inlined: a call would save
// the caller's registers, which hold text, in a frame nothing clears.
constexpr std::uint64_t ONES = 0x0101010101010101;
constexpr std::uint64_t TOP_BITS = 0x8080808080808080;
constexpr std::uint64_t LOW_BITS = 0x7F7F7F7F7F7F7F7F;

// Top bit set in every byte >= |limit|, for 0x80 < limit <= 0xFF: the byte's
// top bit, and its low seven bits reaching limit - 0x80.
[[gnu::always_inline]] constexpr std::uint64_t at_least(std::uint64_t bytes, unsigned limit) noexcept
{
    return bytes & ((bytes & LOW_BITS) + (0x100 - limit) * ONES);
}

// Top bit set in every byte equal to |value|.
[[gnu::always_inline]] constexpr std::uint64_t equal_to(std::uint64_t bytes, unsigned value) noexcept
{
    const std::uint64_t diff = bytes ^ (value * ONES);
    return ~(((diff & LOW_BITS) + LOW_BITS) | diff);
}

// The faults of the eight bytes |now|, given the eight before them: the same
// rules as the nibble tables, stated per byte. A continuation byte must
// stand exactly where a lead one, two or three bytes back calls for one;
// C0, C1 and F5..FF never occur; after E0, ED, F0 and F4 the second byte's
// range is narrowed (no overlong forms, surrogates or code points above
// U+10FFFF). Only the top bits are kept: the others still hold bits of the
// text, and the running fault word may be spilled to the stack.
[[gnu::always_inline]] constexpr std::uint64_t word_faults(std::uint64_t now, std::uint64_t before) noexcept
{
    const std::uint64_t prev1 = (now << 8) | (before >> 56);
    const std::uint64_t prev2 = (now << 16) | (before >> 48);
    const std::uint64_t prev3 = (now << 24) | (before >> 40);
    const std::uint64_t continuation = now & ~(now << 1);  // 10______
    const std::uint64_t due = at_least(prev1, 0xC0) | at_least(prev2, 0xE0) | at_least(prev3, 0xF0);
    const std::uint64_t from_a0 = at_least(now, 0xA0);
    const std::uint64_t from_90 = at_least(now, 0x90);
    return ((continuation ^ due) | at_least(now, 0xF5) | (at_least(now, 0xC0) & ~at_least(now, 0xC2)) |
            (equal_to(prev1, 0xE0) & ~from_a0) | (equal_to(prev1, 0xED) & from_a0) |
            (equal_to(prev1, 0xF0) & ~from_90) | (equal_to(prev1, 0xF4) & from_90)) &
           TOP_BITS;
}

[[gnu::always_inline]] inline std::uint64_t load_word(const std::uint8_t* bytes) noexcept
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    return word;
}

// The last |count| (< 8) bytes, filled out with zeros (ASCII), assembled in
// a register: a copy through memory would leave text in a stack word.
[[gnu::always_inline]] inline std::uint64_t load_tail(const std::uint8_t* bytes, std::size_t count) noexcept
{
    std::uint64_t word = 0;
    for (std::size_t k = 0; k < count; ++k) word |= std::uint64_t{bytes[k]} << (8 * k);
    return word;
}

bool is_valid_scalar(const std::uint8_t* data, std::size_t size) noexcept
{
    std::uint64_t error = 0;
    std::uint64_t before = 0;  // ASCII before the text
    std::size_t i = 0;
    for (; size - i >= 8; i += 8) {
        const std::uint64_t now = load_word(data + i);
        error |= word_faults(now, before);
        before = now;
    }
    // The last bytes filled out with zeros, then a word of zeros, so that a
    // sequence cut short by the end of the text fails as one cut short by
    // ASCII.
    const std::uint64_t last = load_tail(data + i, size - i);
    error |= word_faults(last, before) | word_faults(0, last);
    return error == 0;
}

}  // namespace

const Kernel SCALAR_KERNEL = {"scalar", is_valid_scalar};

codec::KernelRegistry<Kernel>& kernel_registry(const Kernel*) noexcept
{
    // Every kernel this build carries; the highest priority this processor
    // runs is used.
    static constexpr auto ENTRIES = std::to_array<codec::KernelEntry<Kernel>>({
        {&SCALAR_KERNEL, 0, codec::runs_anywhere},
#ifdef TESSARILS_UTF8_X86
        {&AVX2_KERNEL, 30, x86::runs_avx2},
        {&AVX512_KERNEL, 40, x86::runs_avx512},
#endif
#ifdef TESSARILS_UTF8_NEON
        {&NEON_KERNEL, 20, arm::runs_neon},
#endif
    });
    static_assert(codec::distinct_priorities(ENTRIES));
    static codec::KernelRegistry<Kernel> registry(ENTRIES);
    return registry;
}

std::optional<Utf8Fault> walk_to_first_fault(std::span<const std::uint8_t> bytes) noexcept
{
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
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

}  // namespace utf8_detail

bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept
{
    return utf8_detail::active_kernel().is_valid(bytes.data(), bytes.size());
}

std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> bytes) noexcept
{
    if (is_valid_utf8(bytes)) return std::nullopt;
    return utf8_detail::walk_to_first_fault(bytes);
}

}  // namespace tessaril
