// AVX2 and AVX-512 UTF-8 validation. Each function carries its own target
// attribute, so this file builds for any x86-64 and the kernels run only
// where available_kernels() found the instructions.
//
// The nibble tables sit in registers and are read with byte shuffles; the
// bytes before each byte come from fixed-position shifts across the previous
// block (AVX-512 finds the continuations due after long leads from bit masks
// of the leads instead). Every block is checked in full and the faults are
// OR-ed together, so the loop bounds depend on the length alone. Every
// helper is always inlined: around a call the compiler saves the vector
// registers that are live, which hold text, in a frame nothing clears.
#include "codec/utf8_kernels.h"

#ifdef TESSARILS_UTF8_X86

#include <immintrin.h>

#include "processor/x86_constants.h"
#include "processor/x86_masked.h"
#include "processor/x86_targets.h"

#include "codec/utf8_rules.h"

namespace tessaril::utf8_detail {
namespace {

using x86::byte;

// ---- AVX2: 32 bytes per block ----------------------------------------------

constexpr x86::Vector32 end_limits_32() noexcept
{
    x86::Vector32 v{};
    v.bytes = end_limits<32>();
    return v;
}

struct Avx2Constants {
    // The nibble tables, the same 16 entries in both lanes.
    x86::Vector32 first_high = x86::both_lanes(FIRST_HIGH), first_low = x86::both_lanes(FIRST_LOW),
                  second_high = x86::both_lanes(SECOND_HIGH);
    x86::Vector32 nibble = x86::splat8(0x0F);
    x86::Vector32 third_byte_bias = x86::splat8(THIRD_BYTE_BIAS), fourth_byte_bias = x86::splat8(FOURTH_BYTE_BIAS);
    x86::Vector32 top_bits = x86::splat8(0x80);
    x86::Vector32 end_limits = end_limits_32();
    x86::Vector32 lane_indices = x86::LANE_INDICES;
};

constexpr Avx2Constants AVX2_CONSTANTS{};

// The tables, which the byte shuffles take only from registers.
struct Avx2Tables {
    __m256i first_high, first_low, second_high;
};

[[gnu::always_inline]] TESSARILS_AVX2 inline Avx2Tables tables(const Avx2Constants& k) noexcept
{
    return {x86::load(k.first_high), x86::load(k.first_low), x86::load(k.second_high)};
}

[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i low_nibbles(const Avx2Constants& k, __m256i v) noexcept
{
    return _mm256_and_si256(v, x86::load(k.nibble));
}

[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i high_nibbles(const Avx2Constants& k, __m256i v) noexcept
{
    return low_nibbles(k, _mm256_srli_epi16(v, 4));
}

// The faults of block |in|, given the block before it.
[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i block_faults(const Avx2Constants& k, const Avx2Tables& t, __m256i in,
                                           __m256i before) noexcept
{
    // The high lane of |before| and the low lane of |in|: the 16 bytes that
    // precede each lane of |in|.
    const __m256i behind = _mm256_permute2x128_si256(before, in, 0x21);
    const __m256i prev1 = _mm256_alignr_epi8(in, behind, 15);
    const __m256i prev2 = _mm256_alignr_epi8(in, behind, 14);
    const __m256i prev3 = _mm256_alignr_epi8(in, behind, 13);
    const __m256i first = _mm256_and_si256(_mm256_shuffle_epi8(t.first_high, high_nibbles(k, prev1)),
                                           _mm256_shuffle_epi8(t.first_low, low_nibbles(k, prev1)));
    const __m256i pair_faults = _mm256_and_si256(first, _mm256_shuffle_epi8(t.second_high, high_nibbles(k, in)));
    const __m256i continuation_due =
        _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(prev2, x86::load(k.third_byte_bias)),
                                         _mm256_subs_epu8(prev3, x86::load(k.fourth_byte_bias))),
                         x86::load(k.top_bits));
    return _mm256_xor_si256(pair_faults, continuation_due);
}

// Non-zero where the block ends inside a sequence.
[[gnu::always_inline]] TESSARILS_AVX2 inline __m256i ends_inside(const Avx2Constants& k, __m256i last) noexcept
{
    return _mm256_subs_epu8(last, x86::load(k.end_limits));
}

// A text shorter than a block, read in registers as x86::load_first_bytes
// reads it: no copy in memory to make and wipe, and no call, so no text
// is left in a stack slot.
[[gnu::always_inline]] TESSARILS_AVX2 inline bool is_valid_short_avx2(const Avx2Constants& k, const std::uint8_t* data,
                                               std::size_t size) noexcept
{
    // The empty text, which has no page of its own to read, is valid.
    if (size == 0) return true;
    const __m256i last = x86::load_first_bytes(data, size, x86::load(k.lane_indices));
    const __m256i error =
        _mm256_or_si256(block_faults(k, tables(k), last, _mm256_setzero_si256()), ends_inside(k, last));
    return _mm256_testz_si256(error, error) != 0;
}

TESSARILS_AVX2 bool is_valid_avx2(const std::uint8_t* data, std::size_t size) noexcept
{
    const Avx2Constants& k = x86::in_memory(AVX2_CONSTANTS);
    if (size < 32) return is_valid_short_avx2(k, data, size);

    // From a block on, the bytes after the last full block go through a
    // block of their own, read in registers as x86::load_first_bytes reads
    // them and filled out with zeros (ASCII), which a sequence cut short by
    // the end of the text then fails against; with no bytes left, a block of
    // zeros does just that. There is no copy in memory, and no call that
    // the compiler would keep text across in a stack slot.
    const std::size_t full = size - size % 32;
    const Avx2Tables t = tables(k);
    __m256i error = _mm256_setzero_si256();
    __m256i before = _mm256_setzero_si256();
    for (std::size_t i = 0; i < full; i += 32) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
        error = _mm256_or_si256(error, block_faults(k, t, in, before));
        before = in;
    }
    const __m256i last = full == size ? _mm256_setzero_si256()
                                      : x86::load_first_bytes(data + full, size - full, x86::load(k.lane_indices));
    error = _mm256_or_si256(error, _mm256_or_si256(block_faults(k, t, last, before), ends_inside(k, last)));
    return _mm256_testz_si256(error, error) != 0;
}

// ---- AVX-512: 64 bytes per block -------------------------------------------

[[gnu::always_inline]] TESSARILS_AVX512 inline __m512i table512(const NibbleTable& entries) noexcept
{
    return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries.data())));
}

