// Backend helpers for the tests, fuzz harnesses and benchmarks, read from
// the engine's backend table so that none of them assumes two backends.
#pragma once

#include <array>
#include <string>
#include <utility>

#include "cipher/backend.h"
#include "cipher/cipher_state.h"

namespace tessaril::testing {

// A backend other than |backend| (the next one in tag order).
constexpr Backend other_backend(Backend backend) noexcept
{
    static_assert(Backends::COUNT > 1);
    return Backends::ALL[(backend_index(backend) + 1) % Backends::COUNT];
}

// A name for test listings: the Python member's.
inline std::string backend_name(Backend backend)
{
    return Backends::PYTHON_MEMBERS[backend_index(backend)];
}

// One cipher state per backend under |key|, indexed by tag.
inline std::array<CipherState, Backends::COUNT> states_under(KeyValue key)
{
    return [key]<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<CipherState, Backends::COUNT>{CipherState::build(Backends::ALL[I], key)...};
    }(std::make_index_sequence<Backends::COUNT>{});
}

}  // namespace tessaril::testing
