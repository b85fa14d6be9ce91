#include "codec/base64url.h"

#include <cstring>

#include "codec/base64url_kernels.h"
#include "codec/base64url_word.h"
#include "codec/kernel_list.h"

#ifdef TESSARILS_BASE64URL_X86
#include "processor/x86_targets.h"
#endif
#ifdef TESSARILS_BASE64URL_NEON
#include "processor/arm_features.h"
#endif

namespace tessaril {
namespace {

// All mapping is arithmetic on the value: no table indexed by data and no
// branch on it, so the timing of encoding or decoding reveals nothing of
// the bytes. Masks are all ones when a condition holds, zero otherwise.

// All ones when a > b, for 0 <= a, b < 2^16.
constexpr std::int32_t gt_mask(std::int32_t a, std::int32_t b) noexcept
{
    return (b - a) >> 31;
}

// All ones when lo <= c <= hi.
constexpr std::int32_t range_mask(std::int32_t c, std::int32_t lo, std::int32_t hi) noexcept
{
    return ((lo - 1 - c) & (c - hi - 1)) >> 31;
}

constexpr char encode_sextet(std::uint32_t value) noexcept
{
    const auto x = static_cast<std::int32_t>(value & 63);
    std::int32_t c = x + 'A';
    c += gt_mask(x, 25) & ('a' - 26 - 'A');
    c += gt_mask(x, 51) & (('0' - 52) - ('a' - 26));
    c += gt_mask(x, 61) & (('-' - 62) - ('0' - 52));
    c += gt_mask(x, 62) & (('_' - 63) - ('-' - 62));
    return static_cast<char>(c);
}

// Returns the 6-bit value of |ch|; clears |valid| (all ones) for a character
// outside the alphabet.
constexpr std::uint32_t decode_sextet(char ch, std::int32_t& valid) noexcept
{
    const std::int32_t c = static_cast<unsigned char>(ch);
    const std::int32_t upper = range_mask(c, 'A', 'Z');
    const std::int32_t lower = range_mask(c, 'a', 'z');
    const std::int32_t digit = range_mask(c, '0', '9');
    const std::int32_t dash = range_mask(c, '-', '-');
    const std::int32_t underscore = range_mask(c, '_', '_');
    valid &= upper | lower | digit | dash | underscore;
    return static_cast<std::uint32_t>((upper & (c - 'A')) | (lower & (c - 'a' + 26)) | (digit & (c - '0' + 52)) |
                                      (dash & 62) | (underscore & 63));
}

void encode_groups_scalar(const std::uint8_t* in, std::size_t groups, char* out) noexcept
{
    for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
        const std::uint32_t w = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        out[0] = encode_sextet(w >> 18);
        out[1] = encode_sextet(w >> 12);
        out[2] = encode_sextet(w >> 6);
        out[3] = encode_sextet(w);
    }
}

void decode_quanta_scalar(const char* in, std::size_t quanta, std::uint8_t* out, std::uint32_t& invalid) noexcept
{
    std::int32_t valid = -1;
    for (std::size_t q = 0; q < quanta; ++q, in += 4, out += 3) {
        const std::uint32_t w = (decode_sextet(in[0], valid) << 18) | (decode_sextet(in[1], valid) << 12) |
                                (decode_sextet(in[2], valid) << 6) | decode_sextet(in[3], valid);
        out[0] = static_cast<std::uint8_t>(w >> 16);
        out[1] = static_cast<std::uint8_t>(w >> 8);
        out[2] = static_cast<std::uint8_t>(w);
    }
    invalid |= ~static_cast<std::uint32_t>(valid);
}

}  // namespace

