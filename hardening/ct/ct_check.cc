// Constant-time check of the engine's own secret-handling code, run under
// valgrind memcheck. Secret inputs are marked undefined with memcheck's
// client requests; memcheck then reports every conditional branch and every
// memory address computed from them. Each probe runs one routine on secret
// data and counts the reports it caused.
//
//   valgrind --tool=memcheck ./ct_check          (scripts/stage-ct does this)
//
// Probes marked "must flag" are deliberately leaky controls: if memcheck
// does not report them, the check is blind and fails.
//
// What this cannot reach: valgrind does not run AVX-512, and its virtual
// processor reports none, so the AVX-512 kernels of the base64url codec and
// of UTF-8 validation are not in available_kernels() here and get no probe.
// What they take of a short token, though (base64url fields of up to 24
// bytes, texts under 32), they hand to the AVX2 code probed here.
// The engine tests (ctest --preset dev) and the fuzz stage (scripts/stage-fuzz)
// hold them to the portable kernels on processors that have AVX-512; their
// code maps with the same masks and fixed shuffles as the AVX2 kernels probed
// here. scripts/check-code-paths fails the test run if a processor that
// reports AVX-512 does not use them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <valgrind/memcheck.h>

#include "cipher/aead.h"
#include "codec/base64url.h"
#include "codec/base64url_kernels.h"
#include "core/buffer.h"
#include "cipher/cipher_state.h"
#include "cipher/decimal_key.h"
#include "core/secret.h"
#include "codec/utf8.h"
#include "codec/utf8_kernels.h"
#include "testing/forced_kernels.h"
#include "testing/bytes.h"

namespace {

using namespace tessaril;

template <class T>
void secret(T* p, std::size_t n)
{
    (void)VALGRIND_MAKE_MEM_UNDEFINED(p, n * sizeof(T));
}

template <class T>
void declassify(T* p, std::size_t n)
{
    (void)VALGRIND_MAKE_MEM_DEFINED(p, n * sizeof(T));
}

std::mt19937_64 rng(7);

std::vector<std::uint8_t> random_bytes(std::size_t n)
{
    return tessaril::testing::random_bytes(rng, n);
}

// Lengths that reach every tail case and the wide kernels' block sizes. All
// of 0..100 bytes covers every length the short paths take: the AVX2
// base64url kernel's masked rounds, which take the whole of a field under 33
// bytes and the last groups and padding of every longer one, the
// word-at-a-time kernel's odd group, the padded last quantum the group
// kernels share, and the AVX2 UTF-8 kernel's texts under its 32-byte block,
// checked in registers.
std::vector<std::size_t> lengths()
{
    std::vector<std::size_t> n;
    for (std::size_t i = 0; i <= 100; ++i) n.push_back(i);
    for (std::size_t i : {191u, 192u, 193u, 255u, 256u, 257u, 383u, 384u, 385u, 1000u, 4096u, 16400u}) n.push_back(i);
    return n;
}

// Every probe returns the number of reports it expects memcheck to make
// (nullopt when its result was wrong); a control expects "at least one".
using Expectation = std::optional<unsigned>;
constexpr unsigned AT_LEAST_ONE = ~0u;

// ---- controls: each must be flagged ---------------------------------------

// An early-exit comparison, the classic timing leak.
[[gnu::noinline]] bool control_branchy_compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// A lookup table indexed by the secret, the classic cache leak.
[[gnu::noinline]] char control_table_lookup(std::uint8_t v)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    return table[v & 63];
}

Expectation probe_control_branch()
{
    auto a = random_bytes(32), b = a;
    secret(a.data(), a.size());
    bool same = control_branchy_compare(a.data(), b.data(), a.size());
    declassify(&same, 1);
    return same ? Expectation(AT_LEAST_ONE) : std::nullopt;
}

Expectation probe_control_lookup()
{
    auto a = random_bytes(32);
    secret(a.data(), a.size());
    char out[32];
    for (std::size_t i = 0; i < 32; ++i) out[i] = control_table_lookup(a[i]);
    declassify(out, 32);
    return AT_LEAST_ONE;
}

