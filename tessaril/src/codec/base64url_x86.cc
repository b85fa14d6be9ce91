// AVX2 and AVX-512 kernels of the base64url codec. Each function carries its
// own target attribute, so this file builds for any x86-64 and the kernels
// run only where available_kernels() found the instructions.
//
// The character mapping is the same arithmetic as the portable loop, done on
// whole registers: byte compares give all-ones masks, masked constants are
// added. Shuffles and permutes only move bytes to fixed places (their
// controls are constants), so no lookup is ever indexed by the data and
// nothing branches on it; loop bounds depend on lengths alone.
#include "codec/base64url_kernels.h"

#ifdef TESSARILS_BASE64URL_X86

#include <immintrin.h>

#include "processor/x86_constants.h"
#include "processor/x86_masked.h"
#include "processor/x86_targets.h"

namespace tessaril::base64url_detail {
namespace {

using x86::byte;
using x86::load;
using x86::Vector32;

// ---- AVX2: 8 groups, 24 bytes and 32 characters, per round -------------

struct Avx2Constants {
    // Splitting bytes into sextets.
    Vector32 spread = x86::both_lanes(std::to_array({1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10}));
    Vector32 high_sextets = x86::splat32(0x0fc0fc00);
    Vector32 high_shifts = x86::splat32(0x04000040);
    Vector32 low_sextets = x86::splat32(0x003f03f0);
    Vector32 low_shifts = x86::splat32(0x01000010);
    // 24 bytes as encode_round's two 16-byte loads at +0 and +12 put them.
    Vector32 group_lanes = x86::lanes32({0, 1, 2, 3, 3, 4, 5, 6});
    // Sextets to characters: bounds and the steps added above them.
    Vector32 upper_offset = x86::splat8(UPPER_OFFSET);
    Vector32 above_upper = x86::splat8(25), lower_step = x86::splat8(LOWER_STEP);
    Vector32 above_lower = x86::splat8(51), digit_step = x86::splat8(DIGIT_STEP);
    Vector32 above_digit = x86::splat8(61), dash_step = x86::splat8(DASH_STEP);
    Vector32 above_dash = x86::splat8(62), underscore_step = x86::splat8(UNDERSCORE_STEP);
    // Characters to sextets: the ranges' bounds and their offsets.
    Vector32 below_upper = x86::splat8('A' - 1), upper_end = x86::splat8('Z'), from_upper = x86::splat8(-'A');
    Vector32 below_lower = x86::splat8('a' - 1), lower_end = x86::splat8('z'), from_lower = x86::splat8(26 - 'a');
    Vector32 below_digit = x86::splat8('0' - 1), digit_end = x86::splat8('9'), from_digit = x86::splat8(52 - '0');
    Vector32 dash = x86::splat8('-'), from_dash = x86::splat8(62 - '-');
    Vector32 underscore = x86::splat8('_'), from_underscore = x86::splat8(63 - '_');
    // Joining sextets into bytes.
    Vector32 pair_weights = x86::splat32(0x01400140);
    Vector32 quad_weights = x86::splat32(0x00011000);
    Vector32 join_bytes = x86::both_lanes(std::to_array({2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1}));
    Vector32 join_lanes = x86::lanes32({0, 1, 2, 4, 5, 6, 3, 7});
    // Masks by position, padding, and the filler that is in the alphabet.
    Vector32 lane_indices = x86::LANE_INDICES;
    Vector32 byte_indices = x86::byte_indices();
    Vector32 padding = x86::splat8('=');
    Vector32 filler = x86::splat8('A');
};

constexpr Avx2Constants AVX2_CONSTANTS{};

// Spreads the 24 bytes of two 12-byte lane halves into 32 sextets, one per
// byte, in output order (the multiply-shift split of three bytes into four).
TESSARILS_AVX2 inline __m256i split_sextets(const Avx2Constants& k, __m256i v) noexcept
{
    v = _mm256_shuffle_epi8(v, load(k.spread));
    const __m256i hi = _mm256_mulhi_epu16(_mm256_and_si256(v, load(k.high_sextets)), load(k.high_shifts));
    const __m256i lo = _mm256_mullo_epi16(_mm256_and_si256(v, load(k.low_sextets)), load(k.low_shifts));
    return _mm256_or_si256(hi, lo);
}

TESSARILS_AVX2 inline __m256i step_where_above(__m256i x, const Vector32& bound, const Vector32& step) noexcept
{
    return _mm256_and_si256(_mm256_cmpgt_epi8(x, load(bound)), load(step));
}

TESSARILS_AVX2 inline __m256i sextets_to_chars(const Avx2Constants& k, __m256i x) noexcept
{
    __m256i c = _mm256_add_epi8(x, load(k.upper_offset));
    c = _mm256_add_epi8(c, step_where_above(x, k.above_upper, k.lower_step));
    c = _mm256_add_epi8(c, step_where_above(x, k.above_lower, k.digit_step));
    c = _mm256_add_epi8(c, step_where_above(x, k.above_digit, k.dash_step));
    return _mm256_add_epi8(c, step_where_above(x, k.above_dash, k.underscore_step));
}

TESSARILS_AVX2 inline __m256i encode_round(const Avx2Constants& k, __m128i first, __m128i second) noexcept
{
    return sextets_to_chars(k, split_sextets(k, _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1)));
}

// All ones in the first |count| bytes, count <= 32.
TESSARILS_AVX2 inline __m256i first_bytes(const Avx2Constants& k, std::size_t count) noexcept
{
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(count)), load(k.byte_indices));
}

