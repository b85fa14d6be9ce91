// Throughput of the text codecs per kernel.
//
// base64url, at the field sizes a token carries: nonces (16 and 32
// characters), a default context (24), a long purpose (356), 1 KiB and
// 16 KiB payloads with their tag (1,388 and 21,868). Rates count the binary
// side in both directions (bytes encoded, bytes decoded).
//
// UTF-8 validation of 1 KiB and 16 KiB payloads of each kind of text: ASCII,
// accented Latin, CJK, emoji and a mix of all four. Its time should not
// depend on the kind. Rates count the bytes validated.
//
// "GB/s" is 10^9 bytes per second.
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "codec/base64url.h"
#include "codec/base64url_kernels.h"
#include "codec/utf8_kernels.h"

namespace {

using tessaril::base64url_detail::Kernel;

// Byte lengths of the fields; their encodings are 16, 24, 32, 356, 1,388,
// 5,484 and 21,868 characters.
constexpr std::size_t FIELD_BYTES[] = {12, 17, 24, 265, 1040, 4112, 16400};

std::vector<std::uint8_t> random_bytes(std::size_t n)
{
    std::mt19937 rng(42);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

void rate(benchmark::State& state, std::size_t bytes)
{
    state.counters["GB/s"] = benchmark::Counter(static_cast<double>(state.iterations() * bytes) / 1e9,
                                                benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void encode(benchmark::State& state, const Kernel* kernel, std::size_t size)
{
    const auto bytes = random_bytes(size);
    std::string out(tessaril::base64url_encoded_size(bytes.size()), '\0');
    for (auto _ : state) {
        tessaril::base64url_detail::encode_into_with(*kernel, bytes, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    rate(state, bytes.size());
}

void decode(benchmark::State& state, const Kernel* kernel, std::size_t size)
{
    const auto bytes = random_bytes(size);
    const std::string field = tessaril::base64url_encode(bytes);
    for (auto _ : state) {
        auto decoded = tessaril::base64url_detail::decode_with(*kernel, field);
        benchmark::DoNotOptimize(decoded);
    }
    rate(state, bytes.size());
}

struct TextKind {
    const char* name;
    const char* unit;  // repeated to the payload size
};

constexpr TextKind TEXT_KINDS[] = {
    {"ascii", "plain ASCII text, "},
    {"latin", "\u00e9t\u00e9 \u00e0 \u00d6sterreich, gr\u00fc\u00dfe, "},
    {"cjk", "\u6f22\u5b57\u304b\u306a\u30ab\u30ca\ud55c\uae00"},
    {"emoji", "\U0001F600\U0001F510\U0001F680"},
    {"mixed", "user=ada; gr\u00fc\u00dfe \u6f22\u5b57 \U0001F600 "},
};

constexpr std::size_t PAYLOAD_BYTES[] = {1024, 16384};

// |size| bytes of the kind's text: whole characters, then spaces.
std::string text_of(const TextKind& kind, std::size_t size)
{
    const std::string_view unit = kind.unit;
    std::string text;
    for (std::size_t i = 0;;) {
        const auto lead = static_cast<unsigned char>(unit[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (text.size() + length > size) break;
        text.append(unit.substr(i, length));
        i = (i + length) % unit.size();
    }
    text.resize(size, ' ');
    return text;
}

void validate(benchmark::State& state, const tessaril::utf8_detail::Kernel* kernel, std::string text)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    if (!kernel->is_valid(data, text.size())) {
        state.SkipWithError("benchmark text is not valid UTF-8");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(kernel->is_valid(data, text.size()));
    }
    rate(state, text.size());
}

}  // namespace

int main(int argc, char** argv)
{
    for (const Kernel* kernel : tessaril::base64url_detail::available_kernels()) {
        for (std::size_t size : FIELD_BYTES) {
            const std::string suffix = std::string(kernel->name) + "/chars:" +
                                       std::to_string(tessaril::base64url_encoded_size(size));
            benchmark::RegisterBenchmark("base64url_encode/" + suffix, encode, kernel, size);
            benchmark::RegisterBenchmark("base64url_decode/" + suffix, decode, kernel, size);
        }
    }
    for (const auto* kernel : tessaril::utf8_detail::available_kernels()) {
        for (const TextKind& kind : TEXT_KINDS) {
            for (std::size_t size : PAYLOAD_BYTES) {
                benchmark::RegisterBenchmark(std::string("utf8_validate/") + kernel->name + "/" + kind.name +
                                                 "/bytes:" + std::to_string(size),
                                             validate, kernel, text_of(kind, size));
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