// Decimal key text parsed the plain way: it stops at the first non-digit
// and tests each step for overflow, so its path follows the key's digits.
[[gnu::noinline]] Result<KeyValue> control_branchy_decimal(std::string_view text)
{
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::unexpected(ErrorKind::InvalidKeyEnv);
    KeyValue value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::unexpected(ErrorKind::InvalidKeyEnv);
        if (__builtin_mul_overflow(value, KeyValue{10}, &value)) return std::unexpected(ErrorKind::InvalidKeyEnv);
        if (__builtin_add_overflow(value, static_cast<KeyValue>(c - '0'), &value)) {
            return std::unexpected(ErrorKind::InvalidKeyEnv);
        }
    }
    return value;
}

std::string decimal(KeyValue value)
{
    std::string text;
    do {
        text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return text;
}

// Key texts of every kind: random keys of every width, with a '+' and
// leading zeros, the largest key and the smallest too large, and texts
// that break the rules at the start, the middle and the end.
std::vector<std::string> key_texts()
{
    const KeyValue largest = ~KeyValue{0};
    std::vector<std::string> texts = {
        "0", "+0", "7", "+", "++1", "-1", " 1", "1 ", "1/", ":1", "0x2A", decimal(largest),
        "+" + decimal(largest), std::string(60, '0') + decimal(largest), "340282366920938463463374607431768211456",
        decimal(largest) + "0", std::string(45, '9'),
    };
    for (unsigned bits = 1; bits <= 128; bits += 9) {
        const KeyValue key = ((KeyValue{rng()} << 64) | rng()) >> (128 - bits);
        texts.push_back(decimal(key));
        texts.push_back("+" + decimal(key));
        texts.push_back("00" + decimal(key));
        std::string broken = decimal(key);
        broken[broken.size() / 2] = static_cast<char>("/:a+"[bits % 4]);
        texts.push_back(broken);
    }
    return texts;
}

// Parses secret key texts, checked against the plain parse run on the same
// text in public. The one thing the parse may reveal is its verdict: one
// reported branch per call with secret text. A branch on a digit, an early
// exit or an overflow test would add reports.
template <class Parse>
Expectation parse_secret_key_text(Parse parse)
{
    unsigned verdicts = 0;
    for (std::string text : key_texts()) {
        const Result<KeyValue> expected = control_branchy_decimal(text);
        secret(text.data(), text.size());
        Result<KeyValue> got = parse(std::string_view(text));
        declassify(&got, 1);
        ++verdicts;
        if (got != expected) {
            std::fprintf(stderr, "decimal key parse of a %zu-character secret text is wrong\n", text.size());
            return std::nullopt;
        }
    }
    return verdicts;
}

Expectation probe_control_decimal()
{
    const Expectation verdicts = parse_secret_key_text(control_branchy_decimal);
    return verdicts ? Expectation(AT_LEAST_ONE) : std::nullopt;
}

// ---- the engine's routines ------------------------------------------------

template <class Encode>
Expectation encode_secret_bytes(Encode encode)
{
    for (std::size_t n : lengths()) {
        auto bytes = random_bytes(n);
        const std::string expected = base64url_encode(bytes);  // public run, for the result check
        std::string out(base64url_encoded_size(n), '\0');
        secret(bytes.data(), n);
        encode(bytes, out.data());
        declassify(out.data(), out.size());
        if (out != expected) {
            std::fprintf(stderr, "encoding of %zu secret bytes is wrong\n", n);
            return std::nullopt;
        }
    }
    return 0;
}

// Decodes valid text whose characters are secret, except those the decoder
// must look at to find the padding: the last character, and the one before
// it when the last is "=". For valid text what they show (where "=" sits)
// follows from the field's length, which is public. The one thing decoding
// may then reveal is its verdict, valid or not: exactly one reported branch
// per call. A mapping that branched or looked up a table per character, or
// a check that stopped at the first bad one, would add reports.
template <class Decode>
Expectation decode_secret_text(Decode decode)
{
    unsigned verdicts = 0;
    for (std::size_t n : lengths()) {
        const auto bytes = random_bytes(n);
        std::string text = base64url_encode(bytes);
        const std::size_t len = text.size();
        const std::size_t kept_public = len == 0 ? 0 : text.back() != '=' ? 1 : 2;
        secret(text.data(), len - kept_public);
        std::optional<Buffer> got = decode(std::string_view(text));
        if (len > kept_public) ++verdicts;
        if (!got) {
            std::fprintf(stderr, "decoding of %zu secret bytes refused\n", n);
            return std::nullopt;
        }
        declassify(got->data(), got->size());
        if (!std::equal(got->data(), got->data() + got->size(), bytes.begin(), bytes.end())) {
            std::fprintf(stderr, "decoding of %zu secret bytes is wrong\n", n);
            return std::nullopt;
        }
    }
    return verdicts;
}

Expectation probe_encode()
{
    return encode_secret_bytes([](std::span<const std::uint8_t> in, char* out) { base64url_encode_into(in, out); });
}

Expectation probe_decode()
{
    return decode_secret_text([](std::string_view text) { return base64url_decode(text); });
}

Expectation probe_decimal_key()
{
    return parse_secret_key_text(parse_decimal_key);
}

Expectation probe_wipe()
{
    for (std::size_t n : {1u, 7u, 16u, 32u, 33u, 1000u}) {
        auto bytes = random_bytes(n);
        secret(bytes.data(), n);
        secure_wipe(bytes);
        // The wipe must have written every byte: zeros are defined data, and
        // an unwritten secret byte would be reported here.
        (void)VALGRIND_CHECK_MEM_IS_DEFINED(bytes.data(), n);
        if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; })) return std::nullopt;
    }
    return 0;
}

