#include "token_argument.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "arguments.h"
#include "token/token_codec.h"
#include "owned.h"

namespace binding {
namespace {

using Run = std::pair<Py_ssize_t, Py_ssize_t>;

constexpr bool is_surrogate(std::uint32_t code_point) noexcept
{
    return code_point - 0xD800u < 0x800u;
}

// The first run of surrogates in |units|, as [start, end): where the
// interpreter's UTF-8 conversion stops and what its error names. Blocks are
// tested without a branch inside, so that the scan vectorises.
template <class Unit>
std::optional<Run> first_surrogate_run(const Unit* units, Py_ssize_t length) noexcept
{
    constexpr Py_ssize_t BLOCK = 256;
    for (Py_ssize_t block = 0; block < length; block += BLOCK) {
        const Py_ssize_t block_end = std::min(length, block + BLOCK);
        bool any = false;
        for (Py_ssize_t i = block; i < block_end; ++i) any |= is_surrogate(units[i]);
        if (!any) continue;
        Py_ssize_t start = block;
        while (!is_surrogate(units[start])) ++start;
        Py_ssize_t end = start + 1;
        while (end < length && is_surrogate(units[end])) ++end;
        return Run{start, end};
    }
    return std::nullopt;
}

// One-byte strings hold code points below U+0100 only.
std::optional<Run> first_surrogate_run(PyObject* text) noexcept
{
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_2BYTE_KIND:
            return first_surrogate_run(PyUnicode_2BYTE_DATA(text), length);
        case PyUnicode_4BYTE_KIND:
            return first_surrogate_run(PyUnicode_4BYTE_DATA(text), length);
        default:
            return std::nullopt;
    }
}

// Raised as the interpreter's strict error handler raises it, so that it is
// chained to the exception being handled, if any, as a converted token's is.
bool raise_surrogates(PyObject* text, const Run& run) noexcept
{
    const Owned error(PyObject_CallFunction(PyExc_UnicodeEncodeError, "sOnns", "utf-8", text, run.first,
                                            run.second, "surrogates not allowed"));
    if (error) PyErr_SetObject(PyExceptionInstance_Class(error.get()), error.get());
    return false;
}

}  // namespace

bool extract_token(PyObject* object, std::optional<std::string_view>& out) noexcept
{
    if (PyUnicode_Check(object) &&
        static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)) > tessaril::MAX_TOKEN_BYTES) {
        if (const auto run = first_surrogate_run(object)) return raise_surrogates(object, *run);
        out = std::nullopt;
        return true;
    }
    std::string_view utf8;
    if (!extract_str(object, utf8)) return false;
    out = utf8;
    return true;
}

}  // namespace binding
