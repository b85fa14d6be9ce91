// NEON loops of the base64url codec, for AArch64.
//
// The structured loads and stores (vld3/vld4, vst3/vst4) split groups into
// their byte positions and join them back, so the bit work is plain shifts
// and the character mapping is the same compare-mask-add arithmetic as the
// portable loop, sixteen lanes at a time. No table lookup (no TBL) and no
// branch depends on the data; loop bounds depend on lengths alone.
#include "codec/base64url_kernels.h"

#ifdef TESSARILS_BASE64URL_NEON

#include <cstring>

#include <arm_neon.h>

namespace tessaril::base64url_detail {
namespace {

inline uint8x16_t splat(int value) noexcept
{
    return vdupq_n_u8(static_cast<std::uint8_t>(value));
}

inline uint8x16_t step_where_above(uint8x16_t x, int bound, int step) noexcept
{
    return vandq_u8(vcgtq_u8(x, splat(bound)), splat(step));
}

inline uint8x16_t sextets_to_chars(uint8x16_t x) noexcept
{
    uint8x16_t c = vaddq_u8(x, splat(UPPER_OFFSET));
    c = vaddq_u8(c, step_where_above(x, 25, LOWER_STEP));
    c = vaddq_u8(c, step_where_above(x, 51, DIGIT_STEP));
    c = vaddq_u8(c, step_where_above(x, 61, DASH_STEP));
    return vaddq_u8(c, step_where_above(x, 62, UNDERSCORE_STEP));
}

// 16 groups, split by position (first, second, third byte), to 64 characters
// split by position.
inline uint8x16x4_t encode_round(uint8x16x3_t b) noexcept
{
    const uint8x16_t low6 = splat(0x3f);
    uint8x16x4_t c;
    c.val[0] = sextets_to_chars(vshrq_n_u8(b.val[0], 2));
    c.val[1] = sextets_to_chars(vandq_u8(vorrq_u8(vshlq_n_u8(b.val[0], 4), vshrq_n_u8(b.val[1], 4)), low6));
    c.val[2] = sextets_to_chars(vandq_u8(vorrq_u8(vshlq_n_u8(b.val[1], 2), vshrq_n_u8(b.val[2], 6)), low6));
    c.val[3] = sextets_to_chars(vandq_u8(b.val[2], low6));
    return c;
}

void encode_neon(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    // 16 groups (48 bytes, 64 characters) per round; the structured load and
    // store touch exactly those bytes.
    std::size_t g = 0;
    for (; groups - g >= 16; g += 16) {
        vst4q_u8(reinterpret_cast<std::uint8_t*>(out + 4 * g), encode_round(vld3q_u8(in + 3 * g)));
    }
    // The last groups go through a round on a copy, so that short fields
    // (nonces, contexts) get the same code as long ones.
    if (const std::size_t n = groups - g; n != 0) {
        std::uint8_t bytes[48] = {};
        std::uint8_t chars[64];
        std::memcpy(bytes, in + 3 * g, 3 * n);
        vst4q_u8(chars, encode_round(vld3q_u8(bytes)));
        std::memcpy(out + 4 * g, chars, 4 * n);
    }
}

// All ones where lo <= c <= hi, by one unsigned compare of c - lo.
inline uint8x16_t in_range(uint8x16_t c, char lo, char hi) noexcept
{
    return vcleq_u8(vsubq_u8(c, splat(lo)), splat(hi - lo));
}

// Maps 16 characters to their sextets, clearing bytes of |valid| where a
// character is outside the alphabet.
inline uint8x16_t chars_to_sextets(uint8x16_t c, uint8x16_t& valid) noexcept
{
    const uint8x16_t upper = in_range(c, 'A', 'Z');
    const uint8x16_t lower = in_range(c, 'a', 'z');
    const uint8x16_t digit = in_range(c, '0', '9');
    const uint8x16_t dash = vceqq_u8(c, splat('-'));
    const uint8x16_t underscore = vceqq_u8(c, splat('_'));
    valid = vandq_u8(valid, vorrq_u8(vorrq_u8(upper, lower), vorrq_u8(digit, vorrq_u8(dash, underscore))));
    const uint8x16_t delta =
        vorrq_u8(vorrq_u8(vandq_u8(upper, splat(-'A')), vandq_u8(lower, splat(26 - 'a'))),
                 vorrq_u8(vandq_u8(digit, splat(52 - '0')),
                          vorrq_u8(vandq_u8(dash, splat(62 - '-')), vandq_u8(underscore, splat(63 - '_')))));
    return vaddq_u8(c, delta);
}

// 64 characters, split by position in their quantum, to 16 groups split by
// byte position.
inline uint8x16x3_t decode_round(uint8x16x4_t c, uint8x16_t& valid) noexcept
{
    const uint8x16_t s0 = chars_to_sextets(c.val[0], valid);
    const uint8x16_t s1 = chars_to_sextets(c.val[1], valid);
    const uint8x16_t s2 = chars_to_sextets(c.val[2], valid);
    const uint8x16_t s3 = chars_to_sextets(c.val[3], valid);
    uint8x16x3_t b;
    b.val[0] = vorrq_u8(vshlq_n_u8(s0, 2), vshrq_n_u8(s1, 4));
    b.val[1] = vorrq_u8(vshlq_n_u8(s1, 4), vshrq_n_u8(s2, 2));
    b.val[2] = vorrq_u8(vshlq_n_u8(s2, 6), s3);
    return b;
}

void decode_neon(const char* in, std::size_t quanta, std::uint8_t* out, std::uint32_t& invalid) noexcept
{
    // 16 quanta (64 characters, 48 bytes) per round.
    uint8x16_t valid = splat(0xff);
    std::size_t q = 0;
    for (; quanta - q >= 16; q += 16) {
        vst3q_u8(out + 3 * q, decode_round(vld4q_u8(reinterpret_cast<const std::uint8_t*>(in + 4 * q)), valid));
    }
    // The last quanta go through a round on a copy filled out with 'A',
    // which is in the alphabet and so leaves |valid| alone.
    if (const std::size_t n = quanta - q; n != 0) {
        std::uint8_t chars[64];
        std::uint8_t bytes[48];
        std::memset(chars, 'A', sizeof chars);
        std::memcpy(chars, in + 4 * q, 4 * n);
        vst3q_u8(bytes, decode_round(vld4q_u8(chars), valid));
        std::memcpy(out + 3 * q, bytes, 3 * n);
    }
    // The smallest lane is 0xff only when every lane is.
    invalid |= static_cast<std::uint8_t>(~vminvq_u8(valid));
}

}  // namespace

const Kernel NEON_KERNEL = {"neon", encode_by_groups<encode_neon>, decode_by_quanta<decode_neon>};

}  // namespace tessaril::base64url_detail

#endif
