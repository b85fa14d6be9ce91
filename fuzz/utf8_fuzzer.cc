// Differential fuzzing of UTF-8 validation against the code-point reference:
// every kernel this processor runs, the public test and the fault finder.
// The first input byte shifts the text by 0 to 127 ASCII bytes, so that each
// fault also lands in every position of the 32- and 64-byte blocks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/utf8.h"
#include "codec/utf8_kernels.h"
#include "reference.h"

using namespace tessaril;
using namespace tessaril::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    std::vector<std::uint8_t> text(data[0] & 0x7F, 'a');
    text.insert(text.end(), data + 1, data + size);
    const std::span<const std::uint8_t> bytes(text);
    const bool valid = ref_utf8_valid(bytes);

    for (const utf8_detail::Kernel* kernel : utf8_detail::available_kernels()) {
        FUZZ_CHECK(kernel->is_valid(bytes.data(), bytes.size()) == valid, "a kernel and the reference disagree");
    }
    FUZZ_CHECK(is_valid_utf8(bytes) == valid, "is_valid_utf8 and the reference disagree");

    // The fault, where there is one: a valid prefix, then an invalid
    // subpart inside the text, or the text ending inside a sequence.
    const std::optional<Utf8Fault> fault = find_utf8_fault(bytes);
    FUZZ_CHECK(fault.has_value() != valid, "fault found in valid text, or none in invalid text");
    if (fault) {
        FUZZ_CHECK(fault->index < bytes.size() && fault->length <= 3, "fault outside the text");
        FUZZ_CHECK(ref_utf8_valid(bytes.first(fault->index)), "the text before the fault is not valid");
        if (fault->length == 0) {
            FUZZ_CHECK(bytes.size() - fault->index < 4, "text said to end inside a sequence goes on");
        } else {
            FUZZ_CHECK(fault->index + fault->length <= bytes.size(), "fault runs past the text");
        }
    }
    return 0;
}
