#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "codec/utf8.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/random.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace tessaril::platform {

namespace {

// Names the operating system cannot look up: empty, or holding NUL or '='.
bool name_can_be_looked_up(std::string_view name) noexcept
{
    return !name.empty() && name.find('\0') == std::string_view::npos && name.find('=') == std::string_view::npos;
}

}  // namespace

std::uint64_t unix_seconds_from_filetime(std::uint64_t ticks) noexcept
{
    constexpr std::uint64_t kEpochTicks = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
    if (ticks < kEpochTicks) return std::numeric_limits<std::uint64_t>::max();
    return (ticks - kEpochTicks) / 10000000ULL;
}

#ifdef _WIN32

namespace {

using ProcessPrngFn = BOOL(WINAPI*)(PBYTE, SIZE_T);

ProcessPrngFn process_prng() noexcept
{
    // Resolved once; bcryptprimitives.dll stays loaded for the process.
    static const ProcessPrngFn fn = [] {
        HMODULE dll = LoadLibraryExW(L"bcryptprimitives.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return dll ? reinterpret_cast<ProcessPrngFn>(reinterpret_cast<void*>(GetProcAddress(dll, "ProcessPrng")))
                   : nullptr;
    }();
    return fn;
}

}  // namespace

bool fill_random(std::span<std::uint8_t> out) noexcept
{
    ProcessPrngFn fn = process_prng();
    return fn != nullptr && fn(out.data(), out.size()) == 1;
}

std::uint64_t unix_now() noexcept
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return unix_seconds_from_filetime((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
}

std::optional<SecretText> read_environment(std::string_view name)
{
    if (!name_can_be_looked_up(name)) return std::nullopt;
    const int wide_name_len = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                                  static_cast<int>(name.size()), nullptr, 0);
    if (wide_name_len <= 0) return std::nullopt;
    std::wstring wide_name(static_cast<std::size_t>(wide_name_len), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                        wide_name.data(), wide_name_len);

    // The size asked for counts the terminator, so a present variable,
    // empty or not, needs at least 1.
    const DWORD needed = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    // The UTF-16 copy of the value is as secret as the value.
    SecretText wide(std::size_t{needed} * sizeof(wchar_t));
    auto* value = reinterpret_cast<wchar_t*>(wide.span().data());
    // The count read leaves the terminator out: 0 is an empty value, unless
    // the variable went away in between, which only the last error tells.
    SetLastError(ERROR_SUCCESS);
    const DWORD written = GetEnvironmentVariableW(wide_name.c_str(), value, needed);
    if (written >= needed) return std::nullopt;  // grown under us
    if (written == 0) {
        if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
        return SecretText(0);
    }

    // WC_ERR_INVALID_CHARS refuses unpaired surrogates instead of replacing them.
    const int utf8_len = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, value, static_cast<int>(written), nullptr,
                                             0, nullptr, nullptr);
    if (utf8_len <= 0) return std::nullopt;
    SecretText utf8(static_cast<std::size_t>(utf8_len));
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, value, static_cast<int>(written),
                        reinterpret_cast<char*>(utf8.span().data()), utf8_len, nullptr, nullptr);
    return utf8;
}

#else

bool fill_random(std::span<std::uint8_t> out) noexcept
{
    // Nothing to draw asks nothing of the kernel (an emulator may refuse a
    // null buffer even of length zero). Otherwise one call, no retry:
    // anything short of the full count is a failure.
    if (out.empty()) return true;
    const ssize_t got = getrandom(out.data(), out.size(), 0);
    return got >= 0 && static_cast<std::size_t>(got) == out.size();
}

std::uint64_t unix_now() noexcept
{
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(ts.tv_sec);  // tv_nsec is non-negative: tv_sec is already rounded down
}

std::optional<SecretText> read_environment(std::string_view name)
{
    if (!name_can_be_looked_up(name)) return std::nullopt;
    const std::string c_name(name);
    const char* value = std::getenv(c_name.c_str());
    if (value == nullptr) return std::nullopt;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(value), std::strlen(value));
    if (!is_valid_utf8(bytes)) return std::nullopt;
    SecretText text(bytes.size());
    std::ranges::copy(bytes, text.span().begin());
    return text;
}

#endif

}  // namespace tessaril::platform
