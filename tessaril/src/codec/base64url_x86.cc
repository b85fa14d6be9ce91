// AVX2 and AVX-512 loops of the base64url codec. Each function carries its
// own target attribute, so this file builds for any x86-64 and the loops run
// only where available_kernels() found the instructions.
//
// The character mapping is the same arithmetic as the portable loop, done on
// whole registers: byte compares give all-ones masks, masked constants are
// added. Shuffles and permutes only move bytes to fixed places (their
// controls are constants), so no lookup is ever indexed by the data and
// nothing branches on it; loop bounds depend on lengths alone.
#include "codec/base64url_kernels.h"

#ifdef TESSARILS_BASE64URL_X86

#include <immintrin.h>

#include "processor/x86_targets.h"

namespace tessaril::base64url_detail {
namespace {

using x86::byte;

// Spreads the 24 bytes of two 12-byte lane halves into 32 sextets, one per
// byte, in output order (the multiply-shift split of three bytes into four).
TESSARILS_AVX2 inline __m256i split_sextets(__m256i v) noexcept
{
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                            1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    v = _mm256_shuffle_epi8(v, spread);
    const __m256i hi = _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0fc0fc00)),
                                          _mm256_set1_epi32(0x04000040));
    const __m256i lo = _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003f03f0)),
                                          _mm256_set1_epi32(0x01000010));
    return _mm256_or_si256(hi, lo);
}

TESSARILS_AVX2 inline __m256i step_where_above(__m256i x, int bound, int step) noexcept
{
    return _mm256_and_si256(_mm256_cmpgt_epi8(x, _mm256_set1_epi8(byte(bound))), _mm256_set1_epi8(byte(step)));
}

TESSARILS_AVX2 inline __m256i sextets_to_chars(__m256i x) noexcept
{
    __m256i c = _mm256_add_epi8(x, _mm256_set1_epi8(byte(UPPER_OFFSET)));
    c = _mm256_add_epi8(c, step_where_above(x, 25, LOWER_STEP));
    c = _mm256_add_epi8(c, step_where_above(x, 51, DIGIT_STEP));
    c = _mm256_add_epi8(c, step_where_above(x, 61, DASH_STEP));
    return _mm256_add_epi8(c, step_where_above(x, 62, UNDERSCORE_STEP));
}

TESSARILS_AVX2 inline __m256i encode_round(__m128i first, __m128i second) noexcept
{
    return sextets_to_chars(split_sextets(_mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1)));
}

// All ones in the first |count| of the eight 32-bit lanes, count <= 8: the
// mask of the masked loads and stores below, which touch no byte outside it.
TESSARILS_AVX2 inline __m256i first_lanes(std::size_t count) noexcept
{
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// The |count| bytes at |p|, count < 4, in the low bytes of a word.
inline std::uint32_t load_bytes(const std::uint8_t* p, std::size_t count) noexcept
{
    std::uint32_t word = 0;
    for (std::size_t k = 0; k < count; ++k) word |= std::uint32_t{p[k]} << (8 * k);
    return word;
}

// Encodes |groups| <= 8 groups with no copy: the whole 4-byte words come
// in through a masked load, the last one to three bytes one by one, and the
// characters, one 4-byte word per group, go out through a masked store.
TESSARILS_AVX2 inline void encode_short_avx2(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    const std::size_t words = 3 * groups / 4;
    __m256i bytes = _mm256_maskload_epi32(reinterpret_cast<const int*>(in), first_lanes(words));
    const auto rest = static_cast<int>(load_bytes(in + 4 * words, 3 * groups % 4));
    bytes = _mm256_or_si256(bytes, _mm256_and_si256(_mm256_set1_epi32(rest),
                                                    _mm256_cmpeq_epi32(_mm256_set1_epi32(static_cast<int>(words)),
                                                                       _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7))));
    // Bytes 12..23 to the upper lane, as encode_round's two loads would put them.
    bytes = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(out), first_lanes(groups), sextets_to_chars(split_sextets(bytes)));
}

// Whole rounds of 8 groups (24 bytes), each read as two 16-byte loads at +0
// and +12: a round reads 28 bytes, so it needs 10 groups in hand. Returns
// how many groups it did.
TESSARILS_AVX2 inline std::size_t encode_blocks_avx2(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    std::size_t g = 0;
    for (; groups - g >= 10; g += 8) {
        const std::uint8_t* p = in + 3 * g;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * g),
                            encode_round(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12))));
    }
    return g;
}

