// Prints the processor-specific code paths the engine takes here, so that a
// test run can show what it exercised (under an emulated processor, say).
#include <cstdio>

#include "cipher/aes256gcm/aes256gcm_context.h"
#include "codec/base64url_kernels.h"
#include "codec/utf8_kernels.h"

int main()
{
    const bool aes_precomputed = tessaril::Aes256GcmContext::path_available(tessaril::AeadPath::Short);
    std::printf("base64url kernel: %s; UTF-8 kernel: %s; AES-256-GCM: %s\n",
                tessaril::base64url_detail::active_kernel().name, tessaril::utf8_detail::active_kernel().name,
                aes_precomputed ? "libsodium precomputed for short messages, OpenSSL for long" : "OpenSSL only");
    return 0;
}
