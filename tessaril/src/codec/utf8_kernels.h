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

#include "codec/kernel_list.h"
#include "codec/utf8.h"

namespace tessaril::utf8_detail {

struct Kernel {
    const char* name;

    // Returns whether the |size| bytes at |data| are well-formed UTF-8.
    bool (*is_valid)(const std::uint8_t* data, std::size_t size) noexcept;
};

// The portable loop, which every processor runs.
extern const Kernel SCALAR_KERNEL;

// This codec's kernels (codec/kernel_list.h): every one this build carries
// with its priority, built into a registry at first use.
[[nodiscard]] codec::KernelRegistry<Kernel>& kernel_registry(const Kernel*) noexcept;

// The kernels this processor runs, lowest priority (the portable one) first;
// the highest-priority one; the one is_valid_utf8 uses, which is that one unless
// the engine's test support made another active (testing/forced_kernels.h).
inline constexpr auto& available_kernels = codec::Kernels<Kernel>::available;
inline constexpr auto& best_kernel = codec::Kernels<Kernel>::best;
inline constexpr auto& active_kernel = codec::Kernels<Kernel>::active;
inline constexpr auto& make_active_kernel = codec::Kernels<Kernel>::make_active;

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