// The short path of the AVX2 kernel, for fields shorter than the blocks
// take: short rounds alone, so that a nonce or a context pays for none of
// the block loop's set-up.
TESSARILS_AVX2 std::size_t encode_short_fields_avx2(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    for (std::size_t g = 0; g < groups; g += 8) {
        encode_short_avx2(in + 3 * g, groups - g < 8 ? groups - g : 8, out + 4 * g);
    }
    return groups;
}

TESSARILS_AVX2 std::size_t encode_avx2(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    std::size_t g = encode_blocks_avx2(in, groups, out);
    // The last groups in rounds that read and write exactly their bytes.
    for (; g < groups; g += 8) encode_short_avx2(in + 3 * g, groups - g < 8 ? groups - g : 8, out + 4 * g);
    return groups;
}

// All ones where lo <= c <= hi; bytes of 0x80 and above read as negative and
// fall outside every range, since every bound is positive.
TESSARILS_AVX2 inline __m256i in_range(__m256i c, char lo, char hi) noexcept
{
    return _mm256_and_si256(_mm256_cmpgt_epi8(c, _mm256_set1_epi8(byte(lo - 1))),
                            _mm256_cmpgt_epi8(_mm256_set1_epi8(byte(hi + 1)), c));
}

// Packs 32 sextets (one per byte) into 24 bytes at the bottom of the register
// (the top 8 bytes are left over, not zeros: see decode_round below).
TESSARILS_AVX2 inline __m256i join_sextets(__m256i x) noexcept
{
    const __m256i pairs = _mm256_maddubs_epi16(x, _mm256_set1_epi32(0x01400140));
    const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i lanes = _mm256_shuffle_epi8(words, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 3, 7, 11,
                                                                      15, 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 3, 7,
                                                                      11, 15));
    return _mm256_permutevar8x32_epi32(lanes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

// Maps 32 characters to their sextets, clearing bytes of |valid| where a
// character is outside the alphabet, and packs them into 24 bytes.
TESSARILS_AVX2 inline __m256i decode_round(__m256i c, __m256i& valid) noexcept
{
    const __m256i upper = in_range(c, 'A', 'Z');
    const __m256i lower = in_range(c, 'a', 'z');
    const __m256i digit = in_range(c, '0', '9');
    const __m256i dash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('-'));
    const __m256i underscore = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('_'));
    valid = _mm256_and_si256(valid, _mm256_or_si256(_mm256_or_si256(upper, lower),
                                                    _mm256_or_si256(digit, _mm256_or_si256(dash, underscore))));
    const __m256i delta = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(upper, _mm256_set1_epi8(byte(-'A'))),
                        _mm256_and_si256(lower, _mm256_set1_epi8(byte(26 - 'a')))),
        _mm256_or_si256(_mm256_and_si256(digit, _mm256_set1_epi8(byte(52 - '0'))),
                        _mm256_or_si256(_mm256_and_si256(dash, _mm256_set1_epi8(byte(62 - '-'))),
                                        _mm256_and_si256(underscore, _mm256_set1_epi8(byte(63 - '_'))))));
    return join_sextets(_mm256_add_epi8(c, delta));
}

// Whole rounds of 8 quanta (32 characters, 24 bytes); the 32-byte store
// needs 11 quanta of output in hand. Returns how many quanta it did.
TESSARILS_AVX2 inline std::size_t decode_blocks_avx2(const char* in, std::size_t quanta, std::uint8_t* out,
                                                     __m256i& valid) noexcept
{
    __m256i still_valid = valid;  // in a register through the loop
    std::size_t q = 0;
    for (; quanta - q >= 11; q += 8) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * q));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * q), decode_round(c, still_valid));
    }
    valid = still_valid;
    return q;
}

// Decodes |quanta| <= 8 quanta reading exactly their characters (the other
// lanes filled out with 'A', which is in the alphabet and so leaves |valid|
// alone) and writing exactly their bytes: the whole 4-byte words through a
// masked store, the last one to three bytes one by one.
TESSARILS_AVX2 inline void decode_short_avx2(const char* in, std::size_t quanta, std::uint8_t* out,
                                             __m256i& valid) noexcept
{
    const __m256i lanes = first_lanes(quanta);
    const __m256i c = _mm256_blendv_epi8(_mm256_set1_epi8('A'),
                                         _mm256_maskload_epi32(reinterpret_cast<const int*>(in), lanes), lanes);
    const __m256i bytes = decode_round(c, valid);
    const std::size_t words = 3 * quanta / 4;
    _mm256_maskstore_epi32(reinterpret_cast<int*>(out), first_lanes(words), bytes);
    const auto last = static_cast<std::uint32_t>(
        _mm256_cvtsi256_si32(_mm256_permutevar8x32_epi32(bytes, _mm256_set1_epi32(static_cast<int>(words)))));
    for (std::size_t k = 0; k < 3 * quanta % 4; ++k) out[4 * words + k] = static_cast<std::uint8_t>(last >> (8 * k));
}

