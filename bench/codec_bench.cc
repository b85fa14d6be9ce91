// base64url throughput per kernel set, at the field sizes a token carries:
// nonces (16 and 32 characters), a default context (24), a long purpose
// (356), 1 KiB and 16 KiB payloads with their tag (1,388 and 21,868).
//
// Rates count the binary side in both directions (bytes encoded, bytes
// decoded); "GB/s" is 10^9 of those per second.
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "lib/base64url.h"
#include "lib/base64url_kernels.h"

namespace {

using tessaril::base64url_detail::Kernels;

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

void encode(benchmark::State& state, const Kernels* kernels, std::size_t size)
{
    const auto bytes = random_bytes(size);
    std::string out(tessaril::base64url_encoded_size(bytes.size()), '\0');
    for (auto _ : state) {
        tessaril::base64url_detail::encode_into_with(*kernels, bytes, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    rate(state, bytes.size());
}

void decode(benchmark::State& state, const Kernels* kernels, std::size_t size)
{
    const auto bytes = random_bytes(size);
    const std::string field = tessaril::base64url_encode(bytes);
    for (auto _ : state) {
        auto decoded = tessaril::base64url_detail::decode_with(*kernels, field);
        benchmark::DoNotOptimize(decoded);
    }
    rate(state, bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    for (const Kernels* kernels : tessaril::base64url_detail::available_kernels()) {
        for (std::size_t size : FIELD_BYTES) {
            const std::string suffix = std::string(kernels->name) + "/chars:" +
                                       std::to_string(tessaril::base64url_encoded_size(size));
            benchmark::RegisterBenchmark("base64url_encode/" + suffix, encode, kernels, size);
            benchmark::RegisterBenchmark("base64url_decode/" + suffix, decode, kernels, size);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
