// Eight base64url characters in one 64-bit word, each byte a lane of its
// own, to and from the six bytes they encode: shifts, masks, adds and
// multiplies by 0 or 1 per lane, so nothing branches on or indexes by the
// data. The word-at-a-time kernel is built on these, and so are the padded
// last groups of every field.
#pragma once

#include <bit>
#include <cstdint>

namespace tessaril::base64url_detail::word {

constexpr std::uint64_t ONES = 0x0101010101010101;
constexpr std::uint64_t TOP_BITS = 0x8080808080808080;
constexpr std::uint64_t LOW_BITS = 0x7F7F7F7F7F7F7F7F;

// Byte k of the word is byte k of memory, whatever the processor's order.
inline std::uint64_t from_memory_order(std::uint64_t value) noexcept
{
    if constexpr (std::endian::native == std::endian::big) return std::byteswap(value);
    return value;
}

// 0x01 in every byte of |x| at or above |bound|, for bytes below 128 and
// 0 < bound <= 128: adding 128 - bound reaches the top bit without carrying.
constexpr std::uint64_t at_least(std::uint64_t x, unsigned bound) noexcept
{
    return ((x + (128 - bound) * ONES) & TOP_BITS) >> 7;
}

// Eight sextets, one per byte, to their characters. The offset from sextet
// to character is one of five constants, chosen by which runs the sextet has
// passed: each passed run swaps the offset for the next by an XOR, and the
// lanes are selected by multiplying their 0/1 flags. Sextets are below 64 and
// the offset's low seven bits below 128, so the sum carries out of no lane.
constexpr std::uint64_t sextets_to_chars(std::uint64_t x) noexcept
{
    constexpr unsigned upper = 'A', lower = 'a' - 26, digit = ('0' - 52) & 0xFF, dash = ('-' - 62) & 0xFF,
                       underscore = '_' - 63;
    const std::uint64_t offset = upper * ONES ^ at_least(x, 26) * (upper ^ lower) ^
                                 at_least(x, 52) * (lower ^ digit) ^ at_least(x, 62) * (digit ^ dash) ^
                                 at_least(x, 63) * (dash ^ underscore);
    return (x + (offset & LOW_BITS)) ^ (offset & TOP_BITS);
}

// Six bytes, the first in bits 40..47, to their eight characters in memory order.
constexpr std::uint64_t encode_word(std::uint64_t bits) noexcept
{
    // 48 bits to two 24-bit halves in 32-bit lanes, each to two 12-bit
    // halves in 16-bit lanes, each to two sextets in bytes, the first of each
    // pair in the lower lane.
    std::uint64_t x = (bits >> 24) | ((bits & 0xFFFFFF) << 32);
    x = ((x >> 12) & 0x00000FFF00000FFF) | ((x & 0x00000FFF00000FFF) << 16);
    x = ((x >> 6) & 0x003F003F003F003F) | ((x & 0x003F003F003F003F) << 8);
    return sextets_to_chars(x);
}

// Top bit set in every byte of |c| (below 128) from |lo| to |hi|: |c_top| is
// c with every top bit set, so neither subtraction borrows across lanes.
constexpr std::uint64_t in_range(std::uint64_t c, std::uint64_t c_top, unsigned lo, unsigned hi) noexcept
{
    return (c_top - lo * ONES) & ((hi * ONES | TOP_BITS) - c) & TOP_BITS;
}

// Eight characters in memory order to six bytes, the first in bits 40..47;
// sets top bits of |bad| for any character outside the alphabet.
constexpr std::uint64_t decode_word(std::uint64_t chars, std::uint64_t& bad) noexcept
{
    const std::uint64_t c = chars & LOW_BITS;
    const std::uint64_t c_top = c | TOP_BITS;
    const std::uint64_t upper = in_range(c, c_top, 'A', 'Z');
    const std::uint64_t lower = in_range(c, c_top, 'a', 'z');
    const std::uint64_t digit = in_range(c, c_top, '0', '9');
    const std::uint64_t dash = in_range(c, c_top, '-', '-');
    const std::uint64_t underscore = in_range(c, c_top, '_', '_');
    // Bytes of 128 and above are outside the alphabet whatever their low bits.
    bad |= (chars & TOP_BITS) | (~(upper | lower | digit | dash | underscore) & TOP_BITS);
    // The classes are disjoint: each lane takes its class's offset (mod 256)
    // from character to sextet, added without carrying out of the lane.
    const std::uint64_t offset = (upper >> 7) * ((0 - 'A') & 0xFF) | (lower >> 7) * ((26 - 'a') & 0xFF) |
                                 (digit >> 7) * (52 - '0') | (dash >> 7) * (62 - '-') |
                                 (underscore >> 7) * ((63 - '_') & 0xFF);
    std::uint64_t x = (c + (offset & LOW_BITS)) ^ (offset & TOP_BITS);
    // Sextet pairs to 12-bit values in 16-bit lanes, pairs of those to 24-bit
    // values in 32-bit lanes, and the two of those to 48 bits.
    x = ((x & 0x00FF00FF00FF00FF) << 6) | ((x >> 8) & 0x00FF00FF00FF00FF);
    x = ((x & 0x0000FFFF0000FFFF) << 12) | ((x >> 16) & 0x0000FFFF0000FFFF);
    return ((x & 0xFFFFFF) << 24) | ((x >> 32) & 0xFFFFFF);
}

}  // namespace tessaril::base64url_detail::word
