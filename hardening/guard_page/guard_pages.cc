// Guard-page check of the codec kernels: no kernel touches a byte outside
// the field it was given, even where the next page is not mapped. For every
// kernel this processor runs and every field length from 0 to 200, the
// input and the output are placed so that they end where a page ends and an
// inaccessible page follows, and again so that they start where one ends;
// the kernel must not fault and must give what the portable kernel gives.
// The vector kernels' masked loads and stores are where this matters: their
// masked-off lanes lie past the field, and only some processors promise
// that such lanes never fault.
//
//   guard_pages    exit status 1 on any fault or wrong result
#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "codec/base64url.h"
#include "codec/base64url_kernels.h"
#include "codec/utf8_kernels.h"

namespace {

constexpr std::size_t LONGEST = 200;

// Two readable and writable pages with an inaccessible one on each side:
// a field placed at the start of the first or the end of the second has
// nothing mapped beyond that edge.
class GuardedPages {
public:
    GuardedPages() : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)))
    {
        void* map = mmap(nullptr, 4 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            std::perror("mmap");
            std::exit(2);
        }
        base_ = static_cast<std::uint8_t*>(map);
        if (mprotect(base_ + page_, 2 * page_, PROT_READ | PROT_WRITE) != 0) {
            std::perror("mprotect");
            std::exit(2);
        }
    }
    GuardedPages(const GuardedPages&) = delete;
    GuardedPages& operator=(const GuardedPages&) = delete;
    ~GuardedPages() { munmap(base_, 4 * page_); }

    // |size| bytes that end where the inaccessible page above begins.
    std::uint8_t* ending_at_guard(std::size_t size) const noexcept { return base_ + 3 * page_ - size; }
    // |size| bytes that begin where the inaccessible page below ends.
    std::uint8_t* starting_at_guard() const noexcept { return base_ + page_; }

private:
    std::size_t page_;
    std::uint8_t* base_ = nullptr;
};

// A fault inside a kernel call comes back here, so that it is reported with
// the kernel and the length rather than ending the run.
sigjmp_buf fault_return;

void on_fault(int)
{
    siglongjmp(fault_return, 1);
}

struct Tally {
    unsigned calls = 0;
    unsigned faults = 0;
    unsigned wrong = 0;
};

enum class Edge { End, Start };

const char* edge_name(Edge edge)
{
    return edge == Edge::End ? "ends at" : "starts after";
}

template <class Call>
void guarded_call(Tally& tally, const char* codec, const char* kernel, const char* what, std::size_t size, Edge edge,
                  Call call)
{
    ++tally.calls;
    if (sigsetjmp(fault_return, 1) != 0) {
        ++tally.faults;
        std::printf("     %s %-9s %s of %zu bytes that %s a guard page: fault\n", codec, kernel, what, size,
                    edge_name(edge));
        return;
    }
    if (!call()) {
        ++tally.wrong;
        std::printf("     %s %-9s %s of %zu bytes that %s a guard page: wrong result\n", codec, kernel, what, size,
                    edge_name(edge));
    }
}

std::uint8_t* place(const GuardedPages& pages, Edge edge, std::size_t size)
{
    return edge == Edge::End ? pages.ending_at_guard(size) : pages.starting_at_guard();
}

// Bytes that differ from one length to the next.
std::vector<std::uint8_t> payload(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 167 + size * 31 + 7);
    return bytes;
}

Tally check_base64url(const tessaril::base64url_detail::Kernel& kernel, const GuardedPages& input,
                      const GuardedPages& output)
{
    using tessaril::base64url_detail::SCALAR_KERNEL;
    Tally tally;
    for (std::size_t size = 0; size <= LONGEST; ++size) {
        const std::vector<std::uint8_t> bytes = payload(size);
        const std::size_t chars = tessaril::base64url_encoded_size(size);
        std::string expected(chars, '\0');
        SCALAR_KERNEL.encode(bytes.data(), size, expected.data());
        for (Edge edge : {Edge::End, Edge::Start}) {
            guarded_call(tally, "base64url", kernel.name, "encode", size, edge, [&] {
                std::uint8_t* in = place(input, edge, size);
                char* out = reinterpret_cast<char*>(place(output, edge, chars));
                std::memcpy(in, bytes.data(), size);
                kernel.encode(in, size, out);
                return std::memcmp(out, expected.data(), chars) == 0;
            });
            if (size == 0) continue;  // the kernels decode non-empty fields only
            guarded_call(tally, "base64url", kernel.name, "decode", size, edge, [&] {
                char* in = reinterpret_cast<char*>(place(input, edge, chars));
                std::uint8_t* out = place(output, edge, size);
                std::memcpy(in, expected.data(), chars);
                if (kernel.decode(in, chars, out, size) != 0) return false;
                if (std::memcmp(out, bytes.data(), size) != 0) return false;
                // A character outside the alphabet in the last place that
                // carries data is refused at the edge too.
                in[(4 * size + 2) / 3 - 1] = '*';
                return kernel.decode(in, chars, out, size) != 0;
            });
        }
    }
    return tally;
}

Tally check_utf8(const tessaril::utf8_detail::Kernel& kernel, const GuardedPages& input)
{
    Tally tally;
    for (std::size_t size = 0; size <= LONGEST; ++size) {
        // Valid text of mixed sequence lengths, then the same text cut short
        // by a lead byte at its very end (invalid).
        std::vector<std::uint8_t> text;
        static constexpr std::uint8_t SEQUENCES[][4] = {{'a'}, {0xC3, 0xA9}, {0xE2, 0x82, 0xAC}, {0xF0, 0x9F, 0x98, 0x80}};
        for (std::size_t s = 0; text.size() < size; ++s) {
            const std::size_t length = 1 + s % 4;
            for (std::size_t b = 0; b < length && text.size() < size; ++b) text.push_back(SEQUENCES[s % 4][b]);
        }
        for (bool cut_short : {false, true}) {
            if (cut_short && size == 0) continue;
            if (cut_short) text.back() = 0xE2;
            const bool expected = !tessaril::utf8_detail::walk_to_first_fault(text).has_value();
            for (Edge edge : {Edge::End, Edge::Start}) {
                guarded_call(tally, "utf8     ", kernel.name, cut_short ? "invalid text" : "text", size, edge, [&] {
                    std::uint8_t* in = place(input, edge, size);
                    std::memcpy(in, text.data(), size);
                    return kernel.is_valid(in, size) == expected;
                });
            }
        }
    }
    return tally;
}

bool report(const char* codec, const char* kernel, const Tally& tally)
{
    const bool clean = tally.faults == 0 && tally.wrong == 0;
    std::printf("%-4s %s %-9s %u calls at a guard page, %u fault(s), %u wrong result(s)\n", clean ? "ok" : "FAIL",
                codec, kernel, tally.calls, tally.faults, tally.wrong);
    return clean;
}

}  // namespace

int main()
{
    struct sigaction action = {};
    action.sa_handler = on_fault;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, nullptr);
    sigaction(SIGBUS, &action, nullptr);

    const GuardedPages input, output;
    bool clean = true;
    for (const auto* kernel : tessaril::base64url_detail::available_kernels()) {
        clean = report("base64url", kernel->name, check_base64url(*kernel, input, output)) && clean;
    }
    for (const auto* kernel : tessaril::utf8_detail::available_kernels()) {
        clean = report("utf8     ", kernel->name, check_utf8(*kernel, input)) && clean;
    }
    return clean ? 0 : 1;
}
