// The Tessaril type: construction from a backend and a key, and the
// encrypt / decrypt / decrypt_for methods.
#pragma once

#include <Python.h>

namespace binding {

// The process-wide Tessaril type, built on first use. Returns nullptr with
// an exception set if it cannot be built.
[[nodiscard]] PyTypeObject* tessaril_type() noexcept;

}  // namespace binding
