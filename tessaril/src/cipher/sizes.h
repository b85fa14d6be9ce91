// Key, nonce and tag sizes of the AEAD constructions, and span types tied to
// them, shared by the adapters and the engine core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessaril {

inline constexpr std::size_t KEY_BYTES = 32;
inline constexpr std::size_t TAG_BYTES = 16;
inline constexpr std::size_t AES_NONCE_BYTES = 12;
inline constexpr std::size_t XCHACHA_NONCE_BYTES = 24;

using KeyView = std::span<const std::uint8_t, KEY_BYTES>;
using TagView = std::span<const std::uint8_t, TAG_BYTES>;
using TagOut = std::span<std::uint8_t, TAG_BYTES>;
template <std::size_t Bytes>
using NonceView = std::span<const std::uint8_t, Bytes>;

}  // namespace tessaril
