#include "key_intake.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "cipher/decimal_key.h"
#include "platform/platform.h"
#include "owned.h"

namespace binding {
namespace {

using tessaril::ErrorKind;
using tessaril::KeyValue;

constexpr unsigned DIGIT_BITS = 30;
constexpr Py_ssize_t MAX_KEY_DIGITS = 5;         // 5 * 30 = 150 bits cover 128
constexpr std::uint32_t MAX_TOP_DIGIT = 1U << 8;  // digit 4 holds bits 120..127 only

// Whether PyLong_Export hands out 30-bit digits in 4-byte words, least
// significant first, in an order this build can read as uint32_t.
bool export_layout_is_readable() noexcept
{
    static const bool readable = [] {
        const PyLongLayout* layout = PyLong_GetNativeLayout();
        return layout->bits_per_digit == DIGIT_BITS && layout->digit_size == 4 && layout->digits_order == -1 &&
               layout->digit_endianness == -1 && std::endian::native == std::endian::little;
    }();
    return readable;
}

bool raise_negative() noexcept
{
    PyErr_SetString(PyExc_ValueError, "can't convert negative int to unsigned");
    return false;
}

bool raise_too_large() noexcept
{
    PyErr_SetString(PyExc_OverflowError, "Python int larger than 128 bits");
    return false;
}

// Releases a PyLong_Export on every path out of the reader.
class Export {
public:
    Export() noexcept = default;
    Export(const Export&) = delete;
    Export& operator=(const Export&) = delete;
    ~Export()
    {
        if (exported_) PyLong_FreeExport(&export_);
    }

    [[nodiscard]] bool read(PyObject* integer) noexcept
    {
        exported_ = PyLong_Export(integer, &export_) == 0;
        return exported_;
    }
    const PyLongExport& operator*() const noexcept { return export_; }

private:
    PyLongExport export_{};
    bool exported_ = false;
};

bool read_exported(PyObject* integer, KeyValue& out) noexcept
{
    Export exported;
    if (!exported.read(integer)) return false;
    const PyLongExport& value = *exported;
    if (value.digits == nullptr) {
        if (value.value < 0) return raise_negative();
        out = static_cast<KeyValue>(value.value);
        return true;
    }
    if (value.negative) return raise_negative();
    const auto* digits = static_cast<const std::uint32_t*>(value.digits);
    if (value.ndigits > MAX_KEY_DIGITS ||
        (value.ndigits == MAX_KEY_DIGITS && digits[MAX_KEY_DIGITS - 1] >= MAX_TOP_DIGIT)) {
        return raise_too_large();
    }
    KeyValue key = 0;
    for (Py_ssize_t i = 0; i < value.ndigits; ++i) {
        key |= static_cast<KeyValue>(digits[i]) << (DIGIT_BITS * static_cast<unsigned>(i));
    }
    out = key;
    return true;
}

bool read_native_bytes(PyObject* integer, KeyValue& out) noexcept
{
    unsigned char bytes[sizeof(KeyValue)] = {};
    const Py_ssize_t needed =
        PyLong_AsNativeBytes(integer, bytes, sizeof bytes,
                             Py_ASNATIVEBYTES_NATIVE_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER |
                                 Py_ASNATIVEBYTES_REJECT_NEGATIVE);
    if (needed < 0) return false;
    if (static_cast<std::size_t>(needed) > sizeof bytes) return raise_too_large();
    std::memcpy(&out, bytes, sizeof bytes);
    return true;
}

}  // namespace

bool convert_key(PyObject* key, KeyValue& out) noexcept
{
    Owned integer(PyNumber_Index(key));
    if (!integer) return false;
    return export_layout_is_readable() ? read_exported(integer.get(), out) : read_native_bytes(integer.get(), out);
}

tessaril::Result<KeyValue> key_from_environment(std::string_view name)
{
    // The value's text is wiped at the end of this scope, before the cipher
    // state is built from the parsed number.
    const std::optional<tessaril::SecretText> text = tessaril::platform::read_environment(name);
    if (!text) return std::unexpected(ErrorKind::InvalidKeyEnv);
    return tessaril::parse_decimal_key(text->view());
}

tessaril::Result<KeyValue> choose_key(std::optional<KeyValue> key, std::optional<std::string_view> key_env)
{
    if (key && key_env) return std::unexpected(ErrorKind::ConflictingKeySources);
    if (!key && !key_env) return std::unexpected(ErrorKind::MissingKey);
    if (key_env) return key_from_environment(*key_env);
    return *key;
}

}  // namespace binding
