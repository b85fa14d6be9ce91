// The bulk loops of the base64url codec, one kernel per instruction set,
// chosen once per process. Every kernel maps by arithmetic only (compares, masks and
// adds; shuffles move bytes by fixed positions, never by data), so all of
// them give identical output and identical accept/refuse decisions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/buffer.h"

namespace tessaril::base64url_detail {

struct Kernel {
    const char* name;

    // Encodes whole 3-byte groups from the start of |in| (|groups| of them
    // available) into 4 characters each; returns how many it did. It may stop
    // early and leave the rest to the portable loop.
    std::size_t (*encode)(const std::uint8_t* in, std::size_t groups, char* out) noexcept;

    // Decodes whole unpadded 4-character quanta from |in| (|quanta| available)
    // into 3 bytes each; returns how many it did. Any character outside the
    // alphabet sets bits in |invalid|; nothing branches on the characters.
    std::size_t (*decode)(const char* in, std::size_t quanta, std::uint8_t* out, std::uint32_t& invalid) noexcept;

    // Fields with fewer whole groups (or quanta) than |short_below| go
    // through |short_path| instead: shorter than the vector block loop
    // takes, where its set-up costs more than the work. The choice follows
    // the length, which is public.
    std::size_t short_below;
    const Kernel* short_path;
};

// The portable loops, which every processor runs: one character at a time,
// the reference the others are held to, and eight at a time in a 64-bit
// word.
extern const Kernel SCALAR_KERNEL;
extern const Kernel SWAR_KERNEL;

// Every kernel this build carries and this processor runs, the portable one
// first and the fastest last.
[[nodiscard]] std::span<const Kernel* const> available_kernels() noexcept;

// The kernel the public functions use: the fastest available, fixed at first use.
[[nodiscard]] const Kernel& active_kernel() noexcept;

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
extern const Kernel AVX2_SHORT_KERNEL;
extern const Kernel AVX2_KERNEL;
extern const Kernel AVX512_KERNEL;
#endif

#if defined(__aarch64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARILS_BASE64URL_NEON 1
extern const Kernel NEON_KERNEL;
#endif

}  // namespace tessaril::base64url_detail
