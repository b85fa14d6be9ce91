// Differential fuzzing of the base64url codec against the plain reference:
// the input is read once as field text (decoder) and once as raw bytes
// (encoder).
#include <cstddef>
#include <cstdint>

#include "codec/base64url.h"
#include "codec/base64url_kernels.h"
#include "fixed_states.h"
#include "reference.h"

using namespace tessaril;
using namespace tessaril::fuzzing;

namespace {

// Every kernel this processor runs is held to the same oracle.
void check_kernels(const std::uint8_t* data, std::size_t size, const std::optional<Buffer>& decoded,
                   const std::string& encoded)
{
    using namespace tessaril::base64url_detail;
    for (const Kernel* kernel : available_kernels()) {
        const std::optional<Buffer> d = decode_with(*kernel, as_text(data, size));
        FUZZ_CHECK(d.has_value() == decoded.has_value(), "kernels disagree on accepting a field");
        if (d) FUZZ_CHECK(same_bytes(d->span(), decoded->span()), "kernels decode to different bytes");
        std::string e(encoded.size(), '\0');
        encode_into_with(*kernel, {data, size}, e.data());
        FUZZ_CHECK(e == encoded, "kernels encode differently");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = as_text(data, size);

    // Decoder: accepts exactly what the reference accepts, and every accepted
    // field is the one encoding of its bytes.
    const std::optional<Buffer> decoded = base64url_decode(text);
    const B64Verdict ref = ref_b64_decode(text);
    if (decoded) {
        FUZZ_CHECK(ref.reject == B64Reject::None, "decoder accepted a field the reference refuses");
        FUZZ_CHECK(same_bytes(decoded->span(), ref.bytes), "decoder and reference disagree on the bytes");
        FUZZ_CHECK(base64url_encode(decoded->span()) == text, "accepted field does not re-encode to itself");
    } else {
        FUZZ_CHECK(ref.reject != B64Reject::None, "decoder refused a field the reference accepts");
    }

    // Encoder: the reference's text, of the advertised length, decoding back.
    const std::span<const std::uint8_t> bytes(data, size);
    const std::string encoded = base64url_encode(bytes);
    FUZZ_CHECK(encoded.size() == base64url_encoded_size(size), "encoded length is not 4 * ceil(n / 3)");
    FUZZ_CHECK(encoded == ref_b64_encode(bytes), "encoder and reference disagree");
    const std::optional<Buffer> back = base64url_decode(encoded);
    FUZZ_CHECK(back && same_bytes(back->span(), bytes), "encoded bytes do not decode back");

    check_kernels(data, size, decoded, encoded);
    return 0;
}
