// open_token with fixed cipher states of both backends. The first input byte
// picks the backend and one of three ways to use the rest:
//   raw text     the rest is token text (the seed corpus holds real tokens
//                sealed under the harness key, so mutations start past the
//                tag check);
//   foreign      an authentic token is sealed around an arbitrary context
//                record and plaintext, as a faulty writer holding the key
//                could, and the outcome must be exactly the one the record,
//                the expected purpose, the clock and the plaintext call for;
//   round trip   seal_token output opens to its plaintext, and one edit of
//                its text never opens.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fixed_states.h"
#include "cipher/aead.h"
#include "token/context_record.h"
#include "token/open.h"
#include "token/seal.h"
#include "token/token_codec.h"
#include "reference.h"
#include "testing/backends.h"

using namespace tessaril;
using namespace tessaril::fuzzing;

namespace {

constexpr std::uint64_t kNows[8] = {0, 1, 1'700'000'000, 1'700'000'001, 1'765'000'000, std::uint64_t{1} << 63,
                                    ~std::uint64_t{0} - 1, ~std::uint64_t{0}};

const std::string& fixed_purpose(unsigned choice)
{
    static const std::string purposes[4] = {"session", "admin", "", std::string(255, 'p')};
    return purposes[choice & 3];
}

// Takes fields off the front of the input; short input reads as zeros.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t integer(std::size_t bytes)
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i) v = v << 8 | (pos_ < size_ ? data_[pos_++] : 0);
        return v;
    }
    std::span<const std::uint8_t> take(std::size_t n)
    {
        n = std::min(n, size_ - pos_);
        const std::span<const std::uint8_t> s(data_ + pos_, n);
        pos_ += n;
        return s;
    }
    std::span<const std::uint8_t> rest() { return take(size_ - pos_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::string_view text_of(std::span<const std::uint8_t> s)
{
    return as_text(s.data(), s.size());
}

std::span<const std::uint8_t> as_bytes(std::string_view s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void raw_text(Backend backend, std::uint8_t header, std::span<const std::uint8_t> input)
{
    const std::string_view token = text_of(input);
    const std::string& purpose = fixed_purpose(header >> 3);
    const std::uint64_t now = kNows[(header >> 5) & 7];
    const CipherState& state = fixed_state(backend);
    const Result<Buffer> got = open_token(state, token, purpose, now);
    const RefShape shape = ref_token_shape(token, nonce_size(backend));

    switch (shape.verdict) {
    case ShapeVerdict::TooLong:
    case ShapeVerdict::TooFewFields:
    case ShapeVerdict::BadNonceSize:
        FUZZ_CHECK(!got && got.error() == ErrorKind::InvalidToken, "shape fault not reported as invalid token");
        return;
    case ShapeVerdict::BadBase64:
        FUZZ_CHECK(!got && got.error() == ErrorKind::InvalidBase64, "bad field not reported as invalid base64");
        return;
    case ShapeVerdict::Ok:
        break;
    }
    if (shape.ciphertext.size() < TAG_BYTES) {
        FUZZ_CHECK(!got && got.error() == ErrorKind::Tampered, "ciphertext shorter than the tag not tampered");
        return;
    }
    if (!got && got.error() == ErrorKind::Tampered) return;

    // Anything past the tag check is authentic, so the record must explain it.
    const std::optional<RefContext> ctx = ref_parse_context(shape.context);
    if (!got && got.error() == ErrorKind::InvalidToken) {
        FUZZ_CHECK(!ctx, "well-formed authentic record refused");
        return;
    }
    FUZZ_CHECK(ctx.has_value(), "malformed record got past the context check");
    if (!got) {
        switch (got.error()) {
        case ErrorKind::PurposeMismatch:
            FUZZ_CHECK(ctx->purpose != purpose, "matching purpose reported as a mismatch");
            return;
        case ErrorKind::Expired:
            FUZZ_CHECK(ctx->purpose == purpose && ref_expired(ctx->expires_at, now), "expiry misjudged");
            return;
        case ErrorKind::InvalidUtf8:
            FUZZ_CHECK(ctx->purpose == purpose && !ref_expired(ctx->expires_at, now), "UTF-8 test out of order");
            return;
        default:
            fail("opening failed with a kind it cannot produce");
        }
    }
    FUZZ_CHECK(ctx->purpose == purpose, "opened for the wrong purpose");
    FUZZ_CHECK(!ref_expired(ctx->expires_at, now), "opened an expired token");
    FUZZ_CHECK(ref_utf8_valid(got->span()), "returned plaintext that is not UTF-8");
    FUZZ_CHECK(got->size() == shape.ciphertext.size() - TAG_BYTES, "plaintext of the wrong length");
    const Buffer resealed = aead_seal(state, shape.nonce, shape.context, got->span());
    FUZZ_CHECK(same_bytes(resealed.span(), shape.ciphertext), "plaintext does not seal back to the ciphertext");
}

void foreign_writer(Backend backend, std::span<const std::uint8_t> input)
{
    Reader in(input.data(), input.size());
    const std::span<const std::uint8_t> record = in.take(in.integer(2) % 400);
    const unsigned purpose_choice = static_cast<unsigned>(in.integer(1));
    const std::uint64_t now = in.integer(8);
    const std::span<const std::uint8_t> plaintext = in.rest();

    // Half the time expect the purpose the record itself names, so that the
    // later checks are reached.
    std::string expected = fixed_purpose(purpose_choice);
    if ((purpose_choice & 4) != 0 && record.size() >= CONTEXT_HEADER_BYTES) {
        const std::size_t len =
            std::min<std::size_t>(record[CONTEXT_PURPOSE_LENGTH_AT], record.size() - CONTEXT_HEADER_BYTES);
        expected.assign(reinterpret_cast<const char*>(record.data() + CONTEXT_HEADER_BYTES), len);
    }

    const CipherState& state = fixed_state(backend);
    std::uint8_t nonce_bytes[Backends::MAX_NONCE_BYTES];
    for (std::size_t i = 0; i < sizeof nonce_bytes; ++i) nonce_bytes[i] = static_cast<std::uint8_t>(0xA5 ^ i);
    const std::span<const std::uint8_t> nonce(nonce_bytes, nonce_size(backend));
    const Buffer sealed = aead_seal(state, nonce, record, plaintext);
    const std::string token = encode_token(nonce, record, sealed.span());
    const Result<Buffer> got = open_token(state, token, expected, now);

    const std::optional<RefContext> ctx = ref_parse_context(record);
    ErrorKind want = ErrorKind::MissingKey;  // stands for success
    if (token.size() > MAX_TOKEN_BYTES || !ctx) {
        want = ErrorKind::InvalidToken;
    } else if (ctx->purpose != expected) {
        want = ErrorKind::PurposeMismatch;
    } else if (ref_expired(ctx->expires_at, now)) {
        want = ErrorKind::Expired;
    } else if (!ref_utf8_valid(plaintext)) {
        want = ErrorKind::InvalidUtf8;
    }
    if (want == ErrorKind::MissingKey) {
        FUZZ_CHECK(got.has_value(), "authentic, matching, unexpired UTF-8 token refused");
        FUZZ_CHECK(same_bytes(got->span(), plaintext), "opened to a different plaintext");
    } else {
        FUZZ_CHECK(!got && got.error() == want, "authentic token refused for the wrong reason");
    }

    // The same token never opens under the other backend's state.
    const Result<Buffer> crossed = open_token(fixed_state(testing::other_backend(backend)), token, expected, now);
    FUZZ_CHECK(!crossed && crossed.error() == ErrorKind::InvalidToken, "token crossed backends");
}

// Nonce bytes for seal_token: a pattern set per input, or a failing source.
thread_local std::uint8_t g_nonce_seed = 0;

bool pattern_random(std::span<std::uint8_t> out) noexcept
{
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(g_nonce_seed + 31 * i);
    return true;
}

bool failing_random(std::span<std::uint8_t>) noexcept
{
    return false;
}

void round_trip(Backend backend, std::span<const std::uint8_t> input)
{
    Reader in(input.data(), input.size());
    const unsigned flags = static_cast<unsigned>(in.integer(1));
    const std::uint64_t expiry_value = in.integer(8);
    const std::span<const std::uint8_t> purpose_bytes = in.take(in.integer(2) % 300);
    const std::size_t edit_at = in.integer(2);
    const char edit_char = static_cast<char>(in.integer(1));
    const std::span<const std::uint8_t> plaintext = in.rest();

    const std::optional<std::uint64_t> expires_at =
        (flags & 1) ? std::optional<std::uint64_t>(expiry_value) : std::nullopt;
    const std::optional<std::string_view> purpose =
        (flags & 2) ? std::optional<std::string_view>(text_of(purpose_bytes)) : std::nullopt;
    const bool random_fails = (flags & 0x1C) == 0x1C;
    g_nonce_seed = static_cast<std::uint8_t>(flags ^ edit_at);

    const CipherState& state = fixed_state(backend);
    const Result<std::string> sealed =
        seal_token(state, plaintext, expires_at, purpose, random_fails ? failing_random : pattern_random);

    ErrorKind want = ErrorKind::MissingKey;  // stands for success
    if (plaintext.size() > MAX_PLAINTEXT_BYTES) {
        want = ErrorKind::PlaintextTooLong;
    } else if (expires_at == 0) {
        want = ErrorKind::ZeroExpiry;
    } else if (purpose && purpose->empty()) {
        want = ErrorKind::EmptyPurpose;
    } else if (purpose && purpose->size() > MAX_PURPOSE_BYTES) {
        want = ErrorKind::PurposeTooLong;
    } else if (random_fails) {
        want = ErrorKind::RandomnessUnavailable;
    }
    if (want != ErrorKind::MissingKey) {
        FUZZ_CHECK(!sealed && sealed.error() == want, "sealing refused for the wrong reason");
        return;
    }
    FUZZ_CHECK(sealed.has_value(), "sealing failed on valid input");
    const std::string& token = *sealed;
    const std::string label(purpose.value_or(DEFAULT_PURPOSE));
    const Buffer record = build_context(expires_at, label);
    const auto e64 = [](std::size_t n) { return 4 * ((n + 2) / 3); };
    FUZZ_CHECK(token.size() == e64(nonce_size(backend)) + e64(record.size()) + e64(plaintext.size() + TAG_BYTES) + 2,
               "token length off the formula");

    const std::uint64_t e = expires_at.value_or(0);
    const std::uint64_t valid_now = e != 0 ? e - 1 : ~std::uint64_t{0};
    const Result<Buffer> opened = open_token(state, token, label, valid_now);
    if (!ref_utf8_valid(as_bytes(label))) {
        // The callers only ever pass text; a record carrying anything else
        // is authentic but does not parse.
        FUZZ_CHECK(!opened && opened.error() == ErrorKind::InvalidToken, "record with a non-UTF-8 purpose opened");
        return;
    }
    if (ref_utf8_valid(plaintext)) {
        FUZZ_CHECK(opened && same_bytes(opened->span(), plaintext), "sealed token does not open to its plaintext");
    } else {
        FUZZ_CHECK(!opened && opened.error() == ErrorKind::InvalidUtf8, "non-UTF-8 plaintext not refused");
    }
    if (e != 0) {
        const Result<Buffer> late = open_token(state, token, label, e);
        FUZZ_CHECK(!late && late.error() == ErrorKind::Expired, "token opened at its expiry second");
    }

    // One edit: replace, delete or insert a character. Any different text
    // must fail before or at the tag check.
    std::string edited = token;
    const std::size_t at = edit_at % (token.size() + 1);
    switch ((flags >> 5) & 3) {
    case 0:
        if (at < edited.size()) edited[at] = edit_char;
        break;
    case 1:
        if (at < edited.size()) edited.erase(at, 1);
        break;
    default:
        edited.insert(at, 1, edit_char);
        break;
    }
    if (edited == token) return;
    const Result<Buffer> forged = open_token(state, edited, label, valid_now);
    FUZZ_CHECK(!forged, "an edited token opened");
    const ErrorKind k = forged.error();
    FUZZ_CHECK(k == ErrorKind::InvalidToken || k == ErrorKind::InvalidBase64 || k == ErrorKind::Tampered,
               "an edited token got past the tag check");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::uint8_t header = data[0];
    // With two backends this is bit 0 alone, as the seed corpus writes it;
    // with more, every one is still reached.
    const Backend backend = Backends::ALL[header % Backends::COUNT];
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    switch ((header >> 1) & 3) {
    case 0:
    case 1:
        raw_text(backend, header, input);
        break;
    case 2:
        foreign_writer(backend, input);
        break;
    default:
        round_trip(backend, input);
        break;
    }
    return 0;
}
