// The UTF-8 well-formedness test, one kernel per instruction set, chosen once
// per process. The x86 vector kernels flag every bad pair of adjacent bytes
// with three 16-entry lookups by nibble (held in registers, never in memory
// addressed by the text) and missing third and fourth bytes with a
// saturating subtract; the portable one states the same rules as per-byte
// arithmetic on 64-bit words, and the NEON one as per-lane compares. Every
// kernel ORs its flags over the whole input: nothing branches on the text
// and no address depends on it, so a kernel's running time depends on the
// input's length alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "codec/utf8.h"

namespace tessaril::utf8_detail {

struct Kernel {
    const char* name;

    // Returns whether the |size| bytes at |data| are well-formed UTF-8.
    bool (*is_valid)(const std::uint8_t* data, std::size_t size) noexcept;
};

// The portable loop, which every processor runs.
extern const Kernel SCALAR_KERNEL;

// Every kernel this build carries and this processor runs, lowest priority
// (the portable one) first and highest last.
[[nodiscard]] std::span<const Kernel* const> available_kernels() noexcept;

// The highest-priority kernel this processor runs, fixed at first use.
[[nodiscard]] const Kernel& best_kernel() noexcept;

// The kernel is_valid_utf8 uses: best_kernel(), unless the engine's test support made
// another one active (testing/forced_kernels.h).
[[nodiscard]] const Kernel& active_kernel() noexcept;

// For the engine's test support only, with no other thread using the codec:
// makes |kernel|, one of available_kernels(), the active one.
void make_active_kernel(const Kernel& kernel) noexcept;

// Finds the first fault by walking the sequences one by one, branching on
// every byte: for text already known to be invalid (whose fault is reported
// to the caller who supplied it), and as the kernels' reference in tests.
[[nodiscard]] std::optional<Utf8Fault> walk_to_first_fault(std::span<const std::uint8_t> bytes) noexcept;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARILS_UTF8_X86 1
extern const Kernel AVX2_KERNEL;
extern const Kernel AVX512_KERNEL;
#endif

#if defined(__aarch64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARILS_UTF8_NEON 1
extern const Kernel NEON_KERNEL;
#endif

}  // namespace tessaril::utf8_detail
