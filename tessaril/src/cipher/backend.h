// The closed choice of AEAD construction, and the one table of what differs
// between the constructions. Everything else (key derivation, the cipher
// state's variant, the token codec's nonce check, the OpenSSL cipher fetch,
// the Python members) reads this table, so a new backend is one enumerator,
// one row and its adapter; the checks below make the compiler reject a
// table that is out of step with the enum.
#pragma once

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
};

using Backends = BackendTable<Aes256GcmRow, XChaCha20Poly1305Row>;

// Every enumerator needs a row, at its tag's position. The switch has no
// default, so -Wswitch (an error in every build) names an enumerator added
// without one; the loop rejects rows out of tag order.
consteval bool rows_match_enum() noexcept
{
    for (std::size_t i = 0; i < Backends::COUNT; ++i) {
        switch (Backends::ALL[i]) {
        case Backend::AES256_GCM:
        case Backend::XCHACHA20_POLY1305:
            break;
        }
        if (std::to_underlying(Backends::ALL[i]) != i) return false;
    }
    return true;
}
static_assert(rows_match_enum(), "backend rows must be listed in tag order, one per enumerator");

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
