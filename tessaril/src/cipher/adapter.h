// What every AEAD adapter shares: the two paths it can run, the one rule
// that picks between them, and the shape the engine core relies on.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/sizes.h"

namespace tessaril {

// The two implementations an adapter runs; they give identical output.
enum class AeadPath : std::uint8_t {
    // libsodium in one call: no per-call setup, the fastest for short messages.
    Short,
    // OpenSSL's widest vector code, which pays a per-call context setup:
    // the fastest for long messages.
    Long,
};

// Up to this many bytes of plaintext the short path wins on both backends
// (tessaril_aead_bench shows the crossing).
inline constexpr std::size_t SHORT_PATH_MAX_BYTES = 256;

// An immutable AEAD: built once from the key, every call const. seal
// encrypts |plaintext| into |ciphertext| (the same size; it may be the
// plaintext itself, but must not otherwise overlap it) and writes the tag.
// open decrypts |ciphertext| into |plaintext| (same size and aliasing rule)
// and returns true only if |tag| authenticates it; on false, and when it
// throws, |plaintext| holds only zeros. path_available says whether this process can run a
// path.
template <class A>
concept AeadAdapter = requires(const A& adapter, AeadPath path, NonceView<A::NONCE_BYTES> nonce,
                               std::span<const std::uint8_t> in, std::span<std::uint8_t> out, TagOut tag_out,
                               TagView tag) {
    { A::path_available(path) } noexcept -> std::same_as<bool>;
    adapter.seal(path, nonce, in, in, out, tag_out);
    { adapter.open(path, nonce, in, in, out, tag) } -> std::same_as<bool>;
};

// The path an adapter of type A takes for a message of |bytes| bytes.
template <AeadAdapter A>
[[nodiscard]] AeadPath path_for(std::size_t bytes) noexcept
{
    const bool short_fits = bytes <= SHORT_PATH_MAX_BYTES || !A::path_available(AeadPath::Long);
    return short_fits && A::path_available(AeadPath::Short) ? AeadPath::Short : AeadPath::Long;
}

}  // namespace tessaril
