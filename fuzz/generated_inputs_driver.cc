// Drives a fuzz harness without libFuzzer, for builds that have none (the
// arm64 cross build, run under an emulator): a fixed number of inputs from a
// seeded generator: runs of base64url characters, of UTF-8 sequences or of
// random bytes, half of them with a few bytes changed to ones at the edges
// of the rules, so that the harness's oracles see valid fields and texts as
// well as nearly valid ones. A failure aborts; the same count and seed
// repeat it.
//   HARNESS_fuzzer [COUNT [SEED]]
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Bytes at the edges of the UTF-8 rules: continuations, refused leads, and
// the leads whose second byte has a narrowed range.
constexpr std::uint8_t EDGE_BYTES[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                       0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, '=', '+', '/'};

class Generator {
public:
    explicit Generator(std::uint64_t seed) : random_(seed) {}

    std::vector<std::uint8_t> next()
    {
        std::vector<std::uint8_t> input;
        const std::size_t length = below(4) == 0 ? below(2048) : below(300);
        const unsigned flavour = below(3);
        // The UTF-8 harness reads its first byte as a shift, not as text.
        if (flavour == 1) input.push_back(static_cast<std::uint8_t>(below(256)));
        while (input.size() < length) {
            if (flavour == 0) {
                input.push_back(tessaril::fuzzing::kAlphabet[below(tessaril::fuzzing::kAlphabet.size())]);
            } else if (flavour == 1) {
                append_code_point(input);
            } else {
                input.push_back(static_cast<std::uint8_t>(below(256)));
            }
        }
        // Half the fields and texts stay valid; the rest get a few bytes
        // changed, so that faults land anywhere in otherwise good input.
        if (!input.empty() && below(2) == 0) {
            for (unsigned n = 1 + below(3); n-- > 0;) input[below(input.size())] = edge_byte();
        }
        return input;
    }

private:
    unsigned below(std::size_t bound) { return static_cast<unsigned>(random_() % bound); }

    std::uint8_t edge_byte() { return EDGE_BYTES[below(sizeof EDGE_BYTES)]; }

    // A code point from one of the encoded lengths, encoded as UTF-8; the
    // surrogates, which UTF-8 refuses, come in through the edge bytes.
    void append_code_point(std::vector<std::uint8_t>& out)
    {
        static constexpr std::uint32_t FIRST[] = {0, 0x80, 0x800, 0x10000};
        static constexpr std::uint32_t LAST[] = {0x7F, 0x7FF, 0xFFFF, 0x10FFFF};
        const unsigned bytes = below(4);
        std::uint32_t cp = FIRST[bytes] + static_cast<std::uint32_t>(random_() % (LAST[bytes] - FIRST[bytes] + 1));
        if (cp >= 0xD800 && cp <= 0xDFFF) cp -= 0x800;
        if (bytes == 0) {
            out.push_back(static_cast<std::uint8_t>(cp));
            return;
        }
        static constexpr std::uint8_t LEAD[] = {0, 0xC0, 0xE0, 0xF0};
        out.push_back(static_cast<std::uint8_t>(LEAD[bytes] | (cp >> (6 * bytes))));
        for (unsigned k = bytes; k-- > 0;) out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> (6 * k)) & 0x3F)));
    }

    std::mt19937_64 random_;
};

}  // namespace

int main(int argc, char** argv)
{
    const unsigned long count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Generator generator(seed);
    for (unsigned long i = 0; i < count; ++i) {
        const std::vector<std::uint8_t> input = generator.next();
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%lu generated inputs (seed %llu): ok\n", count, static_cast<unsigned long long>(seed));
    return 0;
}
