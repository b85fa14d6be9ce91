// The engine's own view of OpenSSL: a library context of its own with the
// default provider loaded explicitly and no configuration file read, so that
// neither OPENSSL_CONF nor a configuration that another user of the same
// libcrypto loaded can change or remove the algorithms the engine runs.
#pragma once

#include <openssl/evp.h>

#include "cipher/backend.h"

namespace tessaril {

// The OpenSSL cipher that |backend|'s long path runs, from the engine's library context. Fetched once per
// process and kept for its lifetime; safe to call from any thread. Null when
// the library cannot provide it (no memory, or built without the cipher); a
// failure is not remembered, so the next call tries again.
[[nodiscard]] const EVP_CIPHER* library_cipher(Backend backend) noexcept;

}  // namespace tessaril
