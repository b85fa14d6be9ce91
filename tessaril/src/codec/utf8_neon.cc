// NEON UTF-8 validation, for AArch64.
//
// The same per-byte rules as the portable kernel, sixteen lanes at a time:
// unsigned compares give all-ones lanes where a rule is broken, and the
// bytes one, two and three places back come from fixed-position extracts
// across the previous block. No table lookup (no TBL) and no branch depends
// on the text; the loop bounds depend on its length alone.
#include "codec/utf8_kernels.h"

#ifdef TESSARILS_UTF8_NEON

#include <cstring>

#include <arm_neon.h>

#include "core/secret.h"

namespace tessaril::utf8_detail {
namespace {

inline uint8x16_t splat(std::uint8_t value) noexcept
{
    return vdupq_n_u8(value);
}

inline uint8x16_t at_least(uint8x16_t bytes, std::uint8_t limit) noexcept
{
    return vcgeq_u8(bytes, splat(limit));
}

// The faults of the 16 bytes |now|, given the 16 before them: a continuation
// byte must stand exactly where a lead one, two or three bytes back calls
// for one; C0, C1 and F5..FF never occur; after E0, ED, F0 and F4 the second
// byte's range is narrowed (no overlong forms, surrogates or code points
// above U+10FFFF).
inline uint8x16_t block_faults(uint8x16_t now, uint8x16_t before) noexcept
{
    const uint8x16_t prev1 = vextq_u8(before, now, 15);
    const uint8x16_t prev2 = vextq_u8(before, now, 14);
    const uint8x16_t prev3 = vextq_u8(before, now, 13);
    const uint8x16_t continuation = vceqq_u8(vandq_u8(now, splat(0xC0)), splat(0x80));
    const uint8x16_t due =
        vorrq_u8(at_least(prev1, 0xC0), vorrq_u8(at_least(prev2, 0xE0), at_least(prev3, 0xF0)));
    const uint8x16_t from_a0 = at_least(now, 0xA0);
    const uint8x16_t from_90 = at_least(now, 0x90);
    const uint8x16_t never = vorrq_u8(at_least(now, 0xF5), vceqq_u8(vandq_u8(now, splat(0xFE)), splat(0xC0)));
    const uint8x16_t narrowed = vorrq_u8(
        vorrq_u8(vbicq_u8(vceqq_u8(prev1, splat(0xE0)), from_a0), vandq_u8(vceqq_u8(prev1, splat(0xED)), from_a0)),
        vorrq_u8(vbicq_u8(vceqq_u8(prev1, splat(0xF0)), from_90), vandq_u8(vceqq_u8(prev1, splat(0xF4)), from_90)));
    return vorrq_u8(veorq_u8(continuation, due), vorrq_u8(never, narrowed));
}

bool is_valid_neon(const std::uint8_t* data, std::size_t size) noexcept
{
    // The bytes after the last full block go through a block of their own,
    // on a copy filled out with zeros (ASCII), then a block of zeros, so that
    // a sequence cut short by the end of the text fails as one cut short by
    // ASCII. The copy holds text, so it is wiped. No text may be held in a
    // register across a call, or the compiler keeps it in a stack slot that
    // nothing clears: the copy is made before the first block, read only
    // after the last (the compiler would otherwise read it early and spill
    // it in the loop), and wiped after the verdict.
    const std::size_t full = size - size % 16;
    std::uint8_t tail[16] = {};
    if (full != size) std::memcpy(tail, data + full, size - full);
    uint8x16_t error = splat(0);
    uint8x16_t before = splat(0);  // ASCII before the text
    for (std::size_t i = 0; i < full; i += 16) {
        const uint8x16_t now = vld1q_u8(data + i);
        error = vorrq_u8(error, block_faults(now, before));
        before = now;
    }
    asm volatile("" ::: "memory");  // the copy is read here, not earlier
    const uint8x16_t last = vld1q_u8(tail);
    error = vorrq_u8(error, vorrq_u8(block_faults(last, before), block_faults(splat(0), last)));
    const bool valid = vmaxvq_u8(error) == 0;
    asm volatile("" : : "r"(valid) : "memory");  // the verdict is settled before the wipe
    secure_wipe(tail);
    return valid;
}

}  // namespace

const Kernel NEON_KERNEL = {"neon", is_valid_neon};

}  // namespace tessaril::utf8_detail

#endif
