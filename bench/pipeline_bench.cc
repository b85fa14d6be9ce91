// Whole seals and opens in the engine, per backend and payload size, with the
// heap allocations each call makes: "news" counts the engine's own (operator
// new), "mallocs" every malloc-family call including the libraries'.
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "allocation_counter.h"
#include "cipher/cipher_state.h"
#include "core/secret.h"
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

// Opening as the module does it: the plaintext copied out into the caller's
// object, and then, with |wipe|, the engine's copy wiped before it is freed.
void open_and_hand_over(benchmark::State& state, Backend backend, std::size_t size, bool wipe)
{
    const auto& cipher_state = state_for(backend);
    const std::string plaintext(size, 'x');
    const std::string token = *tessaril::seal_token(cipher_state, bytes_of(plaintext), std::nullopt, std::nullopt);
    std::vector<std::uint8_t> handed(size);
    for (auto _ : state) {
        auto opened = tessaril::decrypt(cipher_state, token);
        if (!opened) state.SkipWithError("open failed");
        std::memcpy(handed.data(), opened->data(), opened->size());
        benchmark::DoNotOptimize(handed.data());
        if (wipe) tessaril::secure_wipe(opened->span());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void wipe_only(benchmark::State& state, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size, 'x');
    for (auto _ : state) {
        tessaril::secure_wipe(bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

}  // namespace

int main(int argc, char** argv)
{
    for (Backend backend : tessaril::Backends::ALL) {
        const std::string name(tessaril::Backends::KEY_LABELS[tessaril::backend_index(backend)]);
        for (std::size_t size : SIZES) {
            const std::string suffix = name + "/bytes:" + std::to_string(size);
            benchmark::RegisterBenchmark("seal_token/" + suffix, seal, backend, size);
            benchmark::RegisterBenchmark("open_token/" + suffix, open, backend, size);
        }
        // What wiping the engine's copy of an opened plaintext adds, at the largest size.
        const std::string largest = name + "/bytes:" + std::to_string(SIZES[2]);
        benchmark::RegisterBenchmark("open_hand_over/" + largest, open_and_hand_over, backend, SIZES[2], false);
        benchmark::RegisterBenchmark("open_hand_over_wipe/" + largest, open_and_hand_over, backend, SIZES[2], true);
    }
    benchmark::RegisterBenchmark("secure_wipe/bytes:" + std::to_string(SIZES[2]), wipe_only, SIZES[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
