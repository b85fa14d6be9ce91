// The Backend type: a closed enumeration of the two AEAD constructions.
#pragma once

#include <Python.h>

#include "cipher/backend.h"

namespace binding {

// The process-wide Backend type, built with its two members on first use.
// Returns nullptr with an exception set if it cannot be built.
[[nodiscard]] PyTypeObject* backend_type() noexcept;

// Accepts a Backend member and yields its tag; otherwise raises TypeError
// "'<type>' object is not an instance of 'Backend'". Returns false on error.
[[nodiscard]] bool extract_backend(PyObject* object, tessaril::Backend& out) noexcept;

}  // namespace binding