// Characters that carry bits of |size| bytes; the rest of the last quantum
// is padding.
constexpr std::size_t data_chars(std::size_t size) noexcept
{
    return (4 * size + 2) / 3;
}

// Encodes the last 0 < |size| <= 24 bytes of a field, padding included, with no
// copy: the bytes come in as x86::load_first_bytes reads them, and the
// characters, one 4-byte word per group, go out through x86::store_lanes.
[[gnu::always_inline]] TESSARILS_AVX2 inline void encode_last_avx2(const Avx2Constants& k, const std::uint8_t* in, std::size_t size,
                                            char* out) noexcept
{
    const __m256i bytes = x86::load_first_bytes(in, size, load(k.lane_indices));
    const __m256i groups = _mm256_permutevar8x32_epi32(bytes, load(k.group_lanes));
    const __m256i chars = sextets_to_chars(k, split_sextets(k, groups));
    x86::store_lanes(out, (size + 2) / 3, _mm256_blendv_epi8(load(k.padding), chars, first_bytes(k, data_chars(size))),
                     load(k.lane_indices));
}

// Whole rounds of 8 groups (24 bytes), each read as two 16-byte loads at +0
// and +12: a round reads 28 bytes, so it needs 10 groups in hand. Returns
// how many groups it did.
TESSARILS_AVX2 inline std::size_t encode_blocks_avx2(const Avx2Constants& k, const std::uint8_t* in,
                                                     std::size_t groups, char* out) noexcept
{
    const std::size_t rounds = groups >= 10 ? (groups - 2) / 8 : 0;
    const std::uint8_t* const end = in + 24 * rounds;
    for (const std::uint8_t* p = in; p != end; p += 24, out += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            encode_round(k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12))));
    }
    return 8 * rounds;
}

TESSARILS_AVX2 void encode_avx2(const std::uint8_t* in, std::size_t size, char* out) noexcept
{
    const Avx2Constants& k = x86::in_memory(AVX2_CONSTANTS);
    // A field of one round or less (most of a short token's) goes straight
    // to it; an empty one has no page of its own to read or write.
    if (size <= 24) [[likely]] {
        if (size != 0) encode_last_avx2(k, in, size, out);
        return;
    }
    std::size_t g = encode_blocks_avx2(k, in, size / 3, out);
    // What the blocks leave (all of a field shorter than they take) in
    // rounds that read and write exactly its bytes, the last with the
    // padding.
    for (; size - 3 * g > 24; g += 8) encode_last_avx2(k, in + 3 * g, 24, out + 4 * g);
    encode_last_avx2(k, in + 3 * g, size - 3 * g, out + 4 * g);
}

// All ones where lo <= c <= hi; bytes of 0x80 and above read as negative and
// fall outside every range, since every bound is positive.
TESSARILS_AVX2 inline __m256i in_range(__m256i c, const Vector32& below, const Vector32& end) noexcept
{
    return _mm256_andnot_si256(_mm256_cmpgt_epi8(c, load(end)), _mm256_cmpgt_epi8(c, load(below)));
}

// Packs 32 sextets (one per byte) into 24 bytes at the bottom of the
// register; |join_lanes| is the constant of that name, which the permute
// takes only from a register.
TESSARILS_AVX2 inline __m256i join_sextets(const Avx2Constants& k, __m256i x, __m256i join_lanes) noexcept
{
    const __m256i pairs = _mm256_maddubs_epi16(x, load(k.pair_weights));
    const __m256i words = _mm256_madd_epi16(pairs, load(k.quad_weights));
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, load(k.join_bytes)), join_lanes);
}

