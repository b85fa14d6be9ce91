// Loads the AEAD cases of a Wycheproof vector file that match one key,
// nonce and tag size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testing/bytes.h"

namespace tessaril::testing {

struct AeadCase {
    int id;
    std::vector<std::uint8_t> key, iv, aad, msg, ct, tag;
    std::string result;
};

// The vectors live beside the repository; nullopt when they are absent.
inline std::optional<std::vector<AeadCase>> load_wycheproof(const std::string& file, int key_bits, int iv_bits)
{
    const std::filesystem::path path = std::filesystem::path(TESSARILS_SHARED_DIR) / "testdata/wycheproof" / file;
    std::ifstream in(path);
    if (!in) return std::nullopt;
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

}  // namespace tessaril::testing