namespace base64url_detail {

void encode_tail(const std::uint8_t* in, std::size_t rest, char* out) noexcept
{
    using namespace word;
    const std::uint64_t bits = (std::uint64_t{in[0]} << 40) | (rest == 2 ? std::uint64_t{in[1]} << 32 : 0);
    // '=' where the padding sits, which the length fixes.
    const std::uint64_t padding = rest == 2 ? 0xFF000000 : 0xFFFF0000;
    const std::uint64_t chars = (encode_word(bits) & ~padding) | ('=' * ONES & padding);
    const std::uint64_t in_order = from_memory_order(chars);
    std::memcpy(out, &in_order, 4);
}

std::uint32_t decode_padded_quantum(const char* in, std::size_t padding, std::uint8_t* out) noexcept
{
    // Decoded with its '=' read as 'A' (sextet 0) and the rest of the word
    // filled out with 'A'. Any '=' left among its data characters fails the
    // alphabet test.
    using namespace word;
    std::uint64_t chars = 0;
    std::memcpy(&chars, in, 4);
    const std::uint64_t padded = padding == 1 ? 0xFF000000 : 0xFFFF0000;
    chars = (from_memory_order(chars) & ~padded) | ('A' * ONES & (padded | ~std::uint64_t{0xFFFFFFFF}));
    std::uint64_t bad = 0;
    const std::uint64_t bits = decode_word(chars, bad);
    out[0] = static_cast<std::uint8_t>(bits >> 40);
    if (padding == 1) out[1] = static_cast<std::uint8_t>(bits >> 32);
    // Canonical form: the bits the padding stands for are zero, which
    // rejects stray low bits (QR== for QQ==).
    bad |= bits & (padding == 1 ? 0xFF000000 : 0xFFFF000000);
    return static_cast<std::uint32_t>(bad | bad >> 32);
}

const Kernel SCALAR_KERNEL = {"scalar", encode_by_groups<encode_groups_scalar>, decode_by_quanta<decode_quanta_scalar>};

codec::KernelRegistry<Kernel>& kernel_registry(const Kernel*) noexcept
{
    // Every kernel this build carries; the highest priority this processor
    // runs is used.
    static constexpr auto ENTRIES = std::to_array<codec::KernelEntry<Kernel>>({
        {&SCALAR_KERNEL, 0, codec::runs_anywhere},
        {&SWAR_KERNEL, 10, codec::runs_anywhere},
#ifdef TESSARILS_BASE64URL_X86
        {&AVX2_KERNEL, 30, x86::runs_avx2},
        {&AVX512_KERNEL, 40, x86::runs_avx512},
#endif
#ifdef TESSARILS_BASE64URL_NEON
        {&NEON_KERNEL, 20, arm::runs_neon},
#endif
    });
    static_assert(codec::distinct_priorities(ENTRIES));
    static codec::KernelRegistry<Kernel> registry(ENTRIES);
    return registry;
}

void encode_into_with(const Kernel& kernel, std::span<const std::uint8_t> in, char* out) noexcept
{
    kernel.encode(in.data(), in.size(), out);
}

std::optional<Buffer> decode_with(const Kernel& kernel, std::string_view field)
{
    const std::size_t len = field.size();
    if (len % 4 != 0) return std::nullopt;
    if (len == 0) return Buffer();

    // Where padding sits is fixed by the decoded length, which is public.
    const std::size_t padding = field[len - 1] != '=' ? 0 : field[len - 2] == '=' ? 2 : 1;
    const std::size_t decoded_size = len / 4 * 3 - padding;
    Buffer out = Buffer::uninitialized(decoded_size);
    if (kernel.decode(field.data(), len, out.data(), decoded_size) != 0) return std::nullopt;
    return out;
}

}  // namespace base64url_detail

void base64url_encode_into(std::span<const std::uint8_t> in, char* out) noexcept
{
    base64url_detail::encode_into_with(base64url_detail::active_kernel(), in, out);
}

std::string base64url_encode(std::span<const std::uint8_t> in)
{
    std::string out;
    out.resize_and_overwrite(base64url_encoded_size(in.size()), [&](char* buf, std::size_t n) {
        base64url_encode_into(in, buf);
        return n;
    });
    return out;
}

void base64url_encode_joined(std::span<const std::span<const std::uint8_t>> fields, char separator,
                             char* out) noexcept
{
    const base64url_detail::Kernel& kernel = base64url_detail::active_kernel();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) *out++ = separator;
        kernel.encode(fields[i].data(), fields[i].size(), out);
        out += base64url_encoded_size(fields[i].size());
    }
}

std::optional<Buffer> base64url_decode(std::string_view field)
{
    return base64url_detail::decode_with(base64url_detail::active_kernel(), field);
}

}  // namespace tessaril
