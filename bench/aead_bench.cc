// The AEAD adapters alone, per backend, path and message size: what one seal
// or open costs without the token codec and buffers around it. The sizes
// around 256 bytes show where each backend switches paths.
#include <array>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <benchmark/benchmark.h>

#include "cipher/backend.h"

namespace {

using tessaril::AeadPath;

constexpr std::size_t SIZES[] = {5, 64, 128, 256, 384, 512, 1024, 4096, 16384};

// The default context record ("session", no expiry) as associated data.
constexpr std::array<std::uint8_t, 17> AAD = {1, 0, 0, 0, 0, 0, 0, 0, 0, 7, 's', 'e', 's', 's', 'i', 'o', 'n'};
constexpr std::array<std::uint8_t, tessaril::KEY_BYTES> KEY = {0x42, 0x17};
constexpr std::array<std::uint8_t, tessaril::Backends::MAX_NONCE_BYTES> NONCE = {0x99, 0x01};

void per_message(benchmark::State& state, std::size_t size)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// The names of a backend's two paths in the results, the ones they have
// always used; a backend without its own gets "short" and "long".
template <class A>
struct PathNames {
    static constexpr const char* SHORT = "short";
    static constexpr const char* LONG = "long";
};
template <>
struct PathNames<tessaril::Aes256GcmContext> {
    static constexpr const char* SHORT = "precomputed";
    static constexpr const char* LONG = "library";
};
template <>
struct PathNames<tessaril::XChaCha20Poly1305Context> {
    static constexpr const char* SHORT = "combined";
    static constexpr const char* LONG = "split";
};

template <class A>
struct Adapter {
    static const A& instance()
    {
        static const A adapter(KEY);
        return adapter;
    }
    static typename A::Nonce nonce() { return typename A::Nonce(NONCE.data(), A::NONCE_BYTES); }
    static void seal(benchmark::State& state, AeadPath path, std::size_t size)
    {
        std::vector<std::uint8_t> plaintext(size, 'x'), ciphertext(size);
        std::array<std::uint8_t, tessaril::TAG_BYTES> tag;
        for (auto _ : state) {
            instance().seal(path, nonce(), AAD, plaintext, ciphertext, tag);
            benchmark::DoNotOptimize(tag);
        }
        per_message(state, size);
    }
    static void open(benchmark::State& state, AeadPath path, std::size_t size)
    {
        std::vector<std::uint8_t> plaintext(size, 'x'), ciphertext(size), opened(size);
        std::array<std::uint8_t, tessaril::TAG_BYTES> tag;
        instance().seal(path, nonce(), AAD, plaintext, ciphertext, tag);
        for (auto _ : state) {
            const bool ok = instance().open(path, nonce(), AAD, ciphertext, opened, tag);
            if (!ok) state.SkipWithError("open failed");
            benchmark::DoNotOptimize(opened.data());
        }
        per_message(state, size);
    }
    // Registers seal and open on each path this process runs, under the
    // path names the results have always used.
    static void register_all(const std::string& backend)
    {
        const char* short_name = PathNames<A>::SHORT;
        const char* long_name = PathNames<A>::LONG;
        for (std::size_t size : SIZES) {
            const std::string bytes = "/bytes:" + std::to_string(size);
            for (const auto& [path, name] : {std::pair{AeadPath::Short, short_name}, {AeadPath::Long, long_name}}) {
                if (!A::path_available(path)) continue;
                benchmark::RegisterBenchmark(backend + "_seal/" + name + bytes, seal, path, size);
                benchmark::RegisterBenchmark(backend + "_open/" + name + bytes, open, path, size);
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (Adapter<std::variant_alternative_t<I, tessaril::Backends::Adapter>>::register_all(
             std::string(tessaril::Backends::KEY_LABELS[I])),
         ...);
    }(std::make_index_sequence<tessaril::Backends::COUNT>{});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
