// Hands tokens between two builds of the engine through files, so that a
// test can seal on one system and open on another (Windows and Linux).
//
//   token_exchange seal DIR   writes, per case, DIR/CASE.token (a random
//                             nonce, as in use) and DIR/CASE.fixed (a fixed
//                             nonce, so that the bytes are reproducible)
//   token_exchange open DIR   opens every DIR/CASE.token as the case says it
//                             must open or fail, and checks every
//                             DIR/CASE.fixed byte for byte against its own
//
// Files are read and written as bytes: a text-mode stream would turn line
// ends into CRLF on Windows.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/backend.h"
#include "cipher/cipher_state.h"
#include "token/context_record.h"
#include "token/open.h"
#include "token/seal.h"

namespace {

using tessaril::Backend;
using tessaril::ErrorKind;

constexpr tessaril::KeyValue kKey = (tessaril::KeyValue{0x0123456789abcdef} << 64) | 0xfedcba9876543210;

// What a case seals, the same for every backend.
struct Shape {
    std::string_view name;
    std::string plaintext;
    std::optional<std::uint64_t> expires_at;
    std::optional<std::string> purpose;
    std::optional<ErrorKind> opening_fails_with;  // on either system's clock
};

// The limits: the shortest and longest fields, text beyond ASCII, an expiry
// that has not passed and one that has.
const Shape kShapes[] = {
    {"short", "user=ada", std::nullopt, std::nullopt, std::nullopt},
    {"empty", "", std::nullopt, "p", std::nullopt},
    {"unicode", "\u00e9t\u00e9 \u20ac \U0001F511", 4102444800, "login", std::nullopt},
    {"longest", std::string(16384, 'x'), std::nullopt, std::string(255, 'p'), std::nullopt},
    {"expired", "old", 1000000000, std::nullopt, ErrorKind::Expired},
};

struct Case {
    std::string name;  // the backend's key label and the shape's name
    Backend backend;
    const Shape& shape;
};

// Every shape under every backend.
const std::vector<Case> kCases = [] {
    std::vector<Case> cases;
    for (Backend backend : tessaril::Backends::ALL) {
        for (const Shape& shape : kShapes) {
            const std::string_view label = tessaril::Backends::KEY_LABELS[tessaril::backend_index(backend)];
            cases.push_back({std::string(label) + "-" + std::string(shape.name), backend, shape});
        }
    }
    return cases;
}();

bool fixed_nonce(std::span<std::uint8_t> out) noexcept
{
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(0xa0 + i);
    return true;
}

std::string path_of(std::string_view dir, const Case& c, std::string_view suffix)
{
    return std::string(dir) + "/" + std::string(c.name) + std::string(suffix);
}

std::optional<std::string> seal(const Case& c, tessaril::platform::RandomSource random)
{
    const tessaril::CipherState state = tessaril::CipherState::build(c.backend, kKey);
    const Shape& shape = c.shape;
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(shape.plaintext.data()), shape.plaintext.size());
    const std::optional<std::string_view> purpose =
        shape.purpose ? std::optional<std::string_view>(*shape.purpose) : std::nullopt;
    auto token = tessaril::seal_token(state, bytes, shape.expires_at, purpose, random);
    if (!token) return std::nullopt;
    return std::move(*token);
}

bool write_file(const std::string& path, std::string_view text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out.flush());
}

std::optional<std::string> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int seal_all(std::string_view dir)
{
    for (const Case& c : kCases) {
        const auto random = seal(c, tessaril::platform::fill_random);
        const auto fixed = seal(c, fixed_nonce);
        if (!random || !fixed || !write_file(path_of(dir, c, ".token"), *random) ||
            !write_file(path_of(dir, c, ".fixed"), *fixed)) {
            std::fprintf(stderr, "%.*s: sealing or writing failed\n", static_cast<int>(c.name.size()), c.name.data());
            return 1;
        }
    }
    std::printf("%zu tokens sealed\n", std::size(kCases));
    return 0;
}

// Opens |token| as case |c| prescribes; true when the outcome is the one expected.
bool opens_as_expected(const Case& c, std::string_view token)
{
    const tessaril::CipherState state = tessaril::CipherState::build(c.backend, kKey);
    const Shape& shape = c.shape;
    const auto opened =
        tessaril::decrypt_for(state, token, shape.purpose ? std::string_view(*shape.purpose) : tessaril::DEFAULT_PURPOSE);
    if (shape.opening_fails_with) return !opened && opened.error() == shape.opening_fails_with;
    return opened && std::string_view(reinterpret_cast<const char*>(opened->data()), opened->size()) == shape.plaintext;
}

int open_all(std::string_view dir)
{
    int failures = 0;
    for (const Case& c : kCases) {
        const auto token = read_file(path_of(dir, c, ".token"));
        const auto theirs = read_file(path_of(dir, c, ".fixed"));
        const auto ours = seal(c, fixed_nonce);
        const char* fault = !token || !theirs      ? "missing file"
                            : !opens_as_expected(c, *token) ? "did not open as expected"
                            : *theirs != ours            ? "fixed-nonce token differs from this build's"
                                                         : nullptr;
        if (fault != nullptr) {
            std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(c.name.size()), c.name.data(), fault);
            ++failures;
        }
    }
    if (failures != 0) return 1;
    std::printf("%zu tokens opened, %zu fixed-nonce tokens identical\n", std::size(kCases), std::size(kCases));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string_view command = argc == 3 ? argv[1] : "";
    if (command == "seal") return seal_all(argv[2]);
    if (command == "open") return open_all(argv[2]);
    std::fprintf(stderr, "usage: token_exchange seal|open DIR\n");
    return 2;
}