// Maps 32 characters to their sextets and packs them into 24 bytes. Every
// character of the alphabet has a non-zero offset to its sextet, and any
// other none: the bytes where the offset is zero are set in |bad|.
TESSARILS_AVX2 inline __m256i decode_round(const Avx2Constants& k, __m256i c, __m256i& bad,
                                           __m256i join_lanes) noexcept
{
    const __m256i upper = in_range(c, k.below_upper, k.upper_end);
    const __m256i lower = in_range(c, k.below_lower, k.lower_end);
    const __m256i digit = in_range(c, k.below_digit, k.digit_end);
    const __m256i dash = _mm256_cmpeq_epi8(c, load(k.dash));
    const __m256i underscore = _mm256_cmpeq_epi8(c, load(k.underscore));
    const __m256i delta = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(upper, load(k.from_upper)), _mm256_and_si256(lower, load(k.from_lower))),
        _mm256_or_si256(_mm256_and_si256(digit, load(k.from_digit)),
                        _mm256_or_si256(_mm256_and_si256(dash, load(k.from_dash)),
                                        _mm256_and_si256(underscore, load(k.from_underscore)))));
    bad = _mm256_or_si256(bad, _mm256_cmpeq_epi8(delta, _mm256_setzero_si256()));
    return join_sextets(k, _mm256_add_epi8(c, delta), join_lanes);
}

// Whole rounds of 8 quanta (32 characters, 24 bytes) while |quanta| whole
// ones are in hand; the 32-byte store needs 11 quanta of output in hand.
// Returns how many quanta it did.
TESSARILS_AVX2 inline std::size_t decode_blocks_avx2(const Avx2Constants& k, const char* in, std::size_t quanta,
                                                     std::uint8_t* out, __m256i& bad) noexcept
{
    const std::size_t rounds = quanta >= 11 ? (quanta - 3) / 8 : 0;
    const char* const end = in + 32 * rounds;
    const __m256i join_lanes = load(k.join_lanes);
    for (const char* p = in; p != end; p += 32, out += 24) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), decode_round(k, c, bad, join_lanes));
    }
    return 8 * rounds;
}

// Decodes the last |quanta| <= 8 quanta of a field into their |size| bytes,
// reading exactly their characters (the padding and the lanes past them read
// as 'A', which is in the alphabet) and writing exactly their bytes: the
// whole 4-byte words through x86::store_lanes, the last one to three bytes one
// by one. The bits the padding stands for land in the bytes from |size| on,
// which must be zero; any that are not go into |bad|.
[[gnu::always_inline]] TESSARILS_AVX2 inline void decode_last_avx2(const Avx2Constants& k, const char* in, std::size_t quanta,
                                            std::uint8_t* out, std::size_t size, __m256i& bad) noexcept
{
    const __m256i chars = x86::load_lanes(in, quanta, load(k.lane_indices));
    const __m256i c = _mm256_blendv_epi8(load(k.filler), chars, first_bytes(k, data_chars(size)));
    const __m256i bytes = decode_round(k, c, bad, load(k.join_lanes));
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(first_bytes(k, size), bytes));
    const std::size_t words = size / 4;
    x86::store_lanes(out, words, bytes, load(k.lane_indices));
    const auto last = static_cast<std::uint32_t>(
        _mm256_cvtsi256_si32(_mm256_permutevar8x32_epi32(bytes, _mm256_set1_epi32(static_cast<int>(words)))));
    for (std::size_t b = 0; b < size % 4; ++b) out[4 * words + b] = static_cast<std::uint8_t>(last >> (8 * b));
}

TESSARILS_AVX2 std::uint32_t decode_avx2(const char* in, std::size_t chars, std::uint8_t* out,
                                         std::size_t size) noexcept
{
    const Avx2Constants& k = x86::in_memory(AVX2_CONSTANTS);
    const std::size_t quanta = chars / 4;
    __m256i bad = _mm256_setzero_si256();
    // A field of one round (most of a short token's) goes straight to it.
    if (quanta <= 8) [[likely]] {
        decode_last_avx2(k, in, quanta, out, size, bad);
        return _mm256_testz_si256(bad, bad) != 0 ? 0 : 1;
    }
    // The blocks take whole quanta only, never the padded last one.
    std::size_t q = decode_blocks_avx2(k, in, size / 3, out, bad);
    for (; quanta - q > 8; q += 8) decode_last_avx2(k, in + 4 * q, 8, out + 3 * q, 24, bad);
    decode_last_avx2(k, in + 4 * q, quanta - q, out + 3 * q, size - 3 * q, bad);
    return _mm256_testz_si256(bad, bad) != 0 ? 0 : 1;
}

