#include "core/error_kind.h"

namespace tessaril {

std::string_view message(ErrorKind kind) noexcept
{
    // No default: the compiler reports a kind without a message. Three
    // messages carry an em dash (U+2014) with a space on each side.
    switch (kind) {
    case ErrorKind::MissingKey: return "the key or key_env must be passed";
    case ErrorKind::InvalidKeyEnv: return "the value of key_env is invalid";
    case ErrorKind::ConflictingKeySources: return "key and key_env were both provided \u2014 pass exactly one";
    case ErrorKind::InvalidToken: return "invalid token";
    case ErrorKind::Tampered: return "the data has been modified";
    case ErrorKind::Expired: return "token has expired";
    case ErrorKind::ZeroExpiry: return "expires_at must be greater than zero \u2014 pass None for no expiry";
    case ErrorKind::PurposeMismatch: return "token was not minted for the expected purpose";
    case ErrorKind::EmptyPurpose: return "purpose must not be empty \u2014 pass None for the default instead";
    case ErrorKind::PurposeTooLong: return "purpose exceeds the 255-byte limit";
    case ErrorKind::PlaintextTooLong: return "plaintext exceeds the 16384-byte limit";
    case ErrorKind::InvalidUtf8: return "decrypted data was not valid UTF-8";
    case ErrorKind::InvalidBase64: return "base64 is invalid";
    case ErrorKind::RandomnessUnavailable: return "operating system randomness is unavailable";
    }
    return "invalid token";  // unreachable for a valid kind; a forged value gets the vaguest text
}

static_assert(static_cast<std::size_t>(ErrorKind::RandomnessUnavailable) + 1 == ERROR_KIND_COUNT);
static_assert(MAX_PURPOSE_BYTES == 255 && MAX_PLAINTEXT_BYTES == 16384,
              "the limits are written into the messages");

}  // namespace tessaril
