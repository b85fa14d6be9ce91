// The AEAD adapters alone, per backend, path and message size: what one seal
// or open costs without the token codec and buffers around it. The sizes
// around 256 bytes show where each backend switches paths.
#include <array>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "aes_backend/aes256gcm_context.h"
#include "xchacha_backend/xchacha20poly1305.h"

namespace {

using tessaril::Aes256GcmContext;
using tessaril::XChaChaPath;

constexpr std::size_t SIZES[] = {5, 64, 128, 256, 384, 512, 1024, 4096, 16384};

// The default context record ("session", no expiry) as associated data.
constexpr std::array<std::uint8_t, 17> AAD = {1, 0, 0, 0, 0, 0, 0, 0, 0, 7, 's', 'e', 's', 's', 'i', 'o', 'n'};
constexpr std::array<std::uint8_t, 32> KEY = {0x42, 0x17};
constexpr std::array<std::uint8_t, 24> NONCE = {0x99, 0x01};

void per_message(benchmark::State& state, std::size_t size)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

struct Aes {
    static const Aes256GcmContext& context()
    {
        static const Aes256GcmContext instance(KEY);
        return instance;
    }
    static void seal(benchmark::State& state, Aes256GcmContext::Path path, std::size_t size)
    {
        std::vector<std::uint8_t> plaintext(size, 'x'), ciphertext(size);
        std::array<std::uint8_t, 16> tag;
        for (auto _ : state) {
            context().seal(path, std::span(NONCE).first<12>(), AAD, plaintext, ciphertext, tag);
            benchmark::DoNotOptimize(tag);
        }
        per_message(state, size);
    }
    static void open(benchmark::State& state, Aes256GcmContext::Path path, std::size_t size)
    {
        std::vector<std::uint8_t> plaintext(size, 'x'), ciphertext(size), opened(size);
        std::array<std::uint8_t, 16> tag;
        context().seal(path, std::span(NONCE).first<12>(), AAD, plaintext, ciphertext, tag);
        for (auto _ : state) {
            const bool ok = context().open(path, std::span(NONCE).first<12>(), AAD, ciphertext, opened, tag);
            if (!ok) state.SkipWithError("open failed");
            benchmark::DoNotOptimize(opened.data());
        }
        per_message(state, size);
    }
};

struct XChaCha {
    static void seal(benchmark::State& state, XChaChaPath path, std::size_t size)
    {
        std::vector<std::uint8_t> plaintext(size, 'x'), ciphertext(size);
        std::array<std::uint8_t, 16> tag;
        for (auto _ : state) {
            tessaril::xchacha_seal(path, KEY, NONCE, AAD, plaintext, ciphertext, tag);
            benchmark::DoNotOptimize(tag);
        }
        per_message(state, size);
    }
    static void open(benchmark::State& state, XChaChaPath path, std::size_t size)
    {
        std::vector<std::uint8_t> plaintext(size, 'x'), ciphertext(size), opened(size);
        std::array<std::uint8_t, 16> tag;
        tessaril::xchacha_seal(path, KEY, NONCE, AAD, plaintext, ciphertext, tag);
        for (auto _ : state) {
            const bool ok = tessaril::xchacha_open(path, KEY, NONCE, AAD, ciphertext, opened, tag);
            if (!ok) state.SkipWithError("open failed");
            benchmark::DoNotOptimize(opened.data());
        }
        per_message(state, size);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    using AesPath = Aes256GcmContext::Path;
    std::vector<std::pair<std::string, AesPath>> aes_paths = {{"library", AesPath::Library}};
    if (Aes256GcmContext::precomputed_available()) {
        aes_paths.insert(aes_paths.begin(), {"precomputed", AesPath::Precomputed});
    }
    const std::pair<std::string, XChaChaPath> xchacha_paths[] = {{"combined", XChaChaPath::Combined},
                                                                 {"split", XChaChaPath::Split}};
    for (std::size_t size : SIZES) {
        const std::string bytes = "/bytes:" + std::to_string(size);
        for (const auto& [name, path] : aes_paths) {
            benchmark::RegisterBenchmark("aes256gcm_seal/" + name + bytes, Aes::seal, path, size);
            benchmark::RegisterBenchmark("aes256gcm_open/" + name + bytes, Aes::open, path, size);
        }
        for (const auto& [name, path] : xchacha_paths) {
            benchmark::RegisterBenchmark("xchacha20poly1305_seal/" + name + bytes, XChaCha::seal, path, size);
            benchmark::RegisterBenchmark("xchacha20poly1305_open/" + name + bytes, XChaCha::open, path, size);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