// ---- AVX-512: 16 groups, 48 bytes and 64 characters, per round ---------

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

// Mask of the low |n| bytes, n <= 64.
inline std::uint64_t low_bytes(std::size_t n) noexcept
{
    return n < 64 ? (std::uint64_t{1} << n) - 1 : ~std::uint64_t{0};
}

// Encodes the last |size| <= 48 bytes of a field, padding included, through
// a masked load of exactly those bytes and a masked store of exactly their
// characters.
TESSARILS_AVX512 inline void encode_last_avx512(const std::uint8_t* in, std::size_t size, char* out) noexcept
{
    const __m512i chars = encode_round(_mm512_maskz_loadu_epi8(low_bytes(size), in));
    _mm512_mask_storeu_epi8(out, low_bytes(4 * ((size + 2) / 3)),
                            _mm512_mask_blend_epi8(low_bytes(data_chars(size)), _mm512_set1_epi8('='), chars));
}

// Fields that fit one AVX2 round (most of a short token's) go through that
// kernel: there its constants come from memory and its stores are narrower,
// and it costs less than a 64-byte round built up for a few bytes.
constexpr std::size_t AVX2_ROUND_BYTES = 24;

TESSARILS_AVX512 void encode_avx512(const std::uint8_t* in, std::size_t size, char* out) noexcept
{
    if (size <= AVX2_ROUND_BYTES) return encode_avx2(in, size, out);
    // 16 groups (48 bytes) per round through a masked load of exactly those
    // bytes; the last round masks its load and store to what is left.
    std::size_t g = 0;
    for (; size - 3 * g > 48; g += 16) {
        _mm512_storeu_si512(out + 4 * g, encode_round(_mm512_maskz_loadu_epi8(low_bytes(48), in + 3 * g)));
    }
    encode_last_avx512(in + 3 * g, size - 3 * g, out + 4 * g);
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

// Decodes the last |size| <= 48 bytes of a field: the characters that carry
// their bits through a masked load (the padding and the rest of the
// register read as 'A', which is in the alphabet), the bytes through a
// masked store. The bits the padding stands for land in the bytes from
// |size| up to 48, which must be zero (the round's last 16 bytes are left
// over, not zeros).
TESSARILS_AVX512 inline void decode_last_avx512(const char* in, std::size_t size, std::uint8_t* out,
                                                __mmask64& bad) noexcept
{
    const __m512i c = _mm512_mask_loadu_epi8(_mm512_set1_epi8('A'), low_bytes(data_chars(size)), in);
    const __m512i bytes = decode_round(c, bad);
    bad = _kor_mask64(bad, _mm512_mask_test_epi8_mask(_cvtu64_mask64(low_bytes(48) & ~low_bytes(size)), bytes, bytes));
    _mm512_mask_storeu_epi8(out, low_bytes(size), bytes);
}

TESSARILS_AVX512 std::uint32_t decode_avx512(const char* in, std::size_t chars, std::uint8_t* out,
                                             std::size_t size) noexcept
{
    if (size <= AVX2_ROUND_BYTES) return decode_avx2(in, chars, out, size);
    // 16 quanta (64 characters, 48 bytes) per round, stored as 64 bytes while
    // 22 whole quanta of output are in hand; the rest in rounds with masked
    // loads and stores, the last with the padding.
    const std::size_t quanta = chars / 4;
    __mmask64 bad = 0;
    std::size_t q = 0;
    for (; size / 3 - q >= 22; q += 16) {
        _mm512_storeu_si512(out + 3 * q, decode_round(_mm512_loadu_si512(in + 4 * q), bad));
    }
    for (; quanta - q > 16; q += 16) decode_last_avx512(in + 4 * q, 48, out + 3 * q, bad);
    decode_last_avx512(in + 4 * q, size - 3 * q, out + 3 * q, bad);
    return _cvtmask64_u64(bad) != 0 ? 1 : 0;
}

}  // namespace

const Kernel AVX2_KERNEL = {"avx2", encode_avx2, decode_avx2};
const Kernel AVX512_KERNEL = {"avx512bw", encode_avx512, decode_avx512};

}  // namespace tessaril::base64url_detail

#endif
