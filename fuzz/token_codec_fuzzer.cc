// decode_token under both backends against the reference split-and-decode;
// every accepted token is re-assembled byte for byte by encode_token.
#include <cstddef>
#include <cstdint>

#include "fixed_states.h"
#include "token/token_codec.h"
#include "reference.h"

using namespace tessaril;
using namespace tessaril::fuzzing;

namespace {

ErrorKind expected_kind(ShapeVerdict v)
{
    return v == ShapeVerdict::BadBase64 ? ErrorKind::InvalidBase64 : ErrorKind::InvalidToken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view token = as_text(data, size);
    for (Backend backend : Backends::ALL) {
        const Result<DecodedToken> got = decode_token(token, backend);
        const RefShape ref = ref_token_shape(token, nonce_size(backend));
        if (!got) {
            FUZZ_CHECK(ref.verdict != ShapeVerdict::Ok, "decode_token refused a token the reference accepts");
            FUZZ_CHECK(got.error() == expected_kind(ref.verdict), "decode_token failed with the wrong kind");
            continue;
        }
        FUZZ_CHECK(ref.verdict == ShapeVerdict::Ok, "decode_token accepted a token the reference refuses");
        FUZZ_CHECK(got->nonce.size() == nonce_size(backend), "nonce of the wrong size accepted");
        FUZZ_CHECK(same_bytes(got->nonce.span(), ref.nonce), "nonce decoded differently");
        FUZZ_CHECK(same_bytes(got->context.span(), ref.context), "context decoded differently");
        FUZZ_CHECK(same_bytes(got->ciphertext.span(), ref.ciphertext), "ciphertext decoded differently");
        const std::string again = encode_token(got->nonce.span(), got->context.span(), got->ciphertext.span());
        FUZZ_CHECK(again == token, "accepted token does not re-encode to itself");
    }

    // encode_token on three byte strings cut from the input by its first two
    // bytes: the text decodes back to the same three strings.
    if (size >= 2) {
        const std::span<const std::uint8_t> rest(data + 2, size - 2);
        const std::size_t n1 = data[0] % (rest.size() + 1);
        const std::size_t n2 = data[1] % (rest.size() - n1 + 1);
        const auto nonce = rest.first(n1), context = rest.subspan(n1, n2), ciphertext = rest.subspan(n1 + n2);
        const std::string text = encode_token(nonce, context, ciphertext);
        const RefShape back = ref_token_shape(text, n1);
        FUZZ_CHECK(back.verdict == ShapeVerdict::Ok || back.verdict == ShapeVerdict::TooLong,
                   "encode_token wrote text the reference cannot take apart");
        if (back.verdict == ShapeVerdict::Ok) {
            FUZZ_CHECK(same_bytes(back.nonce, nonce) && same_bytes(back.context, context) &&
                           same_bytes(back.ciphertext, ciphertext),
                       "encode_token does not round-trip");
        }
    }
    return 0;
}
