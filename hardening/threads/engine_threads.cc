// Seals and opens from several threads at once, through the engine's public
// API, so that ThreadSanitizer can watch every shared access:
//   1. all threads start together and their very first calls race on what
//      the engine builds lazily once per process (cipher fetches, the
//      library initialisation, the processor checks, the base64url kernel
//      choice), each thread with cipher states of its own;
//   2. then every thread seals and opens on the same two cipher states, one
//      per backend, and opens the tokens another thread sealed.
// Plaintext sizes fall on both sides of the 256 bytes where both adapters
// change code path, up to the 16,384-byte limit.
//
// OpenSSL's own algorithm caches are filled before the threads start (see
// warm_openssl_caches); the engine's once-only state is left cold.
//
//   engine_threads [THREADS] [ROUNDS]     (defaults 8 and 200)

#include <algorithm>
#include <barrier>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "cipher/backend.h"
#include "cipher/cipher_state.h"
#include "core/error_kind.h"
#include "token/open.h"
#include "token/seal.h"

namespace {

using tessaril::Backend;
using tessaril::CipherState;

constexpr std::size_t kSizes[] = {0, 1, 200, 255, 256, 257, 300, 1024, 16384};
constexpr auto kBackends = tessaril::Backends::ALL;
constexpr tessaril::KeyValue kSharedKey = (tessaril::KeyValue{0x0123456789ABCDEF} << 64) | 0xFEDCBA9876543210;

std::vector<std::uint8_t> payload(std::size_t size, unsigned thread)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>('a' + (i + thread) % 26);
    return bytes;
}

// Counts what went wrong; each thread has its own, summed at the end.
struct Tally {
    unsigned long seals = 0, opens = 0, failures = 0;

    void fail(const char* what, std::size_t size, Backend backend)
    {
        if (failures++ < 5) {
            std::fprintf(stderr, "engine_threads: %s failed (%zu bytes, backend %d)\n", what, size,
                         static_cast<int>(backend));
        }
    }
};

std::optional<std::string> seal(const CipherState& state, const std::vector<std::uint8_t>& plaintext, Tally& tally)
{
    ++tally.seals;
    auto token = tessaril::seal_token(state, plaintext, std::nullopt, "threads");
    if (!token) {
        tally.fail("seal", plaintext.size(), state.backend());
        return std::nullopt;
    }
    return std::move(*token);
}

// Opens |token| and expects |plaintext|; a copy with one ciphertext
// character changed must then be refused as tampered.
void open_both_ways(const CipherState& state, const std::string& token, const std::vector<std::uint8_t>& plaintext,
                    Tally& tally)
{
    tally.opens += 2;
    const auto opened = tessaril::decrypt_for(state, token, "threads");
    if (!opened || !std::ranges::equal(opened->span(), plaintext)) {
        tally.fail("open", plaintext.size(), state.backend());
    }

    std::string forged = token;
    char& c = forged[forged.rfind('.') + 2];
    c = c == 'A' ? 'B' : 'A';
    const auto refused = tessaril::decrypt_for(state, forged, "threads");
    if (refused || refused.error() != tessaril::ErrorKind::Tampered) {
        tally.fail("refusing a forgery", plaintext.size(), state.backend());
    }
}

// One pass over every size and backend with states of the thread's own.
void own_states_pass(unsigned thread, Tally& tally)
{
    for (const Backend backend : kBackends) {
        const CipherState state = CipherState::build(backend, kSharedKey + thread);
        for (const std::size_t size : kSizes) {
            const auto plaintext = payload(size, thread);
            if (const auto token = seal(state, plaintext, tally)) open_both_ways(state, *token, plaintext, tally);
        }
    }
}

// libcrypto is not instrumented. Its algorithm cache is read without a lock
// and published with atomics ThreadSanitizer cannot see, so the first
// concurrent fetch of an algorithm is reported inside libcrypto: a memcpy
// made under its write lock against a lock-free reader's memcmp. That is
// OpenSSL's own synchronisation, not the engine's; fetching each algorithm
// the engine uses once, before the threads, fills the cache. The engine's
// static cipher handles, the libsodium initialisation and the base64url
// kernel choice are still first used by the racing threads.
bool warm_openssl_caches()
{
    if (OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) != 1) return false;
    EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_CIPHER* aes = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    EVP_CIPHER* chacha = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
    const bool fetched = sha256 != nullptr && aes != nullptr && chacha != nullptr;
    EVP_MD_free(sha256);
    EVP_CIPHER_free(aes);
    EVP_CIPHER_free(chacha);
    return fetched;
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned threads = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 8;
    const unsigned rounds = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 200;
    if (threads < 2 || rounds == 0) {
        std::fprintf(stderr, "usage: engine_threads [THREADS >= 2] [ROUNDS >= 1]\n");
        return 2;
    }

    if (!warm_openssl_caches()) {
        std::fprintf(stderr, "engine_threads: OpenSSL cannot fetch the engine's algorithms\n");
        return 1;
    }

    // Built by whichever thread completes the first barrier phase, after
    // every thread has made its racing first calls.
    std::vector<CipherState> shared;
    std::barrier after_first_use(threads, [&]() noexcept {
        for (const Backend backend : kBackends) shared.push_back(CipherState::build(backend, kSharedKey));
    });
    // sealed[thread][backend][size]: what each thread sealed on the shared
    // states in the current round, opened by its neighbour.
    constexpr std::size_t kSlots = std::size(kBackends) * std::size(kSizes);
    std::vector<std::vector<std::string>> sealed(threads, std::vector<std::string>(kSlots));
    std::barrier round_boundary(threads);
    std::vector<Tally> tallies(threads);

    std::vector<std::jthread> workers;
    std::barrier start(threads);
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            Tally& tally = tallies[t];
            start.arrive_and_wait();
            own_states_pass(t, tally);
            after_first_use.arrive_and_wait();

            const unsigned neighbour = (t + 1) % threads;
            for (unsigned round = 0; round < rounds; ++round) {
                std::size_t slot = 0;
                for (const CipherState& state : shared) {
                    for (const std::size_t size : kSizes) {
                        sealed[t][slot++] = seal(state, payload(size, t), tally).value_or("");
                    }
                }
                round_boundary.arrive_and_wait();  // every thread has sealed
                slot = 0;
                for (const CipherState& state : shared) {
                    for (const std::size_t size : kSizes) {
                        open_both_ways(state, sealed[neighbour][slot++], payload(size, neighbour), tally);
                    }
                }
                round_boundary.arrive_and_wait();  // every thread has opened before the next round reseals
            }
        });
    }
    workers.clear();

    Tally total;
    for (const Tally& tally : tallies) {
        total.seals += tally.seals;
        total.opens += tally.opens;
        total.failures += tally.failures;
    }
    std::printf("engine_threads: %u threads, %u rounds on shared states, %lu seals and %lu opens, %lu failures\n",
                threads, rounds, total.seals, total.opens, total.failures);
    return total.failures == 0 ? 0 : 1;
}
