#include "lib/code_paths.h"

#include "aes_backend/aes256gcm_context.h"
#include "lib/base64url_kernels.h"

namespace tessaril {

CodePaths active_code_paths() noexcept
{
    return {base64url_detail::active_kernels().name, Aes256GcmContext::path_available(AeadPath::Short)};
}

std::string describe(const CodePaths& paths)
{
    std::string line = "base64url kernel: ";
    line += paths.base64url_kernel;
    line += paths.aes_precomputed ? "; AES-256-GCM: libsodium precomputed for short messages, OpenSSL for long"
                                  : "; AES-256-GCM: OpenSSL only";
    return line;
}

}  // namespace tessaril
