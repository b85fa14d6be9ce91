// Runs a fuzz harness once over every file of the given files and
// directories, for builds without libFuzzer: the coverage build replays the
// seed and grown corpora through the harnesses with it. A failing oracle
// aborts, as it does under libFuzzer.
//   HARNESS_replay PATH...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay_file(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                if (!entry.is_regular_file()) continue;
                replay_file(entry.path());
                ++count;
            }
        } else if (std::filesystem::is_regular_file(path)) {
            replay_file(path);
            ++count;
        }
    }
    std::printf("%zu inputs replayed\n", count);
    return 0;
}
