#include "errors.h"

#include "build_once.h"
#include "owned.h"

namespace binding {
namespace {

using tessaril::ErrorKind;

static_assert(tessaril::ERROR_KIND_COUNT == 14, "map every error kind below");
static_assert(static_cast<std::size_t>(ErrorKind::RandomnessUnavailable) + 1 == tessaril::ERROR_KIND_COUNT,
              "RandomnessUnavailable must stay the last error kind");

// Every kind is an input or environment error the caller can act on, so
// all of them are ValueError; the switch has no default so that a new
// kind fails to compile until it is placed here.
PyObject* exception_type_for(ErrorKind kind) noexcept
{
    switch (kind) {
    case ErrorKind::MissingKey:
    case ErrorKind::InvalidKeyEnv:
    case ErrorKind::ConflictingKeySources:
    case ErrorKind::InvalidToken:
    case ErrorKind::Tampered:
    case ErrorKind::Expired:
    case ErrorKind::ZeroExpiry:
    case ErrorKind::PurposeMismatch:
    case ErrorKind::EmptyPurpose:
    case ErrorKind::PurposeTooLong:
    case ErrorKind::PlaintextTooLong:
    case ErrorKind::InvalidUtf8:
    case ErrorKind::InvalidBase64:
    case ErrorKind::RandomnessUnavailable:
        return PyExc_ValueError;
    }
    return nullptr;
}

constinit BuildOnce<PyObject> internal_fault_cell;

PyObject* internal_fault_type() noexcept
{
    return internal_fault_cell.get([] {
        return PyErr_NewExceptionWithDoc(
            "tessarils.InternalFault",
            "A broken internal invariant of tessarils; not an input error. Deliberately not an\n"
            "Exception subclass, so that ordinary error handling does not hide it.",
            PyExc_BaseException, nullptr);
    });
}

}  // namespace

PyObject* raise_error(ErrorKind kind) noexcept
{
    PyObject* type = exception_type_for(kind);
    if (type == nullptr) return raise_internal_fault("unknown error kind");
    const std::string_view text = tessaril::message(kind);
    Owned message(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!message) return nullptr;
    PyErr_SetObject(type, message.get());
    return nullptr;
}

PyObject* raise_internal_fault(const char* text) noexcept
{
    PyObject* type = internal_fault_type();
    if (type != nullptr) PyErr_SetString(type, text);
    return nullptr;
}

PyObject* raise_utf8_fault(const tessaril::Utf8Fault& fault) noexcept
{
    if (fault.length == 0) {
        PyErr_Format(PyExc_ValueError, "incomplete utf-8 byte sequence from index %zu", fault.index);
    } else {
        PyErr_Format(PyExc_ValueError, "invalid utf-8 sequence of %zu bytes from index %zu", fault.length,
                     fault.index);
    }
    return nullptr;
}

PyObject* result_creation_failed(const char* what) noexcept
{
    PyErr_WriteUnraisable(nullptr);
    return raise_internal_fault(what);
}

}  // namespace binding
