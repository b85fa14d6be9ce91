// libsodium's process-wide initialisation, in one place.
#pragma once

namespace tessaril {

// Initialises libsodium once per process (it picks the processor's code
// paths) and returns whether that succeeded.
[[nodiscard]] bool sodium_ready() noexcept;

// sodium_ready(), or an InternalFault when libsodium cannot run.
void require_sodium();

}  // namespace tessaril
