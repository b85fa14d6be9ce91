// The kernels of the base64url codec, one per instruction set, each taking
// whole fields; chosen once per process. Every kernel maps by arithmetic
// only (compares, masks and adds; shuffles move bytes by fixed positions,
// never by data), so all of them give identical output and identical
// accept/refuse decisions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "codec/kernel_list.h"
#include "core/buffer.h"

namespace tessaril::base64url_detail {

struct Kernel {
    const char* name;

    // Writes the base64url_encoded_size(size) characters of the |size| bytes
    // at |in|, padding included.
    void (*encode)(const std::uint8_t* in, std::size_t size, char* out) noexcept;

    // Decodes the |chars| characters at |in| (a non-zero multiple of 4) into
    // the |size| bytes at |out|. |size| says how many of the last characters
    // are padding: the caller found '=' there, and the kernel reads them as
    // 'A'. Returns non-zero when any other character is outside the alphabet
    // ('=' included) or the bits the padding stands for are not zero; nothing
    // branches on the characters.
    std::uint32_t (*decode)(const char* in, std::size_t chars, std::uint8_t* out, std::size_t size) noexcept;
};

// The loops of a kernel that works in whole 3-byte groups and 4-character
// quanta: all |groups| (or |quanta|) at |in|, 4 characters (or 3 bytes) each.
// Decoding sets bits in |invalid| for any character outside the alphabet.
using EncodeGroups = void (*)(const std::uint8_t* in, std::size_t groups, char* out) noexcept;
using DecodeQuanta = void (*)(const char* in, std::size_t quanta, std::uint8_t* out, std::uint32_t& invalid) noexcept;

// The last one or two bytes of a field, |rest| of them, and their padding:
// 4 characters.
void encode_tail(const std::uint8_t* in, std::size_t rest, char* out) noexcept;

// The padded last quantum, "xx==" (|padding| 2) or "xxx=" (1), to its 1 or 2
// bytes; non-zero for a character outside the alphabet or a set bit that
// the padding stands for.
[[nodiscard]] std::uint32_t decode_padded_quantum(const char* in, std::size_t padding, std::uint8_t* out) noexcept;

// A whole-field encode and decode from the loops of a group kernel.
template <EncodeGroups encode_groups>
void encode_by_groups(const std::uint8_t* in, std::size_t size, char* out) noexcept
{
    const std::size_t groups = size / 3;
    encode_groups(in, groups, out);
    if (const std::size_t rest = size % 3; rest != 0) encode_tail(in + 3 * groups, rest, out + 4 * groups);
}

template <DecodeQuanta decode_quanta>
std::uint32_t decode_by_quanta(const char* in, std::size_t chars, std::uint8_t* out, std::size_t size) noexcept
{
    const std::size_t padding = chars / 4 * 3 - size;
    const std::size_t full = chars / 4 - (padding != 0 ? 1 : 0);
    std::uint32_t invalid = 0;
    decode_quanta(in, full, out, invalid);
    if (padding != 0) invalid |= decode_padded_quantum(in + 4 * full, padding, out + 3 * full);
    return invalid;
}

// The portable kernels, which every processor runs: one character at a
// time, the reference the others are held to, and eight at a time in a
// 64-bit word.
extern const Kernel SCALAR_KERNEL;
extern const Kernel SWAR_KERNEL;

// This codec's kernels (codec/kernel_list.h): every one this build carries
// with its priority, built into a registry at first use.
[[nodiscard]] codec::KernelRegistry<Kernel>& kernel_registry(const Kernel*) noexcept;

// The kernels this processor runs, lowest priority (the portable one) first;
// the highest-priority one; the one the public functions use, which is that one unless
// the engine's test support made another active (testing/forced_kernels.h).
inline constexpr auto& available_kernels = codec::Kernels<Kernel>::available;
inline constexpr auto& best_kernel = codec::Kernels<Kernel>::best;
inline constexpr auto& active_kernel = codec::Kernels<Kernel>::active;
inline constexpr auto& make_active_kernel = codec::Kernels<Kernel>::make_active;

// base64url_encode_into and base64url_decode with an explicit kernel, so
// that tests and benchmarks can hold the kernels against each other.
void encode_into_with(const Kernel& kernel, std::span<const std::uint8_t> in, char* out) noexcept;
[[nodiscard]] std::optional<Buffer> decode_with(const Kernel& kernel, std::string_view field);

// Offsets from a sextet to its character, for the vector loops: the first of
// each run below is added to every value, the others where the value passes
// the run's start.
constexpr int UPPER_OFFSET = 'A';                         // 0..25  -> A..Z
constexpr int LOWER_STEP = ('a' - 26) - 'A';              // 26..51 -> a..z
constexpr int DIGIT_STEP = ('0' - 52) - ('a' - 26);       // 52..61 -> 0..9
constexpr int DASH_STEP = ('-' - 62) - ('0' - 52);        // 62     -> -
constexpr int UNDERSCORE_STEP = ('_' - 63) - ('-' - 62);  // 63     -> _

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARILS_BASE64URL_X86 1
extern const Kernel AVX2_KERNEL;
extern const Kernel AVX512_KERNEL;
#endif

#if defined(__aarch64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARILS_BASE64URL_NEON 1
extern const Kernel NEON_KERNEL;
#endif

}  // namespace tessaril::base64url_detail
