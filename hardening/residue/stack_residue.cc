// Stack residue check of the UTF-8 kernels: after a kernel returns, none of
// the text it read may be left in the stack memory its frames used. For
// every kernel this processor runs and every tail length (0 to the block
// size - 1, after none to three full blocks), the region below the caller
// is cleared, the kernel is called on a text, and the dead stack is copied
// out before anything else is called. This runs twice, on two texts of the
// same length that differ in every byte; a stack byte that holds text byte
// j of the first text after the first run and text byte j of the second
// after the second is text left behind. Return addresses, saved registers
// and the verdict are the same in both runs and are never counted.
//
// What a compiler spills depends on the compiler and its optimisation
// level, so the check is built several times over the same kernel sources
// (hardening/residue/CMakeLists.txt); each build names itself in its output.
//
//   stack_residue            every kernel; exit status 1 on any residue
//   stack_residue NAME       only the kernel called NAME
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "codec/utf8_kernels.h"

#ifndef TESSARILS_RESIDUE_BUILD
#define TESSARILS_RESIDUE_BUILD "engine build"
#endif

namespace {

using tessaril::utf8_detail::Kernel;

// The compiler and flags this check and the kernels were built with.
constexpr std::string_view BUILD = TESSARILS_RESIDUE_BUILD;

// Full blocks before the tail: a tail after two or more is read after the
// loop has run, with other text live in its registers.
constexpr std::size_t MOST_FULL_BLOCKS = 3;

// Deeper than any kernel's frames, with secure_wipe's and memcpy's below them.
constexpr std::size_t WINDOW = 8192;

// Bytes per block of each kernel, by name: a tail is what is left after the
// last full block.
struct BlockSize {
    std::string_view kernel;
    std::size_t bytes;
};
constexpr std::array BLOCK_SIZES = {
    BlockSize{"scalar", 8},
    BlockSize{"avx2", 32},
    BlockSize{"avx512bw", 64},
    BlockSize{"neon", 16},
};

std::size_t block_size(std::string_view kernel)
{
    for (const BlockSize& entry : BLOCK_SIZES) {
        if (entry.kernel == kernel) return entry.bytes;
    }
    return 0;
}

[[gnu::always_inline]] inline const std::uint8_t* stack_pointer() noexcept
{
    const std::uint8_t* sp;
#if defined(__x86_64__)
    asm volatile("mov %%rsp, %0" : "=r"(sp));
#elif defined(__aarch64__)
    asm volatile("mov %0, sp" : "=r"(sp));
#else
#error "no stack pointer read for this processor"
#endif
    return sp;
}

// Zeroes the stack below the caller: more than the window, so that what
// the next call leaves there is all that is there.
[[gnu::noinline]] void clear_dead_stack()
{
    volatile std::uint8_t region[WINDOW + 1024];
    for (std::size_t i = 0; i < sizeof region; ++i) region[i] = 0;
    asm volatile("" : : "r"(region) : "memory");
}

// Calls |kernel| on |text| with nothing else of ours on the stack below
// this frame, then copies the WINDOW bytes below the stack pointer into
// |dead| without making a call that would overwrite them.
[[gnu::noinline]] void run_kernel(const Kernel& kernel, const std::uint8_t* text, std::size_t size,
                                  std::uint8_t* dead)
{
    clear_dead_stack();
    const bool verdict = kernel.is_valid(text, size);
    asm volatile("" : : "r"(verdict) : "memory");
    const volatile std::uint8_t* below = stack_pointer() - WINDOW;
    for (std::size_t i = 0; i < WINDOW; ++i) dead[i] = below[i];
    asm volatile("" : : "r"(dead) : "memory");
}

// Two ASCII texts, valid UTF-8 both, that differ in every byte.
std::uint8_t first_text_byte(std::size_t j)
{
    return static_cast<std::uint8_t>(0x21 + j % 63);  // '!' .. '_'
}
std::uint8_t second_text_byte(std::size_t j)
{
    return static_cast<std::uint8_t>(first_text_byte(j) ^ 0x20);
}

// Stack bytes that held the same text position in both runs.
std::size_t residue(const std::vector<std::uint8_t>& first, const std::vector<std::uint8_t>& second,
                    std::size_t size)
{
    std::size_t found = 0;
    for (std::size_t p = 0; p < WINDOW; ++p) {
        if (first[p] == second[p]) continue;
        for (std::size_t j = 0; j < size; ++j) {
            if (first[p] == first_text_byte(j) && second[p] == second_text_byte(j)) {
                ++found;
                break;
            }
        }
    }
    return found;
}

// Runs every tail length of |kernel|; prints one line per length with
// residue and a summary line. Returns whether none left any.
bool check_kernel(const Kernel& kernel)
{
    const std::size_t block = block_size(kernel.name);
    if (block == 0) {
        std::printf("FAIL %-9s [%s] no block size known for this kernel\n", kernel.name, BUILD.data());
        return false;
    }
    std::vector<std::uint8_t> text((MOST_FULL_BLOCKS + 1) * block), first(WINDOW), second(WINDOW);
    unsigned runs = 0, leaky = 0;
    for (std::size_t full = 0; full <= MOST_FULL_BLOCKS; ++full) {
        for (std::size_t tail = 0; tail < block; ++tail) {
            const std::size_t size = full * block + tail;
            if (size == 0) continue;
            for (std::size_t j = 0; j < size; ++j) text[j] = first_text_byte(j);
            run_kernel(kernel, text.data(), size, first.data());
            for (std::size_t j = 0; j < size; ++j) text[j] = second_text_byte(j);
            run_kernel(kernel, text.data(), size, second.data());
            ++runs;
            if (const std::size_t found = residue(first, second, size); found != 0) {
                ++leaky;
                std::printf("     %-9s [%s] %3zu-byte text (%zu full block(s), tail %2zu): %zu text byte(s) left on "
                            "the stack\n",
                            kernel.name, BUILD.data(), size, full, tail, found);
            }
        }
    }
    std::printf("%-4s %-9s [%s] %u of %u text lengths left text on the stack\n", leaky == 0 ? "ok" : "FAIL",
                kernel.name, BUILD.data(), leaky, runs);
    return leaky == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string_view only = argc > 1 ? argv[1] : "";
    bool clean = true;
    unsigned checked = 0;
    for (const Kernel* kernel : tessaril::utf8_detail::available_kernels()) {
        if (!only.empty() && only != kernel->name) continue;
        clean = check_kernel(*kernel) && clean;
        ++checked;
    }
    if (checked == 0) {
        std::printf("FAIL no kernel checked\n");
        return 1;
    }
    return clean ? 0 : 1;
}