struct Avx512Tables {
    __m512i first_high, first_low, second_high;
};

// Truth table for _mm512_ternarylogic_epi32(a, b, c) giving a & b & c: bit
// (a << 2 | b << 1 | c) of the constant is the result.
constexpr int AND_OF_THREE = 0x80;

// A block of 64 bytes with its leads of three or four bytes (E0 and above)
// and of four bytes (F0 and above) as bit masks, bit k for byte k: they call
// for continuations two and three bytes on, possibly in the next block.
struct Avx512Block {
    __m512i bytes;
    std::uint64_t long_leads;
    std::uint64_t four_byte_leads;
};

[[gnu::always_inline]] TESSARILS_AVX512 inline Avx512Block read_block(__m512i bytes) noexcept
{
    return {bytes, _cvtmask64_u64(_mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(byte(THREE_BYTE_LEAD)))),
            _cvtmask64_u64(_mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(byte(FOUR_BYTE_LEAD))))};
}

[[gnu::always_inline]] TESSARILS_AVX512 inline __m512i block_faults(const Avx512Tables& t, const Avx512Block& in,
                                             const Avx512Block& before) noexcept
{
    // Each 128-bit lane of the inner align holds the 16 bytes that precede
    // the same lane of |in|.
    const __m512i prev1 = _mm512_alignr_epi8(in.bytes, _mm512_alignr_epi64(in.bytes, before.bytes, 6), 15);
    const __m512i low_nibble = _mm512_set1_epi8(0x0F);
    const __m512i pair_faults = _mm512_ternarylogic_epi32(
        _mm512_shuffle_epi8(t.first_high, _mm512_and_si512(_mm512_srli_epi16(prev1, 4), low_nibble)),
        _mm512_shuffle_epi8(t.first_low, _mm512_and_si512(prev1, low_nibble)),
        _mm512_shuffle_epi8(t.second_high, _mm512_and_si512(_mm512_srli_epi16(in.bytes, 4), low_nibble)),
        AND_OF_THREE);
    // Where a third or fourth byte is due, adding 0x80 flips the top bit,
    // CONTINUATION_PAIR, which a continuation there has set.
    const std::uint64_t due = (in.long_leads << 2) | (before.long_leads >> 62) | (in.four_byte_leads << 3) |
                              (before.four_byte_leads >> 61);
    return _mm512_mask_add_epi8(pair_faults, _cvtu64_mask64(due), pair_faults, _mm512_set1_epi8(byte(0x80)));
}

TESSARILS_AVX512 bool is_valid_avx512(const std::uint8_t* data, std::size_t size) noexcept
{
    // A text shorter than an AVX2 block is checked in registers as the AVX2
    // kernel checks it, with its tables read from memory rather than built.
    if (size < 32) return is_valid_short_avx2(x86::in_memory(AVX2_CONSTANTS), data, size);
    const Avx512Tables t{table512(FIRST_HIGH), table512(FIRST_LOW), table512(SECOND_HIGH)};
    __m512i error = _mm512_setzero_si512();
    Avx512Block before = read_block(_mm512_setzero_si512());
    std::size_t i = 0;
    for (; size - i >= 64; i += 64) {
        const Avx512Block in = read_block(_mm512_loadu_si512(data + i));
        error = _mm512_or_si512(error, block_faults(t, in, before));
        before = in;
    }
    if (const std::size_t rest = size - i; rest != 0) {
        // A masked load reads exactly the last bytes and fills the block out
        // with zeros (ASCII), which a sequence cut short then fails against.
        const Avx512Block in = read_block(_mm512_maskz_loadu_epi8((std::uint64_t{1} << rest) - 1, data + i));
        error = _mm512_or_si512(error, block_faults(t, in, before));
        before = in;
    }
    static constexpr auto limits = end_limits<64>();
    error = _mm512_or_si512(error, _mm512_subs_epu8(before.bytes, _mm512_loadu_si512(limits.data())));
    return _mm512_test_epi8_mask(error, error) == 0;
}

}  // namespace

const Kernel AVX2_KERNEL = {"avx2", is_valid_avx2};
const Kernel AVX512_KERNEL = {"avx512bw", is_valid_avx512};

}  // namespace tessaril::utf8_detail

#endif
