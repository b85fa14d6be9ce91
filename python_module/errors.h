// How engine failures and broken invariants become Python exceptions.
#pragma once

#include <Python.h>

#include "core/error_kind.h"
#include "codec/utf8.h"

namespace binding {

// Raises ValueError carrying exactly the message of |kind|. Returns nullptr.
PyObject* raise_error(tessaril::ErrorKind kind) noexcept;

// Raises the internal-fault exception (derived from BaseException, so that
// `except Exception` does not swallow it) with |text|. Returns nullptr.
PyObject* raise_internal_fault(const char* text) noexcept;

// Raises ValueError describing the first malformed sequence of a plaintext
// passed to encrypt, as bytes.decode would. Returns nullptr.
PyObject* raise_utf8_fault(const tessaril::Utf8Fault& fault) noexcept;

// For a result object the interpreter failed to create: reports the pending
// exception as unraisable, then raises the internal fault. Returns nullptr.
PyObject* result_creation_failed(const char* what) noexcept;

}  // namespace binding
