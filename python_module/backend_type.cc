#include "backend_type.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ranges>
#include <string_view>

#include "arguments.h"
#include "build_once.h"
#include "errors.h"
#include "owned.h"

namespace binding {
namespace {

struct BackendObject {
    PyObject_HEAD
    std::uint8_t tag;
};

// Member names (class attributes) in tag order, and their reprs, both from
// the engine's backend table.
constexpr auto MEMBER_NAMES = tessaril::Backends::PYTHON_MEMBERS;

constexpr std::string_view REPR_PREFIX = "Backend.";
constexpr std::size_t LONGEST_REPR_BYTES =
    REPR_PREFIX.size() + std::ranges::max(MEMBER_NAMES | std::views::transform([](std::string_view name) {
                                              return name.size();
                                          }));

constexpr const char BACKEND_DOC[] =
    "Which standard AEAD construction to use. There is no \"auto\" option —\n"
    "a token minted under one backend can't be read by the other, so pick\n"
    "one explicitly and keep it consistent across every process that needs\n"
    "to read the same tokens.";

std::uint8_t tag_of(PyObject* self) noexcept
{
    return reinterpret_cast<BackendObject*>(self)->tag;
}

PyObject* backend_repr(PyObject* self) noexcept
{
    const std::string_view name = MEMBER_NAMES[tag_of(self)];
    std::array<char, LONGEST_REPR_BYTES> repr{};
    const auto end = std::ranges::copy(name, std::ranges::copy(REPR_PREFIX, repr.begin()).out).out;
    PyObject* text = PyUnicode_FromStringAndSize(repr.data(), end - repr.begin());
    return text != nullptr ? text : result_creation_failed("could not create the repr of a Backend member");
}

PyObject* backend_int(PyObject* self) noexcept
{
    PyObject* value = PyLong_FromLongLong(static_cast<long long>(tag_of(self)));
    return value != nullptr ? value : result_creation_failed("could not create the int of a Backend member");
}

PyObject* equality_result(int op, bool same) noexcept
{
    if (op == Py_EQ) return PyBool_FromLong(same);
    if (op == Py_NE) return PyBool_FromLong(!same);
    Py_RETURN_NOTIMPLEMENTED;
}

// Members equal each other by tag and integers by value; there is no
// ordering, and nothing raises: every unsupported case is NotImplemented.
PyObject* backend_richcompare(PyObject* self, PyObject* other, int op) noexcept
{
    if (op < Py_LT || op > Py_GE) Py_RETURN_NOTIMPLEMENTED;
    PyTypeObject* type = Py_TYPE(self);
    if (PyObject_TypeCheck(other, type)) return equality_result(op, tag_of(self) == tag_of(other));
    const long long value = PyLong_AsLongLong(other);
    if (value == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        Py_RETURN_NOTIMPLEMENTED;
    }
    return equality_result(op, value == static_cast<long long>(tag_of(self)));
}

void backend_dealloc(PyObject* self) noexcept
{
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot backend_slots[] = {
    {Py_tp_doc, const_cast<char*>(BACKEND_DOC)},
    {Py_tp_repr, reinterpret_cast<void*>(&backend_repr)},
    {Py_nb_int, reinterpret_cast<void*>(&backend_int)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&backend_richcompare)},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(&backend_dealloc)},
    {0, nullptr},
};

PyType_Spec backend_spec = {
    .name = "builtins.Backend",
    .basicsize = static_cast<int>(sizeof(BackendObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = backend_slots,
};

constinit BuildOnce<PyTypeObject> type_cell;

Owned new_member(PyTypeObject* type, std::uint8_t tag) noexcept
{
    Owned member(type->tp_alloc(type, 0));
    if (member) reinterpret_cast<BackendObject*>(member.get())->tag = tag;
    return member;
}

PyTypeObject* build_backend_type() noexcept
{
    Owned type(PyType_FromSpec(&backend_spec));
    if (!type) return nullptr;
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    for (std::size_t tag = 0; tag < MEMBER_NAMES.size(); ++tag) {
        const Owned member = new_member(type_object, static_cast<std::uint8_t>(tag));
        if (!member || PyObject_SetAttrString(type.get(), MEMBER_NAMES[tag], member.get()) < 0) return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace

PyTypeObject* backend_type() noexcept
{
    return type_cell.get(build_backend_type);
}

bool extract_backend(PyObject* object, tessaril::Backend& out) noexcept
{
    PyTypeObject* type = backend_type();
    if (type == nullptr) return false;
    if (!PyObject_TypeCheck(object, type)) return raise_not_instance(object, "Backend", true);
    out = static_cast<tessaril::Backend>(tag_of(object));
    return true;
}

}  // namespace binding
