// Deliberately plain reference models for the fuzz oracles: table lookups,
// early exits and code-point arithmetic, written straight from the format
// rules and sharing no code with the engine. Speed and timing do not matter
// here; being obviously right does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril::fuzzing {

using Bytes = std::vector<std::uint8_t>;

// Fails the run with a message; libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "oracle violated: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(condition, what)                  \
    do {                                             \
        if (!(condition)) ::tessaril::fuzzing::fail(what); \
    } while (0)

inline constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

inline int sextet_of(char c)
{
    const std::size_t at = kAlphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

inline std::string ref_b64_encode(std::span<const std::uint8_t> in)
{
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = in.size() - i < 3 ? in.size() - i : 3;
        std::uint32_t w = 0;
        for (std::size_t k = 0; k < 3; ++k) w = w << 8 | (k < n ? in[i + k] : 0u);
        for (std::size_t k = 0; k < 4; ++k) out.push_back(k <= n ? kAlphabet[(w >> (18 - 6 * k)) & 63] : '=');
    }
    return out;
}

// Why a field is refused. Every refusal has exactly one first reason.
enum class B64Reject { None, Length, PaddingPlace, Alphabet, StrayBits };

struct B64Verdict {
    B64Reject reject = B64Reject::None;
    Bytes bytes;  // when accepted
};

inline B64Verdict ref_b64_decode(std::string_view field)
{
    B64Verdict v;
    if (field.size() % 4 != 0) {
        v.reject = B64Reject::Length;
        return v;
    }
    std::size_t padding = 0;
    if (field.size() >= 2 && field.ends_with("==")) {
        padding = 2;
    } else if (field.ends_with("=")) {
        padding = 1;
    }
    const std::string_view data = field.substr(0, field.size() - padding);
    for (char c : data) {
        if (c == '=') {
            v.reject = B64Reject::PaddingPlace;
            return v;
        }
    }
    for (char c : data) {
        if (sextet_of(c) < 0) {
            v.reject = B64Reject::Alphabet;
            return v;
        }
    }
    // Accumulate bits; whatever is left over after the last whole byte must be zero.
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : data) {
        acc = (acc << 6) | static_cast<std::uint32_t>(sextet_of(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            v.bytes.push_back(static_cast<std::uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    if (acc != 0) {
        v.reject = B64Reject::StrayBits;
        v.bytes.clear();
    }
    return v;
}

// Well-formed UTF-8 by decoding code points: shortest form, no surrogates,
// nothing above U+10FFFF.
inline bool ref_utf8_valid(std::span<const std::uint8_t> s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const std::uint8_t b = s[i];
        std::size_t n;
        std::uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        const std::uint32_t smallest = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
        if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

struct RefContext {
    std::uint64_t expires_at = 0;
    std::string purpose;
};

// The record layout: version 1, 8-byte big-endian expiry, purpose length,
// purpose; nothing more, nothing less.
inline std::optional<RefContext> ref_parse_context(std::span<const std::uint8_t> r)
{
    if (r.size() < 10 || r[0] != 1) return std::nullopt;
    const std::size_t len = r[9];
    if (r.size() != 10 + len) return std::nullopt;
    if (!ref_utf8_valid(r.subspan(10))) return std::nullopt;
    RefContext c;
    for (std::size_t i = 1; i <= 8; ++i) c.expires_at = c.expires_at * 256 + r[i];
    c.purpose.assign(reinterpret_cast<const char*>(r.data() + 10), len);
    return c;
}

inline bool ref_expired(std::uint64_t expires_at, std::uint64_t now)
{
    return expires_at != 0 && now >= expires_at;
}

// How the token text splits and decodes, before any key is involved.
enum class ShapeVerdict { Ok, TooLong, TooFewFields, BadBase64, BadNonceSize };

struct RefShape {
    ShapeVerdict verdict = ShapeVerdict::Ok;
    Bytes nonce, context, ciphertext;
};

inline RefShape ref_token_shape(std::string_view token, std::size_t nonce_bytes)
{
    RefShape s;
    if (token.size() > 32768) {
        s.verdict = ShapeVerdict::TooLong;
        return s;
    }
    const std::size_t a = token.find('.');
    const std::size_t b = a == std::string_view::npos ? a : token.find('.', a + 1);
    if (b == std::string_view::npos) {
        s.verdict = ShapeVerdict::TooFewFields;
        return s;
    }
    const std::string_view fields[3] = {token.substr(0, a), token.substr(a + 1, b - a - 1), token.substr(b + 1)};
    Bytes* outs[3] = {&s.nonce, &s.context, &s.ciphertext};
    for (int i = 0; i < 3; ++i) {
        B64Verdict v = ref_b64_decode(fields[i]);
        if (v.reject != B64Reject::None) {
            s.verdict = ShapeVerdict::BadBase64;
            return s;
        }
        *outs[i] = std::move(v.bytes);
    }
    if (s.nonce.size() != nonce_bytes) s.verdict = ShapeVerdict::BadNonceSize;
    return s;
}

}  // namespace tessaril::fuzzing
