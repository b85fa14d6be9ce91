#include "cipher/decimal_key.h"

#include <cstddef>
#include <cstdint>

namespace tessaril {
namespace {

using Word = std::uint64_t;
using Wide = unsigned __int128;

// 1 when |c| is an ASCII digit, else 0, by arithmetic: c - '0' is neither
// negative nor 10 or more.
constexpr Word is_digit(unsigned char c) noexcept
{
    const std::int32_t offset = static_cast<std::int32_t>(c) - '0';
    return ((static_cast<std::uint32_t>(offset) >> 31) ^ 1u) & (static_cast<std::uint32_t>(offset - 10) >> 31);
}

// 1 when |c| equals |wanted|, else 0.
constexpr Word is_byte(unsigned char c, unsigned char wanted) noexcept
{
    return (static_cast<std::uint32_t>(c ^ wanted) - 1u) >> 31;
}

// 1 when |word| is not zero, else 0.
constexpr Word is_nonzero(Word word) noexcept
{
    return (word | (Word{0} - word)) >> 63;
}

}  // namespace

Result<KeyValue> parse_decimal_key(std::string_view text) noexcept
{
    // The value as two 64-bit halves; every step multiplies by ten and adds
    // the digit, and whatever would carry out of 128 bits is OR-ed into
    // |overflow|. A '+' in first place is taken as the digit 0, which
    // leaves the value as it was (zero) there.
    Word low = 0, high = 0, overflow = 0;
    Word valid = 1;
    Word leading_plus = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const Word digit = is_digit(c);
        const Word plus = is_byte(c, '+') & static_cast<Word>(i == 0);
        valid &= digit | plus;
        leading_plus |= plus;
        const Word value = (c - Word{'0'}) & (Word{0} - digit);  // 0 unless a digit
        const Wide low_times_ten = Wide{low} * 10 + value;
        const Wide high_times_ten = Wide{high} * 10 + static_cast<Word>(low_times_ten >> 64);
        low = static_cast<Word>(low_times_ten);
        high = static_cast<Word>(high_times_ten);
        overflow |= static_cast<Word>(high_times_ten >> 64);
    }
    // At least one digit: the text is longer than its optional '+'.
    const Word has_digit = is_nonzero(text.size() - leading_plus);
    const Word accepted = valid & has_digit & (is_nonzero(overflow) ^ 1);
    if (accepted == 0) return std::unexpected(ErrorKind::InvalidKeyEnv);
    return (static_cast<KeyValue>(high) << 64) | low;
}

}  // namespace tessaril
