// Makes the cryptographic library's allocations fail on demand, to drive the
// engine's paths for a library that cannot key a cipher.
#pragma once

namespace tessaril::testing {

// While one lives, every OpenSSL allocation made by this thread fails.
class FailingOpenSsl {
public:
    // Whether the failing allocator could be installed: only before OpenSSL
    // first allocates, which the test program arranges at start-up.
    [[nodiscard]] static bool installed() noexcept;

    FailingOpenSsl() noexcept;
    ~FailingOpenSsl();
    FailingOpenSsl(const FailingOpenSsl&) = delete;
    FailingOpenSsl& operator=(const FailingOpenSsl&) = delete;
};

}  // namespace tessaril::testing
