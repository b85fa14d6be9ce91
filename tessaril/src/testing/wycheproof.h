// Loads the AEAD cases of a Wycheproof vector file that match one key,
// nonce and tag size, and runs them through an adapter.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "testing/bytes.h"

namespace tessaril::testing {

struct AeadCase {
    int id;
    std::vector<std::uint8_t> key, iv, aad, msg, ct, tag;
    std::string result;
};

// The vectors are part of the repository (testing/wycheproof): a missing
// file fails the test rather than skipping the only known answers we have.
inline std::vector<AeadCase> load_wycheproof(const std::string& file, int key_bits, int iv_bits)
{
    const std::filesystem::path path = std::filesystem::path(TESSARILS_WYCHEPROOF_DIR) / file;
    std::ifstream in(path);
    if (!in) {
        ADD_FAILURE() << "cannot read the vector file " << path;
        return {};
    }
    const auto doc = nlohmann::json::parse(in);
    std::vector<AeadCase> cases;
    for (const auto& group : doc.at("testGroups")) {
        if (group.at("keySize") != key_bits || group.at("ivSize") != iv_bits || group.at("tagSize") != 128) continue;
        for (const auto& t : group.at("tests")) {
            cases.push_back({t.at("tcId").get<int>(), from_hex(t.at("key").get<std::string>()),
                             from_hex(t.at("iv").get<std::string>()), from_hex(t.at("aad").get<std::string>()),
                             from_hex(t.at("msg").get<std::string>()), from_hex(t.at("ct").get<std::string>()),
                             from_hex(t.at("tag").get<std::string>()), t.at("result").get<std::string>()});
        }
    }
    return cases;
}

using AeadSeal = std::function<void(const AeadCase&, std::span<std::uint8_t> ciphertext,
                                    std::span<std::uint8_t, 16> tag)>;
using AeadOpen = std::function<bool(const AeadCase&, std::span<std::uint8_t> plaintext)>;
using LeftBehind = std::function<bool(std::span<const std::uint8_t> output)>;

struct AeadCaseCounts {
    std::size_t valid = 0;
    std::size_t invalid = 0;
};

// Runs every case through one AEAD: a valid case opens to its message and
// seals back to its ciphertext and tag; an invalid one fails to open, and
// its output buffer (filled with 0xEE first) must then satisfy |clean|.
inline AeadCaseCounts check_aead_cases(const std::vector<AeadCase>& cases, const AeadSeal& seal,
                                       const AeadOpen& open, const LeftBehind& clean)
{
    AeadCaseCounts counts;
    for (const auto& t : cases) {
        std::vector<std::uint8_t> opened(t.ct.size(), 0xEE);
        const bool authentic = open(t, opened);
        if (t.result == "valid") {
            ++counts.valid;
            EXPECT_TRUE(authentic) << t.id;
            if (!authentic) continue;
            EXPECT_EQ(opened, t.msg) << t.id;
            std::vector<std::uint8_t> sealed(t.msg.size());
            std::array<std::uint8_t, 16> computed;
            seal(t, sealed, computed);
            EXPECT_EQ(sealed, t.ct) << t.id;
            EXPECT_EQ(std::vector<std::uint8_t>(computed.begin(), computed.end()), t.tag) << t.id;
        } else {
            ++counts.invalid;
            EXPECT_EQ(t.result, "invalid") << t.id;
            EXPECT_FALSE(authentic) << t.id;
            EXPECT_TRUE(clean(opened)) << t.id << ": unverified plaintext left behind";
        }
    }
    return counts;
}

template <std::size_t N>
std::span<const std::uint8_t, N> fixed(const std::vector<std::uint8_t>& bytes)
{
    return std::span<const std::uint8_t, N>(bytes.data(), N);
}

// Sizes for holding an adapter's paths against each other: a sweep past the
// size that picks between them, and the token limits.
inline std::vector<std::size_t> path_switch_sizes()
{
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 600; n += 7) sizes.push_back(n);
    for (std::size_t n : {255u, 256u, 257u, 1024u, 4099u, 16384u}) sizes.push_back(n);
    return sizes;
}

}  // namespace tessaril::testing
