#include "cipher/openssl/library_context.h"

#include <array>
#include <atomic>
#include <mutex>

#include <openssl/crypto.h>
#include <openssl/provider.h>

namespace tessaril {
namespace {

std::mutex fetch_lock;
OSSL_LIB_CTX* engine_context = nullptr;  // guarded by fetch_lock; never freed
std::array<std::atomic<EVP_CIPHER*>, Backends::COUNT> fetched{};  // indexed by backend tag

// The engine's context, made on first success. A context made with
// OSSL_LIB_CTX_new reads no configuration unless asked to, and has no
// provider until one is loaded. Caller holds fetch_lock.
OSSL_LIB_CTX* context_locked() noexcept
{
    if (engine_context != nullptr) return engine_context;
#ifdef TESSARILS_PRIVATE_LIBCRYPTO
    // This libcrypto is the engine's alone, so its process-wide context may
    // skip the configuration file too: the library then reads none at all.
    // A shared libcrypto's configuration belongs to its other users.
    if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) return nullptr;
#endif
    OSSL_LIB_CTX* fresh = OSSL_LIB_CTX_new();
    if (fresh == nullptr) return nullptr;
    if (OSSL_PROVIDER_load(fresh, "default") == nullptr) {
        OSSL_LIB_CTX_free(fresh);
        return nullptr;
    }
    engine_context = fresh;
    return engine_context;
}

}  // namespace

const EVP_CIPHER* library_cipher(Backend backend) noexcept
{
    const std::size_t index = backend_index(backend);
    std::atomic<EVP_CIPHER*>& slot = fetched[index];
    if (EVP_CIPHER* cipher = slot.load(std::memory_order_acquire)) return cipher;

    const std::lock_guard lock(fetch_lock);
    EVP_CIPHER* cipher = slot.load(std::memory_order_relaxed);
    if (cipher == nullptr) {
        OSSL_LIB_CTX* context = context_locked();
        cipher = context == nullptr ? nullptr : EVP_CIPHER_fetch(context, Backends::OPENSSL_CIPHERS[index], nullptr);
        slot.store(cipher, std::memory_order_release);
    }
    return cipher;
}

}  // namespace tessaril
