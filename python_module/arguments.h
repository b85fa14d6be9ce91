// Binding of call arguments to parameters, the per-argument note, and the
// conversions of single arguments (strict str / bytes extraction, expiry,
// purpose) shared by construction and the methods.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "owned.h"

namespace binding {

// Every parameter name that any function of the module takes.
enum class Param : unsigned char { backend, key, key_env, data, expires_at, purpose, token };

inline constexpr std::size_t PARAM_COUNT = 7;

[[nodiscard]] const char* param_name(Param param) noexcept;

// A function's parameters, all positional-or-keyword; the first |required|
// have no default. |function| is the name used in messages, e.g.
// "Tessaril.encrypt()".
struct Signature {
    const char* function;
    std::span<const Param> params;
    std::size_t required;
};

// Binds a vectorcall (positional arguments followed by the values of
// |kwnames|) to |slots|, one per parameter; unfilled slots stay nullptr.
// The slots borrow from |args|. Returns false with TypeError set.
[[nodiscard]] bool bind_vector(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, std::span<PyObject*> slots) noexcept;

// Binds a tuple of positional arguments and a dict (or nullptr) of
// keyword arguments, as tp_new receives them. The slots hold their own
// references, since conversions may run Python code that changes |kwargs|.
[[nodiscard]] bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs,
                              std::span<Owned> slots) noexcept;

// Whether a bound optional argument was given as something other than None.
[[nodiscard]] inline bool is_given(PyObject* argument) noexcept
{
    return argument != nullptr && argument != Py_None;
}

// Adds the note "while processing '<param>'" to the pending exception and
// returns false. A failure to add the note is discarded, leaving the
// original exception in place.
bool add_param_note(Param param) noexcept;

// Passes |ok| through; when it is false, adds the note of add_param_note.
// Inline, so that an argument that converts costs no call.
[[nodiscard]] inline bool noted(Param param, bool ok) noexcept
{
    return ok || add_param_note(param);
}

// Raises TypeError "'<type>' object is not an instance of '<expected>'",
// or "'None' is not an instance of '<expected>'" when |none_by_name| and
// |object| is None. Returns false.
bool raise_not_instance(PyObject* object, const char* expected, bool none_by_name) noexcept;

// |object| must be a str (or subclass); |out| views its cached UTF-8 form,
// valid while |object| lives.
[[nodiscard]] bool extract_str(PyObject* object, std::string_view& out) noexcept;

// |object| must be bytes (or subclass); |out| views its buffer in place.
[[nodiscard]] bool extract_bytes(PyObject* object, std::span<const std::uint8_t>& out) noexcept;

// Converts expires_at: None or omitted is no expiry; otherwise any integer
// (or object with __index__) in 0 .. 2**64 - 1, else OverflowError, or
// TypeError for a non-integer.
[[nodiscard]] bool convert_expiry(PyObject* object, std::optional<std::uint64_t>& out) noexcept;

// An optional str argument (purpose, key_env): None or omitted is absent,
// anything else goes through extract_str.
[[nodiscard]] bool extract_optional_str(PyObject* object, std::optional<std::string_view>& out) noexcept;

}  // namespace binding