// The short path of the AVX2 kernel on the decoding side (see
// encode_short_fields_avx2).
TESSARILS_AVX2 std::size_t decode_short_fields_avx2(const char* in, std::size_t quanta, std::uint8_t* out,
                                                    std::uint32_t& invalid) noexcept
{
    __m256i valid = _mm256_set1_epi8(byte(-1));
    for (std::size_t q = 0; q < quanta; q += 8) {
        decode_short_avx2(in + 4 * q, quanta - q < 8 ? quanta - q : 8, out + 3 * q, valid);
    }
    invalid |= ~static_cast<std::uint32_t>(_mm256_movemask_epi8(valid));
    return quanta;
}

TESSARILS_AVX2 std::size_t decode_avx2(const char* in, std::size_t quanta, std::uint8_t* out,
                                       std::uint32_t& invalid) noexcept
{
    __m256i valid = _mm256_set1_epi8(byte(-1));
    std::size_t q = decode_blocks_avx2(in, quanta, out, valid);
    // The last quanta in rounds that read and write exactly their bytes.
    for (; q < quanta; q += 8) decode_short_avx2(in + 4 * q, quanta - q < 8 ? quanta - q : 8, out + 3 * q, valid);
    invalid |= ~static_cast<std::uint32_t>(_mm256_movemask_epi8(valid));
    return quanta;
}

TESSARILS_AVX512 inline __m512i step_where_above(__m512i c, __m512i x, int bound, int step) noexcept
{
    return _mm512_mask_add_epi8(c, _mm512_cmpgt_epu8_mask(x, _mm512_set1_epi8(byte(bound))), c,
                                _mm512_set1_epi8(byte(step)));
}

// Encodes up to 16 groups whose bytes sit in the low 48 bytes of |v|.
TESSARILS_AVX512 inline __m512i encode_round(__m512i v) noexcept
{
    // Each 12-byte quarter moves to its own 128-bit lane, then the split of
    // the AVX2 round, and the mapping with masked adds.
    const __m512i quarters = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __m512i spread = _mm512_broadcast_i32x4(_mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    v = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(quarters, v), spread);
    const __m512i hi = _mm512_mulhi_epu16(_mm512_and_si512(v, _mm512_set1_epi32(0x0fc0fc00)),
                                          _mm512_set1_epi32(0x04000040));
    const __m512i lo = _mm512_mullo_epi16(_mm512_and_si512(v, _mm512_set1_epi32(0x003f03f0)),
                                          _mm512_set1_epi32(0x01000010));
    const __m512i x = _mm512_or_si512(hi, lo);
    __m512i c = _mm512_add_epi8(x, _mm512_set1_epi8(byte(UPPER_OFFSET)));
    c = step_where_above(c, x, 25, LOWER_STEP);
    c = step_where_above(c, x, 51, DIGIT_STEP);
    c = step_where_above(c, x, 61, DASH_STEP);
    return step_where_above(c, x, 62, UNDERSCORE_STEP);
}

// Mask of the low |n| bytes, n < 64.
inline std::uint64_t low_bytes(std::size_t n) noexcept
{
    return (std::uint64_t{1} << n) - 1;
}

TESSARILS_AVX512 std::size_t encode_avx512(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    // 16 groups (48 bytes) per round through a masked load of exactly those
    // bytes; the last round masks its load and store to what is left.
    std::size_t g = 0;
    for (; groups - g >= 16; g += 16) {
        _mm512_storeu_si512(out + 4 * g, encode_round(_mm512_maskz_loadu_epi8(low_bytes(48), in + 3 * g)));
    }
    if (const std::size_t n = groups - g; n != 0) {
        _mm512_mask_storeu_epi8(out + 4 * g, low_bytes(4 * n),
                                encode_round(_mm512_maskz_loadu_epi8(low_bytes(3 * n), in + 3 * g)));
    }
    return groups;
}

