#include "cipher/cipher_state.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include <sodium/crypto_hash_sha256.h>

namespace tessaril {
namespace {

constexpr std::size_t KEY_VALUE_BYTES = 16;
constexpr std::size_t LONGEST_LABEL_BYTES = std::ranges::max(Backends::KEY_LABELS, {}, &std::string_view::size).size();

}  // namespace

DerivedKey derive_aead_key(Backend backend, KeyValue key) noexcept
{
    // 16 big-endian key bytes (leading zeros kept) followed by the label: at
    // most 33 bytes, one SHA-256 block.
    Secret<KEY_VALUE_BYTES + LONGEST_LABEL_BYTES> input;
    const auto bytes = input.bytes();
    for (std::size_t i = 0; i < KEY_VALUE_BYTES; ++i) {
        bytes[i] = static_cast<std::uint8_t>(key >> (8 * (KEY_VALUE_BYTES - 1 - i)));
    }
    const std::string_view name = Backends::KEY_LABELS[backend_index(backend)];
    for (std::size_t i = 0; i < name.size(); ++i) bytes[KEY_VALUE_BYTES + i] = static_cast<std::uint8_t>(name[i]);

    // libsodium's SHA-256 neither allocates nor fails, so no path can yield
    // a key that was never computed.
    static_assert(crypto_hash_sha256_BYTES == KEY_BYTES);
    DerivedKey derived;
    crypto_hash_sha256(derived.bytes().data(), bytes.data(), KEY_VALUE_BYTES + name.size());
    return derived;
}

template <std::size_t Index>
CipherState CipherState::make(KeyView key)
{
    return CipherState(Adapter(std::in_place_index<Index>, key));
}

CipherState CipherState::build(Backend backend, KeyValue key)
{
    // One constructor per backend, indexed by tag like the variant itself.
    static constexpr auto MAKERS = []<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<CipherState (*)(KeyView), sizeof...(I)>{&make<I>...};
    }(std::make_index_sequence<Backends::COUNT>{});
    const DerivedKey derived = derive_aead_key(backend, key);
    return MAKERS[backend_index(backend)](derived.bytes());
}

void CipherState::seal(std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> aad,
                       std::span<const std::uint8_t> plaintext, std::span<std::uint8_t> ciphertext, TagOut tag) const
{
    std::visit(
        [&]<AeadAdapter A>(const A& adapter) {
            adapter.seal(path_for<A>(plaintext.size()), nonce.first<A::NONCE_BYTES>(), aad, plaintext, ciphertext,
                         tag);
        },
        adapter_);
}

bool CipherState::open(std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> aad,
                       std::span<const std::uint8_t> ciphertext, std::span<std::uint8_t> plaintext, TagView tag) const
{
    return std::visit(
        [&]<AeadAdapter A>(const A& adapter) {
            return adapter.open(path_for<A>(ciphertext.size()), nonce.first<A::NONCE_BYTES>(), aad, ciphertext,
                                plaintext, tag);
        },
        adapter_);
}

}  // namespace tessaril
