// The tessarils extension module: multi-phase initialisation that adds the
// process-wide Tessaril and Backend types to each module object.
#include <Python.h>

#include "backend_type.h"
#include "owned.h"
#include "tessaril_type.h"

namespace binding {
namespace {

constexpr const char MODULE_DOC[] =
    "Python bindings for the tessaril 3.0 token library, sealing with AES-256-GCM or XChaCha20-Poly1305.\n"
    "\n"
    "Encrypt UTF-8 bytes with Tessaril and an explicit Backend. Version 3.0\n"
    "retains 2.x token compatibility; use expires_at=None for no expiry.";

// Records |name| in __all__ (creating the list if the module has none) and
// binds it to |value|.
int add_public(PyObject* module, const char* name, PyObject* value) noexcept
{
    Owned all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = Owned(PyList_New(0));
        if (!all) return -1;
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "tessarils.__all__ must be a list");
        return -1;
    }
    Owned text(PyUnicode_FromString(name));
    if (!text) return -1;
    // Executing the same module object twice must not list a name twice.
    const int present = PySequence_Contains(all.get(), text.get());
    if (present < 0) return -1;
    if (present == 0 && PyList_Append(all.get(), text.get()) < 0) return -1;
    return PyObject_SetAttr(module, text.get(), value);
}

int exec_module(PyObject* module) noexcept
{
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "tessarils can only be executed into a module object");
        return -1;
    }
    PyTypeObject* tessaril = tessaril_type();
    if (tessaril == nullptr) return -1;
    if (add_public(module, "Tessaril", reinterpret_cast<PyObject*>(tessaril)) < 0) return -1;
    PyTypeObject* backend = backend_type();
    if (backend == nullptr) return -1;
    if (add_public(module, "Backend", reinterpret_cast<PyObject*>(backend)) < 0) return -1;
    return 0;
}

// The types are shared by the whole process and are mutable, so objects of
// one interpreter would end up in another's type dicts and caches; an
// interpreter with its own allocator would leave them dangling when it ends.
// Hence no subinterpreter may load the module.
PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tessarils",
    .m_doc = MODULE_DOC,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace binding

PyMODINIT_FUNC PyInit_tessarils(void)
{
    return PyModuleDef_Init(&binding::module_def);
}