// Mask of the bytes with lo <= c <= hi, by one unsigned compare of c - lo.
TESSARILS_AVX512 inline __mmask64 in_range(__m512i c, char lo, char hi, __m512i& offset) noexcept
{
    offset = _mm512_sub_epi8(c, _mm512_set1_epi8(lo));
    return _mm512_cmple_epu8_mask(offset, _mm512_set1_epi8(byte(hi - lo)));
}

// Maps 64 characters to sextets, adding to |bad| the bytes outside the
// alphabet, and packs them into 48 bytes.
TESSARILS_AVX512 inline __m512i decode_round(__m512i c, __mmask64& bad) noexcept
{
    __m512i from_a, from_lower_a, from_zero;
    const __mmask64 upper = in_range(c, 'A', 'Z', from_a);
    const __mmask64 lower = in_range(c, 'a', 'z', from_lower_a);
    const __mmask64 digit = in_range(c, '0', '9', from_zero);
    const __mmask64 dash = _mm512_cmpeq_epi8_mask(c, _mm512_set1_epi8('-'));
    const __mmask64 underscore = _mm512_cmpeq_epi8_mask(c, _mm512_set1_epi8('_'));
    bad = _kor_mask64(bad, _knot_mask64(_kor_mask64(_kor_mask64(upper, lower),
                                                    _kor_mask64(digit, _kor_mask64(dash, underscore)))));
    __m512i x = _mm512_maskz_mov_epi8(upper, from_a);
    x = _mm512_mask_add_epi8(x, lower, from_lower_a, _mm512_set1_epi8(26));
    x = _mm512_mask_add_epi8(x, digit, from_zero, _mm512_set1_epi8(52));
    x = _mm512_mask_mov_epi8(x, dash, _mm512_set1_epi8(62));
    x = _mm512_mask_mov_epi8(x, underscore, _mm512_set1_epi8(63));
    const __m512i joined = _mm512_madd_epi16(_mm512_maddubs_epi16(x, _mm512_set1_epi32(0x01400140)),
                                             _mm512_set1_epi32(0x00011000));
    // The last four bytes of each lane are never kept (the next round's
    // store or the store mask covers them); naming real bytes rather than
    // zeros keeps clang from splitting this shuffle and the permute into
    // half-register pieces around the zeros it would know of.
    const __m512i lanes = _mm512_broadcast_i32x4(_mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 3, 7, 11, 15));
    const __m512i compact = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    return _mm512_permutexvar_epi32(compact, _mm512_shuffle_epi8(joined, lanes));
}

TESSARILS_AVX512 std::size_t decode_avx512(const char* in, std::size_t quanta, std::uint8_t* out,
                                           std::uint32_t& invalid) noexcept
{
    // 16 quanta (64 characters, 48 bytes) per round, stored as 64 bytes while
    // 22 quanta of output are in hand; the rest in rounds with masked loads
    // (filled out with 'A', which is in the alphabet) and masked stores.
    __mmask64 bad = 0;
    std::size_t q = 0;
    for (; quanta - q >= 22; q += 16) {
        _mm512_storeu_si512(out + 3 * q, decode_round(_mm512_loadu_si512(in + 4 * q), bad));
    }
    while (q < quanta) {
        const std::size_t n = quanta - q < 16 ? quanta - q : 16;
        const __m512i c = _mm512_mask_loadu_epi8(_mm512_set1_epi8('A'), n == 16 ? ~std::uint64_t{0} : low_bytes(4 * n),
                                                 in + 4 * q);
        _mm512_mask_storeu_epi8(out + 3 * q, low_bytes(3 * n), decode_round(c, bad));
        q += n;
    }
    const std::uint64_t bad_bits = _cvtmask64_u64(bad);
    invalid |= static_cast<std::uint32_t>(bad_bits | bad_bits >> 32);
    return q;
}

}  // namespace

// Fields of fewer than 10 groups (30 bytes) or 11 quanta (44 characters)
// never reach the AVX2 block loops; they go through its short path.
const Kernel AVX2_SHORT_KERNEL = {"avx2_short", encode_short_fields_avx2, decode_short_fields_avx2, 0, nullptr};
const Kernel AVX2_KERNEL = {"avx2", encode_avx2, decode_avx2, 11, &AVX2_SHORT_KERNEL};
const Kernel AVX512_KERNEL = {"avx512bw", encode_avx512, decode_avx512, 0, nullptr};

}  // namespace tessaril::base64url_detail

#endif
