// Whole seals and opens in the engine, per backend and payload size, with the
// heap allocations each call makes: "news" counts the engine's own (operator
// new), "mallocs" every malloc-family call including the libraries'.
#include <string>

#include <benchmark/benchmark.h>

#include "allocation_counter.h"
#include "cipher/cipher_state.h"
#include "testing/backends.h"
#include "token/open.h"
#include "token/seal.h"

namespace {

using tessaril::Backend;

constexpr std::size_t SIZES[] = {5, 1024, 16384};

const tessaril::CipherState& state_for(Backend backend)
{
    static const auto states = tessaril::testing::states_under(0x1234);
    return states[tessaril::backend_index(backend)];
}

std::span<const std::uint8_t> bytes_of(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Reports allocations per call, counted over the timed loop.
class AllocationsPerCall {
public:
    explicit AllocationsPerCall(benchmark::State& state)
        : state_(state), start_(tessaril::bench::allocation_counts())
    {
    }
    ~AllocationsPerCall()
    {
        const auto end = tessaril::bench::allocation_counts();
        const auto calls = static_cast<double>(state_.iterations());
        state_.counters["news"] = static_cast<double>(end.news - start_.news) / calls;
        state_.counters["mallocs"] = static_cast<double>(end.mallocs - start_.mallocs) / calls;
    }

private:
    benchmark::State& state_;
    tessaril::bench::AllocationCounts start_;
};

void seal(benchmark::State& state, Backend backend, std::size_t size)
{
    const auto& cipher_state = state_for(backend);
    const std::string plaintext(size, 'x');
    {
        AllocationsPerCall counted(state);
        for (auto _ : state) {
            auto token = tessaril::seal_token(cipher_state, bytes_of(plaintext), std::nullopt, std::nullopt);
            benchmark::DoNotOptimize(token);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void open(benchmark::State& state, Backend backend, std::size_t size)
{
    const auto& cipher_state = state_for(backend);
    const std::string plaintext(size, 'x');
    const std::string token = *tessaril::seal_token(cipher_state, bytes_of(plaintext), std::nullopt, std::nullopt);
    {
        AllocationsPerCall counted(state);
        for (auto _ : state) {
            auto opened = tessaril::decrypt(cipher_state, token);
            if (!opened) state.SkipWithError("open failed");
            benchmark::DoNotOptimize(opened);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

}  // namespace

int main(int argc, char** argv)
{
    for (Backend backend : tessaril::Backends::ALL) {
        for (std::size_t size : SIZES) {
            const std::string suffix =
                std::string(tessaril::Backends::KEY_LABELS[tessaril::backend_index(backend)]) + "/bytes:" + std::to_string(size);
            benchmark::RegisterBenchmark("seal_token/" + suffix, seal, backend, size);
            benchmark::RegisterBenchmark("open_token/" + suffix, open, backend, size);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