// Key derivation, cipher state construction (with the XChaCha20-Poly1305 key
// moved and wiped) and destruction, from a secret 128-bit key.
Expectation probe_cipher_state()
{
    for (Backend backend : Backends::ALL) {
        for (int round = 0; round < 4; ++round) {
            KeyValue key = (KeyValue{rng()} << 64) | rng();
            secret(&key, 1);
            (void)derive_aead_key(backend, key);
            CipherState state = CipherState::build(backend, key);
            CipherState moved(std::move(state));
            (void)moved.backend();
        }
    }
    return 0;
}

// Sealing: the key and the plaintext are secret; the ciphertext and tag are
// public once written. Sizes cover the short and the long path of each
// backend.
Expectation probe_seal()
{
    for (Backend backend : Backends::ALL) {
        KeyValue key = (KeyValue{rng()} << 64) | rng();
        secret(&key, 1);
        const CipherState state = CipherState::build(backend, key);
        for (std::size_t n : {0u, 1u, 16u, 100u, 1000u, 4096u, 16384u}) {
            auto plaintext = random_bytes(n);
            const auto nonce = random_bytes(nonce_size(backend));
            const auto aad = random_bytes(17);
            secret(plaintext.data(), n);
            Buffer sealed = aead_seal(state, nonce, aad, plaintext);
            declassify(sealed.data(), sealed.size());
        }
    }
    return 0;
}

// Text of every kind (ASCII, Latin accents, CJK, emoji) cut to |n| bytes,
// valid or not depending on where the cut falls, and, when |break_it|, with
// one byte in the middle turned into a stray continuation byte.
std::string sample_text(std::size_t n, bool break_it)
{
    std::string text;
    while (text.size() < n) text += "plain ASCII, gr\u00fc\u00dfe \u2014 \u6f22\u5b57 \U0001F600 ";
    text.resize(n);
    if (break_it && n != 0) text[n / 2] = '\x80';
    return text;
}

// UTF-8 validation of secret text: the opened plaintext before it is
// returned or refused. Every text, valid or not, at every length, must give
// the right verdict with no report at all: the verdict comes back as a value
// and the probe declassifies it, so any branch or address that followed the
// bytes inside the test would be reported.
template <class Validate>
Expectation validate_secret_text(Validate validate)
{
    for (std::size_t n : lengths()) {
        for (bool break_it : {false, true}) {
            std::string text = sample_text(n, break_it);
            const auto bytes = testing::as_bytes(text);
            const bool expected = !utf8_detail::walk_to_first_fault(bytes).has_value();  // public run
            secret(text.data(), text.size());
            bool valid = validate(bytes);
            declassify(&valid, 1);
            if (valid != expected) {
                std::fprintf(stderr, "UTF-8 verdict on %zu secret bytes is wrong\n", n);
                return std::nullopt;
            }
        }
    }
    return 0;
}

Expectation probe_utf8()
{
    return validate_secret_text([](std::span<const std::uint8_t> bytes) { return is_valid_utf8(bytes); });
}

struct Probe {
    std::string name;
    std::function<Expectation()> run;
};

