#include "tessaril_type.h"

#include <array>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "arguments.h"
#include "backend_type.h"
#include "build_once.h"
#include "errors.h"
#include "key_intake.h"
#include "cipher/cipher_state.h"
#include "core/internal_fault.h"
#include "core/secret.h"
#include "token/open.h"
#include "token/seal.h"
#include "codec/utf8.h"
#include "owned.h"
#include "token_argument.h"

namespace binding {
namespace {

using tessaril::CipherState;
using tessaril::ErrorKind;

// The cipher state is constructed in place once the object exists and
// destroyed in dealloc; its storage is raw so that no Python code can see
// an object whose state has not been built.
struct TessarilObject {
    PyObject_HEAD
    alignas(CipherState) unsigned char state_storage[sizeof(CipherState)];
};
static_assert(alignof(CipherState) <= alignof(std::max_align_t), "the object allocator's alignment suffices");

CipherState& state_of(PyObject* self) noexcept
{
    return *std::launder(reinterpret_cast<CipherState*>(reinterpret_cast<TessarilObject*>(self)->state_storage));
}

// ---- construction -------------------------------------------------------

constexpr std::array NEW_PARAMS = {Param::backend, Param::key, Param::key_env};
constexpr Signature NEW_SIGNATURE = {"Tessaril.__new__()", NEW_PARAMS, 1};

PyObject* tessaril_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept
{
    std::array<Owned, NEW_PARAMS.size()> bound;
    if (!bind_tuple(NEW_SIGNATURE, args, kwargs, bound)) return nullptr;

    // Convert every argument first, so that a wrongly typed argument is
    // reported before any complaint about how the key sources combine.
    tessaril::Backend backend{};
    if (!noted(Param::backend, extract_backend(bound[0].get(), backend))) return nullptr;

    std::optional<tessaril::KeyValue> key;
    if (is_given(bound[1].get())) {
        tessaril::KeyValue value = 0;
        if (!noted(Param::key, convert_key(bound[1].get(), value))) return nullptr;
        key = value;
    }

    std::optional<std::string_view> key_env;
    if (!noted(Param::key_env, extract_optional_str(bound[2].get(), key_env))) return nullptr;

    const tessaril::Result<tessaril::KeyValue> chosen = choose_key(key, key_env);
    if (!chosen) return raise_error(chosen.error());

    // The state is complete before the object exists; if allocation fails
    // it is destroyed (and wiped) on the way out.
    try {
        CipherState state = CipherState::build(backend, *chosen);
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        ::new (static_cast<void*>(reinterpret_cast<TessarilObject*>(self)->state_storage))
            CipherState(std::move(state));
        return self;
    } catch (const tessaril::InternalFault& fault) {
        return raise_internal_fault(fault.what());
    }
}

void tessaril_dealloc(PyObject* self) noexcept
{
    PyTypeObject* type = Py_TYPE(self);
    state_of(self).~CipherState();
    type->tp_free(self);
    Py_DECREF(type);
}

// ---- methods ------------------------------------------------------------

PyObject* token_to_python(const std::string& token) noexcept
{
    PyObject* text = PyUnicode_FromStringAndSize(token.data(), static_cast<Py_ssize_t>(token.size()));
    return text != nullptr ? text : result_creation_failed("could not create the token str");
}

// The engine's copy of the plaintext is wiped once the bytes object holds
// it, or could not be made: the bytes object cannot be wiped, but the
// engine's copy would otherwise stay in freed memory as a second one.
PyObject* plaintext_to_python(tessaril::Buffer& plaintext) noexcept
{
    PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(plaintext.data()),
                                                static_cast<Py_ssize_t>(plaintext.size()));
    tessaril::secure_wipe(plaintext.span());
    return bytes != nullptr ? bytes : result_creation_failed("could not create the plaintext bytes");
}

// Runs one engine call; a broken engine invariant surfaces as the internal
// fault instead of escaping into the interpreter.
template <class Call, class Convert>
PyObject* run_engine(Call call, Convert to_python) noexcept
{
    try {
        auto result = call();
        if (!result) return raise_error(result.error());
        return to_python(*result);
    } catch (const tessaril::InternalFault& fault) {
        return raise_internal_fault(fault.what());
    }
}

constexpr std::array ENCRYPT_PARAMS = {Param::data, Param::expires_at, Param::purpose};
constexpr Signature ENCRYPT_SIGNATURE = {"Tessaril.encrypt()", ENCRYPT_PARAMS, 1};

PyObject* tessaril_encrypt(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept
{
    std::array<PyObject*, ENCRYPT_PARAMS.size()> bound{};
    if (!bind_vector(ENCRYPT_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;

    std::span<const std::uint8_t> data;
    if (!noted(Param::data, extract_bytes(bound[0], data))) return nullptr;
    std::optional<std::uint64_t> expires_at;
    if (!noted(Param::expires_at, convert_expiry(bound[1], expires_at))) return nullptr;
    std::optional<std::string_view> purpose;
    if (!noted(Param::purpose, extract_optional_str(bound[2], purpose))) return nullptr;

    if (const auto fault = tessaril::find_utf8_fault(data)) return raise_utf8_fault(*fault);
    return run_engine([&] { return tessaril::seal_token(state_of(self), data, expires_at, purpose); },
                      token_to_python);
}

constexpr std::array DECRYPT_PARAMS = {Param::token};
constexpr Signature DECRYPT_SIGNATURE = {"Tessaril.decrypt()", DECRYPT_PARAMS, 1};

PyObject* tessaril_decrypt(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept
{
    std::array<PyObject*, DECRYPT_PARAMS.size()> bound{};
    if (!bind_vector(DECRYPT_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;

    std::optional<std::string_view> token;
    if (!noted(Param::token, extract_token(bound[0], token))) return nullptr;
    if (!token) return raise_error(tessaril::ErrorKind::InvalidToken);
    return run_engine([&] { return tessaril::decrypt(state_of(self), *token); }, plaintext_to_python);
}

constexpr std::array DECRYPT_FOR_PARAMS = {Param::token, Param::purpose};
constexpr Signature DECRYPT_FOR_SIGNATURE = {"Tessaril.decrypt_for()", DECRYPT_FOR_PARAMS, 2};

PyObject* tessaril_decrypt_for(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept
{
    std::array<PyObject*, DECRYPT_FOR_PARAMS.size()> bound{};
    if (!bind_vector(DECRYPT_FOR_SIGNATURE, args, nargs, kwnames, bound)) return nullptr;

    std::optional<std::string_view> token;
    if (!noted(Param::token, extract_token(bound[0], token))) return nullptr;
    std::string_view purpose;
    if (!noted(Param::purpose, extract_str(bound[1], purpose))) return nullptr;
    if (!token) return raise_error(tessaril::ErrorKind::InvalidToken);
    return run_engine([&] { return tessaril::decrypt_for(state_of(self), *token, purpose); }, plaintext_to_python);
}

// ---- type ---------------------------------------------------------------

constexpr const char TESSARIL_DOC[] =
    "Tessaril(backend, key=None, key_env=None)\n"
    "--\n"
    "\n"
    "Encrypts UTF-8 bytes using the selected AEAD backend.\n"
    "\n"
    "Pass exactly one of key (a random 128-bit integer) or key_env\n"
    "(the name of an environment variable containing a decimal key).\n"
    "Reuse the same key and backend across processes that share tokens.\n"
    "Invalid key configuration raises ValueError; a direct key above\n"
    "2**128 - 1 raises OverflowError. A negative direct key raises ValueError\n"
    "or OverflowError depending on the Python interpreter.\n"
    "\n"
    "Version 3.0 reads 2.x tokens, but rejects expires_at=0 on encryption.";

constexpr const char ENCRYPT_DOC[] =
    "encrypt($self, data, expires_at=None, purpose=None)\n"
    "--\n"
    "\n"
    "Encrypts up to 16,384 UTF-8 bytes and returns a str token.\n"
    "\n"
    "expires_at must be None (no expiry) or a positive Unix timestamp\n"
    "in seconds; zero raises ValueError. An explicit purpose must contain\n"
    "1 to 255 UTF-8 bytes; None uses \"session\".\n"
    "\n"
    "Failures of the token engine, unavailable operating system randomness\n"
    "included, raise ValueError. An expiry outside the\n"
    "unsigned 64-bit integer range raises OverflowError.";

constexpr const char DECRYPT_DOC[] =
    "decrypt($self, token)\n"
    "--\n"
    "\n"
    "Decrypts a str token for the default purpose (\"session\") to bytes.\n"
    "\n"
    "Raises ValueError for malformed, oversized, tampered, expired,\n"
    "wrong-key, wrong-backend, or wrong-purpose tokens. Authenticity is\n"
    "verified before purpose and expiry. Use decrypt_for for another purpose.";

constexpr const char DECRYPT_FOR_DOC[] =
    "decrypt_for($self, token, purpose)\n"
    "--\n"
    "\n"
    "Decrypts a str token to bytes, requiring an exact purpose match.\n"
    "\n"
    "purpose is a required str and can also be \"session\". Token errors\n"
    "raise ValueError, as with decrypt; authenticity is checked before\n"
    "purpose and expiry.";

template <auto Method>
constexpr PyCFunction as_cfunction() noexcept
{
    // CPython stores every calling convention as PyCFunction and casts back
    // according to the METH_ flags.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Method));
}

PyMethodDef tessaril_methods[] = {
    {"encrypt", as_cfunction<&tessaril_encrypt>(), METH_FASTCALL | METH_KEYWORDS, ENCRYPT_DOC},
    {"decrypt", as_cfunction<&tessaril_decrypt>(), METH_FASTCALL | METH_KEYWORDS, DECRYPT_DOC},
    {"decrypt_for", as_cfunction<&tessaril_decrypt_for>(), METH_FASTCALL | METH_KEYWORDS, DECRYPT_FOR_DOC},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot tessaril_slots[] = {
    {Py_tp_doc, const_cast<char*>(TESSARIL_DOC)},
    {Py_tp_new, reinterpret_cast<void*>(&tessaril_new)},
    {Py_tp_methods, tessaril_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(&tessaril_dealloc)},
    {0, nullptr},
};

PyType_Spec tessaril_spec = {
    .name = "builtins.Tessaril",
    .basicsize = static_cast<int>(sizeof(TessarilObject)),
    .itemsize = 0,
    .flags = 0,
    .slots = tessaril_slots,
};

constinit BuildOnce<PyTypeObject> type_cell;

}  // namespace

PyTypeObject* tessaril_type() noexcept
{
    return type_cell.get([] { return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&tessaril_spec)); });
}

}  // namespace binding
