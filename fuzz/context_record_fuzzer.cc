// parse_context against the reference layout; every accepted record is
// rebuilt byte for byte by build_context.
#include <cstddef>
#include <cstdint>

#include "fixed_states.h"
#include "token/context_record.h"
#include "reference.h"

using namespace tessaril;
using namespace tessaril::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> record(data, size);
    const std::optional<TokenContext> parsed = parse_context(record);
    const std::optional<RefContext> ref = ref_parse_context(record);
    FUZZ_CHECK(parsed.has_value() == ref.has_value(), "parse_context and the reference disagree on acceptance");
    if (!parsed) return 0;

    FUZZ_CHECK(parsed->expires_at == ref->expires_at, "expiry read differently");
    FUZZ_CHECK(parsed->purpose == ref->purpose, "purpose read differently");
    const Buffer rebuilt = build_context(parsed->expires_at, parsed->purpose);
    FUZZ_CHECK(same_bytes(rebuilt.span(), record), "accepted record does not rebuild to itself");

    // The expiry rule at a clock reading taken from the record's own bytes
    // and at the edges around the expiry.
    std::uint64_t probe = 0;
    for (std::size_t i = 0; i < 8 && i < size; ++i) probe = probe << 8 | data[size - 1 - i];
    const std::uint64_t e = parsed->expires_at;
    for (std::uint64_t now : {probe, e - 1, e, e + 1, std::uint64_t{0}, ~std::uint64_t{0}}) {
        FUZZ_CHECK(is_expired(e, now) == ref_expired(e, now), "is_expired disagrees with the expiry rule");
    }
    return 0;
}
