#include "lib/error_kind.h"

#include <array>

namespace tessaril {
namespace {

// Indexed by ordinal. Three messages carry an em dash (U+2014) with a space
// on each side.
constexpr std::array<std::string_view, ERROR_KIND_COUNT> kMessages = {
    "the key or key_env must be passed",
    "the value of key_env is invalid",
    "key and key_env were both provided \u2014 pass exactly one",
    "invalid token",
    "the data has been modified",
    "token has expired",
    "expires_at must be greater than zero \u2014 pass None for no expiry",
    "token was not minted for the expected purpose",
    "purpose must not be empty \u2014 pass None for the default instead",
    "purpose exceeds the 255-byte limit",
    "plaintext exceeds the 16384-byte limit",
    "decrypted data was not valid UTF-8",
    "base64 is invalid",
    "operating system randomness is unavailable",
};

static_assert(static_cast<std::size_t>(ErrorKind::RandomnessUnavailable) + 1 == ERROR_KIND_COUNT);
static_assert(MAX_PURPOSE_BYTES == 255 && MAX_PLAINTEXT_BYTES == 16384,
              "the limits are written into the messages");

}  // namespace

std::string_view message(ErrorKind kind) noexcept
{
    return kMessages[static_cast<std::size_t>(kind) % ERROR_KIND_COUNT];
}

}  // namespace tessaril
