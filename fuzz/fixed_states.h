// The cipher states the opening harness works with. make_corpus.py seals its
// seed tokens under the same key, so that the fuzzer starts from tokens that
// authenticate and can explore what happens after the tag check.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "cipher/backend.h"
#include "cipher/cipher_state.h"
#include "core/buffer.h"
#include "testing/backends.h"

namespace tessaril::fuzzing {

// 0x000102030405060708090a0b0c0d0e0f; keep in step with make_corpus.py.
inline constexpr KeyValue kFuzzKey = (KeyValue{0x0001020304050607ULL} << 64) | 0x08090a0b0c0d0e0fULL;

inline const CipherState& fixed_state(Backend backend)
{
    static const auto states = testing::states_under(kFuzzKey);
    return states[backend_index(backend)];
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

inline bool same_bytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace tessaril::fuzzing
