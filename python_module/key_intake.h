// Turning the caller's key source into the engine's 128-bit key value.
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

#include "cipher/cipher_state.h"
#include "core/error_kind.h"

namespace binding {

// Converts a direct key (anything with __index__) to an unsigned 128-bit
// value. Returns false with TypeError, ValueError (negative) or
// OverflowError (2**128 or more) set.
[[nodiscard]] bool convert_key(PyObject* key, tessaril::KeyValue& out) noexcept;

// Reads the environment variable |name| once and parses it as decimal text
// (tessaril::parse_decimal_key); every failure (absent, unusable name, not
// Unicode, not a valid number) is InvalidKeyEnv.
[[nodiscard]] tessaril::Result<tessaril::KeyValue> key_from_environment(std::string_view name);

// The key from exactly one source: |key| as converted, or the number in the
// environment variable named |key_env|. Both given is ConflictingKeySources,
// neither MissingKey; then key_from_environment's failures.
[[nodiscard]] tessaril::Result<tessaril::KeyValue> choose_key(std::optional<tessaril::KeyValue> key,
                                                            std::optional<std::string_view> key_env);

}  // namespace binding
