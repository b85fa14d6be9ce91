// The rules of well-formed UTF-8 as three nibble tables, shared by the
// vector validation kernels, which look them up with byte shuffles. For each
// pair of adjacent bytes (first, second), the flags of table(first's high
// nibble), table(first's low nibble) and table(second's high nibble) are
// AND-ed: a bit that survives in all three names a fault of that pair. The
// one fault a pair cannot see, a third or fourth byte that is missing or
// extra, is caught by comparing the bytes two and three places back against
// E0 and F0 with the CONTINUATION_PAIR flag.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessaril::utf8_detail {

using NibbleTable = std::array<std::uint8_t, 16>;

// Lead byte or ASCII followed by a lead byte or ASCII where a continuation
// was due (11______ 0_______, 11______ 11______).
inline constexpr std::uint8_t TOO_SHORT = 1 << 0;
// Continuation after ASCII (0_______ 10______).
inline constexpr std::uint8_t TOO_LONG = 1 << 1;
// E0 followed by 80..9F: a three-byte form of a code point below U+0800.
inline constexpr std::uint8_t OVERLONG_3 = 1 << 2;
// F4 followed by 90..BF, or F5..FF followed by a continuation: above U+10FFFF.
inline constexpr std::uint8_t TOO_LARGE = 1 << 3;
// ED followed by A0..BF: a surrogate.
inline constexpr std::uint8_t SURROGATE = 1 << 4;
// C0 or C1 followed by a continuation: a two-byte form of ASCII.
inline constexpr std::uint8_t OVERLONG_2 = 1 << 5;
// F0 followed by 80..8F (a four-byte form below U+10000), and F5..FF
// followed by 80..8F; the two share a bit since both are refused.
inline constexpr std::uint8_t OVERLONG_4 = 1 << 6;
inline constexpr std::uint8_t TOO_LARGE_1000 = 1 << 6;
// Two continuations in a row: a fault unless a lead two or three places back
// calls for a third or fourth byte. This is the bit those leads flip.
inline constexpr std::uint8_t CONTINUATION_PAIR = 1 << 7;

inline constexpr std::uint8_t ANY_LOW_NIBBLE = TOO_SHORT | TOO_LONG | CONTINUATION_PAIR;

// Indexed by the high nibble of the first byte of a pair.
inline constexpr NibbleTable FIRST_HIGH = {
    TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG,  // 0_______ ASCII
    CONTINUATION_PAIR, CONTINUATION_PAIR, CONTINUATION_PAIR, CONTINUATION_PAIR,      // 10______
    TOO_SHORT | OVERLONG_2,                                                          // 1100____
    TOO_SHORT,                                                                       // 1101____
    TOO_SHORT | OVERLONG_3 | SURROGATE,                                              // 1110____
    TOO_SHORT | TOO_LARGE | TOO_LARGE_1000 | OVERLONG_4,                             // 1111____
};

// Indexed by the low nibble of the first byte of a pair.
inline constexpr NibbleTable FIRST_LOW = {
    ANY_LOW_NIBBLE | OVERLONG_3 | OVERLONG_2 | OVERLONG_4,  // ____0000
    ANY_LOW_NIBBLE | OVERLONG_2,                            // ____0001
    ANY_LOW_NIBBLE,                                         // ____0010
    ANY_LOW_NIBBLE,                                         // ____0011
    ANY_LOW_NIBBLE | TOO_LARGE,                             // ____0100
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____0101
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____0110
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____0111
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1000
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1001
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1010
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1011
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1100
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000 | SURROGATE,  // ____1101
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1110
    ANY_LOW_NIBBLE | TOO_LARGE | TOO_LARGE_1000,            // ____1111
};

// Indexed by the high nibble of the second byte of a pair.
inline constexpr NibbleTable SECOND_HIGH = {
    TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT,  // 0_______
    TOO_LONG | OVERLONG_2 | CONTINUATION_PAIR | OVERLONG_3 | TOO_LARGE_1000 | OVERLONG_4,    // 1000____
    TOO_LONG | OVERLONG_2 | CONTINUATION_PAIR | OVERLONG_3 | TOO_LARGE,                      // 1001____
    TOO_LONG | OVERLONG_2 | CONTINUATION_PAIR | SURROGATE | TOO_LARGE,                       // 1010____
    TOO_LONG | OVERLONG_2 | CONTINUATION_PAIR | SURROGATE | TOO_LARGE,                       // 1011____
    TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT,                                              // 11______
};

// A byte two places back at or above E0 (a three- or four-byte lead) or
// three places back at or above F0 (a four-byte lead) calls for a
// continuation here. Subtracting the biases with saturation leaves the top
// bit set exactly then.
inline constexpr std::uint8_t THREE_BYTE_LEAD = 0xE0;
inline constexpr std::uint8_t FOUR_BYTE_LEAD = 0xF0;
inline constexpr std::uint8_t THIRD_BYTE_BIAS = THREE_BYTE_LEAD - 0x80;
inline constexpr std::uint8_t FOURTH_BYTE_BIAS = FOUR_BYTE_LEAD - 0x80;

// A text may not end inside a sequence: its last byte below C0, the one
// before below E0, the one before that below F0. Subtracting these limits
// with saturation from the last three bytes leaves zero exactly then; the
// block form puts them at the end of |N| bytes of FF, which leave zero
// whatever they meet.
inline constexpr std::uint8_t LAST_BYTE_LIMIT = 0xBF;
inline constexpr std::uint8_t SECOND_LAST_LIMIT = 0xDF;
inline constexpr std::uint8_t THIRD_LAST_LIMIT = 0xEF;

template <std::size_t N>
constexpr std::array<std::uint8_t, N> end_limits() noexcept
{
    std::array<std::uint8_t, N> limits{};
    limits.fill(0xFF);
    limits[N - 3] = THIRD_LAST_LIMIT;
    limits[N - 2] = SECOND_LAST_LIMIT;
    limits[N - 1] = LAST_BYTE_LIMIT;
    return limits;
}

}  // namespace tessaril::utf8_detail
