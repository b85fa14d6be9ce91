// The token argument of decrypt and decrypt_for.
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

namespace binding {

// Reads |object| as extract_str does, except that a string of more code
// points than the longest token has bytes (every code point takes at least
// one UTF-8 byte) is not converted: it can only be refused as an invalid
// token, and converting it would cost time in proportion to its length and
// leave a UTF-8 copy attached to the caller's string. |out| is then nullopt.
// Fails as the conversion would: TypeError for a non-str, and for a string
// holding a surrogate the interpreter's UnicodeEncodeError, with the same
// message, positions and object.
[[nodiscard]] bool extract_token(PyObject* object, std::optional<std::string_view>& out) noexcept;

}  // namespace binding
