#include "arguments.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "build_once.h"

namespace binding {
namespace {

constexpr std::array<const char*, PARAM_COUNT> PARAM_NAMES = {
    "backend", "key", "key_env", "data", "expires_at", "purpose", "token",
};

// Interned once, so that keyword names coming from call sites (which the
// compiler interns) usually match by pointer.
std::array<PyObject*, PARAM_COUNT> interned_storage;
constinit BuildOnce<PyObject*> interned_cell;

PyObject* const* interned_names() noexcept
{
    return interned_cell.get([]() -> PyObject** {
        for (std::size_t i = 0; i < PARAM_COUNT; ++i) {
            if (interned_storage[i] != nullptr) continue;  // kept from an earlier, failed attempt
            interned_storage[i] = PyUnicode_InternFromString(PARAM_NAMES[i]);
            if (interned_storage[i] == nullptr) return nullptr;
        }
        return interned_storage.data();
    });
}

const char* plural(std::size_t count, const char* one, const char* many) noexcept
{
    return count == 1 ? one : many;
}

bool too_many_positional(const Signature& signature, std::size_t given) noexcept
{
    const std::size_t total = signature.params.size();
    if (signature.required < total) {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zu %s given",
                     signature.function, signature.required, total, given, plural(given, "was", "were"));
    } else {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zu %s given", signature.function,
                     total, given, plural(given, "was", "were"));
    }
    return false;
}

// Index of the parameter named |name|, or -1 with no error for a name that
// matches none, or -2 with an exception set.
Py_ssize_t find_param(const Signature& signature, PyObject* name, PyObject* const* interned) noexcept
{
    for (std::size_t i = 0; i < signature.params.size(); ++i) {
        if (name == interned[static_cast<std::size_t>(signature.params[i])]) return static_cast<Py_ssize_t>(i);
    }
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "%s keywords must be strings", signature.function);
        return -2;
    }
    for (std::size_t i = 0; i < signature.params.size(); ++i) {
        const int equal = PyUnicode_Equal(name, interned[static_cast<std::size_t>(signature.params[i])]);
        if (equal < 0) return -2;
        if (equal == 1) return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

// Binds one keyword argument; |filled(i)| tells whether slot i is taken and
// |store(i, value)| takes it.
template <class Filled, class Store>
bool bind_keyword(const Signature& signature, PyObject* const* interned, PyObject* name, PyObject* value,
                  Filled filled, Store store) noexcept
{
    const Py_ssize_t index = find_param(signature, name, interned);
    if (index == -2) return false;
    if (index == -1) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", signature.function, name);
        return false;
    }
    const auto slot = static_cast<std::size_t>(index);
    if (filled(slot)) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", signature.function,
                     param_name(signature.params[slot]));
        return false;
    }
    store(slot, value);
    return true;
}

// Names the missing required parameters: 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
template <class Filled>
bool check_required(const Signature& signature, Filled filled) noexcept
{
    std::size_t missing = 0;
    for (std::size_t i = 0; i < signature.required; ++i) missing += filled(i) ? 0 : 1;
    if (missing == 0) return true;

    std::string names;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (filled(i)) continue;
        if (listed > 0) {
            if (missing == 2) {
                names += " and ";
            } else {
                names += listed + 1 == missing ? ", and " : ", ";
            }
        }
        names += '\'';
        names += param_name(signature.params[i]);
        names += '\'';
        ++listed;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", signature.function, missing,
                 plural(missing, "argument", "arguments"), names.c_str());
    return false;
}

PyObject* qualified_type_name(PyObject* object) noexcept
{
    return PyType_GetQualName(Py_TYPE(object));
}

}  // namespace

const char* param_name(Param param) noexcept
{
    return PARAM_NAMES[static_cast<std::size_t>(param)];
}

bool bind_vector(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 std::span<PyObject*> slots) noexcept
{
    const auto positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
    if (positional > signature.params.size()) return too_many_positional(signature, positional);
    for (PyObject*& slot : slots) slot = nullptr;
    for (std::size_t i = 0; i < positional; ++i) slots[i] = args[i];
    const bool has_keywords = kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0;
    // The common call, every required argument by position, needs no more.
    if (!has_keywords && positional >= signature.required) return true;

    const auto filled = [&](std::size_t i) { return slots[i] != nullptr; };
    if (has_keywords) {
        PyObject* const* interned = interned_names();
        if (interned == nullptr) return false;
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < count; ++k) {
            const auto store = [&](std::size_t i, PyObject* value) { slots[i] = value; };
            if (!bind_keyword(signature, interned, PyTuple_GET_ITEM(kwnames, k), args[positional + k], filled,
                              store)) {
                return false;
            }
        }
    }
    return check_required(signature, filled);
}

bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<Owned> slots) noexcept
{
    const auto positional = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (positional > signature.params.size()) return too_many_positional(signature, positional);
    for (std::size_t i = 0; i < positional; ++i) slots[i] = Owned::borrow(PyTuple_GET_ITEM(args, i));

    const auto filled = [&](std::size_t i) { return static_cast<bool>(slots[i]); };
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
        PyObject* const* interned = interned_names();
        if (interned == nullptr) return false;
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        bool ok = true;
        Py_BEGIN_CRITICAL_SECTION(kwargs);
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            const auto store = [&](std::size_t i, PyObject* v) { slots[i] = Owned::borrow(v); };
            if (!bind_keyword(signature, interned, name, value, filled, store)) {
                ok = false;
                break;
            }
        }
        Py_END_CRITICAL_SECTION();
        if (!ok) return false;
    }
    return check_required(signature, filled);
}

bool add_param_note(Param param) noexcept
{
    PyObject* raised = PyErr_GetRaisedException();
    Owned note(PyUnicode_FromFormat("while processing '%s'", param_name(param)));
    Owned added;
    if (note && raised != nullptr) added = Owned(PyObject_CallMethod(raised, "add_note", "O", note.get()));
    if (!added) PyErr_Clear();
    PyErr_SetRaisedException(raised);
    return false;
}

bool raise_not_instance(PyObject* object, const char* expected, bool none_by_name) noexcept
{
    if (none_by_name && object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return false;
    }
    Owned name(qualified_type_name(object));
    if (!name) return false;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
    return false;
}

bool extract_str(PyObject* object, std::string_view& out) noexcept
{
    if (!PyUnicode_Check(object)) return raise_not_instance(object, "str", true);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

bool extract_bytes(PyObject* object, std::span<const std::uint8_t>& out) noexcept
{
    if (!PyBytes_Check(object)) return raise_not_instance(object, "bytes", false);
    out = std::span(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                    static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
    return true;
}

// None or omitted means no expiry; otherwise any integer in 0 .. 2**64 - 1.
bool convert_expiry(PyObject* object, std::optional<std::uint64_t>& out) noexcept
{
    if (!is_given(object)) return true;
    Owned integer = PyLong_Check(object) ? Owned::borrow(object) : Owned(PyNumber_Index(object));
    if (!integer) return false;
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = static_cast<std::uint64_t>(value);
    return true;
}

bool extract_optional_str(PyObject* object, std::optional<std::string_view>& out) noexcept
{
    if (!is_given(object)) return true;
    std::string_view text;
    if (!extract_str(object, text)) return false;
    out = text;
    return true;
}

}  // namespace binding
