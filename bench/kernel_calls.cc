// Seals and opens short tokens in the engine with chosen codec kernels made
// active, in functions of their own so that callgrind can count them alone:
// bench/instructions.py counts every kernel this processor runs, the
// portable ones included, which the module's counts reach only on a
// processor without vector kernels.
//
//   tessaril_kernel_calls --list
//       prints "base64url NAME" and "utf8 NAME" for every available kernel
//   tessaril_kernel_calls BASE64URL UTF8 BACKEND SIZE CALLS
//       seals a SIZE-byte payload CALLS times in measured_seal, then opens
//       the token CALLS times in measured_open, under backend number BACKEND
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/backend.h"
#include "cipher/cipher_state.h"
#include "token/context_record.h"
#include "token/open.h"
#include "token/seal.h"
#include "testing/forced_kernels.h"

namespace {

using namespace tessaril;

std::size_t number(const char* text)
{
    std::size_t value = 0;
    const std::string_view view(text);
    if (std::from_chars(view.data(), view.data() + view.size(), value).ptr != view.data() + view.size()) {
        std::fprintf(stderr, "kernel_calls: not a number: %s\n", text);
        std::exit(2);
    }
    return value;
}

[[gnu::noinline]] std::size_t measured_seal(const CipherState& state, const std::vector<std::uint8_t>& payload,
                                            std::size_t calls)
{
    std::size_t total = 0;
    for (std::size_t i = 0; i < calls; ++i) total += seal_token(state, payload, std::nullopt, std::nullopt)->size();
    return total;
}

[[gnu::noinline]] std::size_t measured_open(const CipherState& state, const std::string& token, std::size_t calls)
{
    std::size_t total = 0;
    for (std::size_t i = 0; i < calls; ++i) total += decrypt_for(state, token, DEFAULT_PURPOSE)->size();
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        for (const auto* kernel : base64url_detail::available_kernels()) std::printf("base64url %s\n", kernel->name);
        for (const auto* kernel : utf8_detail::available_kernels()) std::printf("utf8 %s\n", kernel->name);
        return 0;
    }
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s --list | BASE64URL UTF8 BACKEND SIZE CALLS\n", argv[0]);
        return 2;
    }
    const auto* base64url = testing::find_kernel(base64url_detail::available_kernels(), argv[1]);
    const auto* utf8 = testing::find_kernel(utf8_detail::available_kernels(), argv[2]);
    const std::size_t backend = number(argv[3]);
    if (base64url == nullptr || utf8 == nullptr || backend >= Backends::COUNT) {
        std::fprintf(stderr, "kernel_calls: no such kernel or backend here\n");
        return 2;
    }
    const testing::ForcedKernels forced(*base64url, *utf8);
    const CipherState state = CipherState::build(Backends::ALL[backend], 0x0123456789ABCDEF);
    const std::vector<std::uint8_t> payload(number(argv[4]), 'x');
    const std::size_t calls = number(argv[5]);
    const std::string token = *seal_token(state, payload, std::nullopt, std::nullopt);
    const std::size_t total = measured_seal(state, payload, calls) + measured_open(state, token, calls);
    return total == calls * (token.size() + payload.size()) ? 0 : 1;
}
