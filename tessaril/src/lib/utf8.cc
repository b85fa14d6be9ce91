#include "lib/utf8.h"

#include "lib/utf8_kernels.h"
#include "lib/utf8_rules.h"

namespace tessaril {
namespace utf8_detail {
namespace {

// A nibble table held in two 64-bit words, so that a lookup is a shift of a
// register by the nibble, never a load from an address that depends on it.
struct PackedTable {
    std::uint64_t low;   // entries 0..7
    std::uint64_t high;  // entries 8..15
};

constexpr PackedTable pack(const NibbleTable& table) noexcept
{
    PackedTable packed{0, 0};
    for (unsigned i = 0; i < 8; ++i) {
        packed.low |= std::uint64_t{table[i]} << (8 * i);
        packed.high |= std::uint64_t{table[i + 8]} << (8 * i);
    }
    return packed;
}

constexpr PackedTable PACKED_FIRST_HIGH = pack(FIRST_HIGH);
constexpr PackedTable PACKED_FIRST_LOW = pack(FIRST_LOW);
constexpr PackedTable PACKED_SECOND_HIGH = pack(SECOND_HIGH);

constexpr std::uint32_t lookup(const PackedTable& table, std::uint32_t nibble) noexcept
{
    const std::uint64_t upper_half = 0 - std::uint64_t{nibble >> 3};  // all ones for entries 8..15
    const std::uint64_t word = table.low ^ ((table.low ^ table.high) & upper_half);
    return static_cast<std::uint32_t>(word >> (8 * (nibble & 7))) & 0xFF;
}

// Top bit set when |byte| >= bias + 0x80, as the saturating subtract of the
// vector kernels (for byte < 0x100 and bias < 0x80).
constexpr std::uint32_t at_least(std::uint32_t byte, std::uint32_t bias) noexcept
{
    return ((byte + (0x80 - bias)) >> 1) & 0x80;
}

bool is_valid_scalar(const std::uint8_t* data, std::size_t size) noexcept
{
    // The three bytes before the current one; zeros (ASCII) before the text.
    std::uint32_t prev1 = 0, prev2 = 0, prev3 = 0;
    std::uint32_t error = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t byte = data[i];
        const std::uint32_t pair_faults = lookup(PACKED_FIRST_HIGH, prev1 >> 4) &
                                          lookup(PACKED_FIRST_LOW, prev1 & 15) &
                                          lookup(PACKED_SECOND_HIGH, byte >> 4);
        const std::uint32_t continuation_due = at_least(prev2, THIRD_BYTE_BIAS) | at_least(prev3, FOURTH_BYTE_BIAS);
        error |= pair_faults ^ continuation_due;
        prev3 = prev2;
        prev2 = prev1;
        prev1 = byte;
    }
    // The text must not end inside a sequence.
    error |= at_least(prev1, LAST_BYTE_LIMIT + 1 - 0x80) | at_least(prev2, SECOND_LAST_LIMIT + 1 - 0x80) |
             at_least(prev3, THIRD_LAST_LIMIT + 1 - 0x80);
    return error == 0;
}

}  // namespace

const Kernel SCALAR_KERNEL = {"scalar", is_valid_scalar};

std::span<const Kernel* const> available_kernels() noexcept
{
    // Settled once per process from what the processor reports; read-only after.
    static const auto kernels = [] {
        struct List {
            const Kernel* kernels[3];
            std::size_t count;
        } list{{&SCALAR_KERNEL}, 1};
#ifdef TESSARILS_UTF8_X86
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) list.kernels[list.count++] = &AVX2_KERNEL;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
            __builtin_cpu_supports("avx512bw")) {
            list.kernels[list.count++] = &AVX512_KERNEL;
        }
#endif
        return list;
    }();
    return {kernels.kernels, kernels.count};
}

const Kernel& active_kernel() noexcept
{
    static const Kernel& active = *available_kernels().back();
    return active;
}

std::optional<Utf8Fault> walk_to_first_fault(std::span<const std::uint8_t> bytes) noexcept
{
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Sequence length and the allowed range of the second byte (Unicode
        // table 3-7); later bytes are always 80..BF.
        std::size_t need;
        std::uint8_t lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 3;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 4;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            return Utf8Fault{i, 1};
        }
        // Walk the maximal subpart: the longest prefix of a valid sequence.
        for (std::size_t k = 1; k < need; ++k) {
            if (i + k >= n) return Utf8Fault{i, 0};
            const std::uint8_t c = s[i + k];
            const bool ok = (k == 1) ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
            if (!ok) return Utf8Fault{i, k};
        }
        i += need;
    }
    return std::nullopt;
}

}  // namespace utf8_detail

bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept
{
    return utf8_detail::active_kernel().is_valid(bytes.data(), bytes.size());
}

std::optional<Utf8Fault> find_utf8_fault(std::span<const std::uint8_t> bytes) noexcept
{
    if (is_valid_utf8(bytes)) return std::nullopt;
    return utf8_detail::walk_to_first_fault(bytes);
}

}  // namespace tessaril
