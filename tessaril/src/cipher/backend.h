// The closed choice of AEAD construction, and the one table of what differs
// between the constructions. Everything else (key derivation, the cipher
// state's variant, the token codec's nonce check, the OpenSSL cipher fetch,
// the Python members, every nonce buffer) reads this table, so a new
// backend is one enumerator, its case label below, one row and its
// adapter. The compiler rejects the rest: an enumerator without a case
// label (-Wswitch, an error here in every build), an enumerator without a
// row or a row without an enumerator (the counts differ), rows out of tag
// order, and two backends with one nonce size (which would make their
// tokens indistinguishable).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

#include "cipher/aes256gcm/aes256gcm_context.h"
#include "cipher/sizes.h"
#include "cipher/xchacha20poly1305/xchacha20poly1305.h"

namespace tessaril {

// The tag is shared with Python (int(Backend.X)) and indexes every table.
enum class Backend : std::uint8_t {
    AES256_GCM = 0,
    XCHACHA20_POLY1305 = 1,
};

// One backend's row. The nonce size comes from the adapter, so the two
// cannot disagree; it is also what tells the backends' tokens apart: a
// token's first field decodes to exactly this many bytes or the token is
// refused before any key is tried.
template <Backend Tag, class AdapterType>
struct BackendRow {
    static constexpr Backend TAG = Tag;
    using Adapter = AdapterType;
    static constexpr std::size_t NONCE_BYTES = AdapterType::NONCE_BYTES;
};

struct Aes256GcmRow : BackendRow<Backend::AES256_GCM, Aes256GcmContext> {
    static constexpr std::string_view KEY_LABEL = "aes256gcm";  // appended to the key before hashing
    static constexpr const char* OPENSSL_CIPHER = "AES-256-GCM";
    static constexpr const char* PYTHON_MEMBER = "AES256_GCM";
};

struct XChaCha20Poly1305Row : BackendRow<Backend::XCHACHA20_POLY1305, XChaCha20Poly1305Context> {
    static constexpr std::string_view KEY_LABEL = "xchacha20poly1305";
    // The long path runs OpenSSL's ChaCha20-Poly1305 on an HChaCha20 subkey.
    static constexpr const char* OPENSSL_CIPHER = "ChaCha20-Poly1305";
    static constexpr const char* PYTHON_MEMBER = "XCHACHA20_POLY1305";
};

// The rows in tag order; the enum-indexed tables below are derived from it.
template <class... Rows>
struct BackendTable {
    static constexpr std::size_t COUNT = sizeof...(Rows);
    using Adapter = std::variant<typename Rows::Adapter...>;

    static constexpr std::array<Backend, COUNT> ALL = {Rows::TAG...};
    static constexpr std::array<std::size_t, COUNT> NONCE_BYTES = {Rows::NONCE_BYTES...};
    static constexpr std::array<std::string_view, COUNT> KEY_LABELS = {Rows::KEY_LABEL...};
    static constexpr std::array<const char*, COUNT> OPENSSL_CIPHERS = {Rows::OPENSSL_CIPHER...};
    static constexpr std::array<const char*, COUNT> PYTHON_MEMBERS = {Rows::PYTHON_MEMBER...};
    // What a nonce buffer for any backend must hold.
    static constexpr std::size_t MAX_NONCE_BYTES = std::ranges::max(NONCE_BYTES);
};

using Backends = BackendTable<Aes256GcmRow, XChaCha20Poly1305Row>;

// Whether |backend| is one of the enumerators. The switch has no default,
// so an enumerator added without a case label here fails to compile.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
consteval bool is_enumerator(Backend backend) noexcept
{
    switch (backend) {
    case Backend::AES256_GCM:
    case Backend::XCHACHA20_POLY1305:
        return true;
    }
    return false;
}
#pragma GCC diagnostic pop

consteval std::size_t enumerator_count() noexcept
{
    std::size_t count = 0;
    for (unsigned tag = 0; tag <= UINT8_MAX; ++tag) count += is_enumerator(static_cast<Backend>(tag)) ? 1 : 0;
    return count;
}
static_assert(enumerator_count() == Backends::COUNT, "every backend enumerator needs one row in Backends");

consteval bool rows_in_tag_order() noexcept
{
    for (std::size_t i = 0; i < Backends::COUNT; ++i) {
        if (!is_enumerator(Backends::ALL[i]) || std::to_underlying(Backends::ALL[i]) != i) return false;
    }
    return true;
}
static_assert(rows_in_tag_order(), "backend rows must be listed in tag order, one per enumerator");

// A token names no backend: its nonce field's size is what tells them apart.
consteval bool nonce_sizes_distinct() noexcept
{
    for (std::size_t i = 0; i < Backends::COUNT; ++i) {
        for (std::size_t j = i + 1; j < Backends::COUNT; ++j) {
            if (Backends::NONCE_BYTES[i] == Backends::NONCE_BYTES[j]) return false;
        }
    }
    return true;
}
static_assert(nonce_sizes_distinct(), "two backends share a nonce size, which alone tells their tokens apart");

constexpr std::size_t backend_index(Backend backend) noexcept
{
    return std::to_underlying(backend);
}

constexpr std::size_t nonce_size(Backend backend) noexcept
{
    return Backends::NONCE_BYTES[backend_index(backend)];
}

constexpr std::size_t sealed_size(std::size_t plaintext_bytes) noexcept
{
    return plaintext_bytes + TAG_BYTES;
}

}  // namespace tessaril