std::vector<Probe> probes()
{
    std::vector<Probe> list = {
        {"control: early-exit comparison", probe_control_branch},
        {"control: table lookup", probe_control_lookup},
        {"control: decimal parse with early exits", probe_control_decimal},
        {"base64url_encode_into of secret bytes", probe_encode},
        {"base64url_decode of secret text", probe_decode},
        {"secure_wipe of secret bytes", probe_wipe},
        {"parse_decimal_key of secret key text", probe_decimal_key},
        {"key derivation and cipher state from a secret key", probe_cipher_state},
        {"aead_seal of a secret plaintext under a secret key", probe_seal},
        {"is_valid_utf8 of secret text", probe_utf8},
    };
    for (const base64url_detail::Kernel* kernel : base64url_detail::available_kernels()) {
        const std::string suffix = std::string(" (") + kernel->name + " kernel)";
        list.push_back({"encode of secret bytes" + suffix, [kernel] {
                            return encode_secret_bytes([kernel](std::span<const std::uint8_t> in, char* out) {
                                base64url_detail::encode_into_with(*kernel, in, out);
                            });
                        }});
        list.push_back({"decode of secret text" + suffix, [kernel] {
                            return decode_secret_text([kernel](std::string_view text) {
                                return base64url_detail::decode_with(*kernel, text);
                            });
                        }});
    }
    for (const utf8_detail::Kernel* kernel : utf8_detail::available_kernels()) {
        list.push_back({std::string("UTF-8 validation of secret text (") + kernel->name + " kernel)", [kernel] {
                            return validate_secret_text([kernel](std::span<const std::uint8_t> bytes) {
                                return kernel->is_valid(bytes.data(), bytes.size());
                            });
                        }});
    }
    // The public functions with every other kernel made active, as on a
    // processor that runs nothing wider.
    for (const base64url_detail::Kernel* kernel : base64url_detail::available_kernels()) {
        if (kernel == &base64url_detail::best_kernel()) continue;
        const std::string suffix = std::string(" (") + kernel->name + " kernel forced)";
        list.push_back({"base64url_encode_into of secret bytes" + suffix, [kernel] {
                            const testing::ForcedKernels forced(*kernel, utf8_detail::best_kernel());
                            return probe_encode();
                        }});
        list.push_back({"base64url_decode of secret text" + suffix, [kernel] {
                            const testing::ForcedKernels forced(*kernel, utf8_detail::best_kernel());
                            return probe_decode();
                        }});
    }
    for (const utf8_detail::Kernel* kernel : utf8_detail::available_kernels()) {
        if (kernel == &utf8_detail::best_kernel()) continue;
        list.push_back({std::string("is_valid_utf8 of secret text (") + kernel->name + " kernel forced)", [kernel] {
                            const testing::ForcedKernels forced(base64url_detail::best_kernel(), *kernel);
                            return probe_utf8();
                        }});
    }
    return list;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!RUNNING_ON_VALGRIND) {
        std::fprintf(stderr, "ct_check: run me under valgrind --tool=memcheck; outside it nothing is checked\n");
        return 2;
    }
    // With an argument, run only the probes whose names contain it.
    const std::string_view only = argc > 1 ? argv[1] : "";
    int failures = 0;
    unsigned in_probes = 0;
    const unsigned at_start = VALGRIND_COUNT_ERRORS;
    for (const Probe& probe : probes()) {
        if (!only.empty() && probe.name.find(only) == std::string::npos) continue;
        VALGRIND_PRINTF("ct-probe-begin %s\n", probe.name.c_str());
        const unsigned before = VALGRIND_COUNT_ERRORS;
        const Expectation expected = probe.run();
        const unsigned reports = VALGRIND_COUNT_ERRORS - before;
        in_probes += reports;
        VALGRIND_PRINTF("ct-probe-end %s\n", probe.name.c_str());
        bool ok = false;
        std::string wanted = "wrong result";
        if (expected == AT_LEAST_ONE) {
            ok = reports > 0;
            wanted = "control, at least 1 expected";
        } else if (expected) {
            ok = reports == *expected;
            wanted = std::to_string(*expected) + " expected";
        }
        std::printf("%-4s %-55s %5u report(s), %s\n", ok ? "ok" : "FAIL", probe.name.c_str(), reports, wanted.c_str());
        if (!ok) ++failures;
    }
    // Memcheck reports outside the probes are real memory errors.
    if (const unsigned stray = VALGRIND_COUNT_ERRORS - at_start - in_probes; stray != 0) {
        std::printf("FAIL %u memcheck report(s) outside the probes\n", stray);
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
