// The word-at-a-time loops of the base64url codec: eight characters in one
// 64-bit word (base64url_word.h). Every processor runs them; where there is
// no vector kernel they are the fastest, several times the one-character
// loop on fields of any length.
#include <bit>
#include <cstring>

#include "codec/base64url_kernels.h"
#include "codec/base64url_word.h"

namespace tessaril::base64url_detail {
namespace {

using namespace word;

void encode_swar(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    std::size_t g = 0;
    for (; groups - g >= 2; g += 2, in += 6, out += 8) {
        std::uint64_t bits = 0;  // the two bytes past the group stay zero
        std::memcpy(&bits, in, 6);
        bits = std::byteswap(from_memory_order(bits)) >> 16;
        const std::uint64_t chars = from_memory_order(encode_word(bits));
        std::memcpy(out, &chars, 8);
    }
    if (g != groups) {
        const std::uint64_t bits = (std::uint64_t{in[0]} << 40) | (std::uint64_t{in[1]} << 32) |
                                   (std::uint64_t{in[2]} << 24);
        const std::uint64_t chars = from_memory_order(encode_word(bits));
        std::memcpy(out, &chars, 4);
    }
}

void decode_swar(const char* in, std::size_t quanta, std::uint8_t* out, std::uint32_t& invalid) noexcept
{
    std::uint64_t bad = 0;
    std::size_t q = 0;
    for (; quanta - q >= 2; q += 2, in += 8, out += 6) {
        std::uint64_t chars;
        std::memcpy(&chars, in, 8);
        const std::uint64_t bytes = from_memory_order(std::byteswap(decode_word(from_memory_order(chars), bad) << 16));
        std::memcpy(out, &bytes, 6);
    }
    if (q != quanta) {
        // The last quantum, filled out with 'A', which is in the alphabet.
        std::uint64_t chars = 0;
        std::memcpy(&chars, in, 4);
        const std::uint64_t bits = decode_word(from_memory_order(chars) | 'A' * (ONES << 32), bad);
        out[0] = static_cast<std::uint8_t>(bits >> 40);
        out[1] = static_cast<std::uint8_t>(bits >> 32);
        out[2] = static_cast<std::uint8_t>(bits >> 24);
    }
    invalid |= static_cast<std::uint32_t>(bad | bad >> 32);
}

}  // namespace

const Kernel SWAR_KERNEL = {"swar", encode_by_groups<encode_swar>, decode_by_quanta<decode_swar>};

}  // namespace tessaril::base64url_detail
