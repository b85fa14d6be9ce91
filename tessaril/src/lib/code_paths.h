// Which processor-specific code this process runs, settled at first use.
// For tests and tools that must show what they exercised; nothing in the
// engine branches on it.
#pragma once

#include <string>
#include <string_view>

namespace tessaril {

struct CodePaths {
    std::string_view base64url_kernel;  // "scalar", "avx2", "avx512bw" or "neon"
    bool aes_precomputed;               // short AES-256-GCM messages take libsodium's precomputed path
};

// Returns the paths this processor gets.
[[nodiscard]] CodePaths active_code_paths() noexcept;

// Returns |paths| as one line, e.g. "base64url kernel: scalar; AES-256-GCM: OpenSSL only".
[[nodiscard]] std::string describe(const CodePaths& paths);

}  // namespace tessaril
