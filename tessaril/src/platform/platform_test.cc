// The platform layer against the operating system it is built for: the
// same cases on Linux and Windows, where the layer's code differs most
// (UTF-16 environment, FILETIME clock, ProcessPrng).
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "testing/allocation_counter.h"
#include "testing/bytes.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tessaril::platform {
namespace {

constexpr std::uint64_t kBefore1970 = std::numeric_limits<std::uint64_t>::max();

struct FiletimeCase {
    std::uint64_t ticks;
    std::uint64_t seconds;
};

class FiletimeConversion : public ::testing::TestWithParam<FiletimeCase> {};

TEST_P(FiletimeConversion, RoundsDownToUnixSeconds)
{
    EXPECT_EQ(unix_seconds_from_filetime(GetParam().ticks), GetParam().seconds);
}

// 125911584000000000 is 2000-01-01 00:00:00 UTC as a FILETIME.
INSTANTIATE_TEST_SUITE_P(Readings, FiletimeConversion,
                         ::testing::Values(FiletimeCase{0, kBefore1970},
                                           FiletimeCase{116444735999999999, kBefore1970},
                                           FiletimeCase{116444736000000000, 0},
                                           FiletimeCase{116444736009999999, 0},
                                           FiletimeCase{125911584000000000, 946684800},
                                           FiletimeCase{125911584009999999, 946684800},
                                           FiletimeCase{125911584010000000, 946684801},
                                           FiletimeCase{std::numeric_limits<std::uint64_t>::max(), 1833029933770}));

TEST(Clock, AgreesWithTheStandardLibrarysClock)
{
    using std::chrono::floor;
    using std::chrono::seconds;
    using std::chrono::system_clock;
    const auto before = floor<seconds>(system_clock::now()).time_since_epoch().count();
    const std::uint64_t now = unix_now();
    const auto after = floor<seconds>(system_clock::now()).time_since_epoch().count();
    EXPECT_GE(now, static_cast<std::uint64_t>(before));
    EXPECT_LE(now, static_cast<std::uint64_t>(after));
}

#ifdef _WIN32
TEST(Clock, ConvertsTheSystemsOwnFiletime)
{
    // The system's calendar, not our arithmetic, makes this FILETIME: the
    // first second past 2^31 - 1.
    const SYSTEMTIME moment{2038, 1, 2, 19, 3, 14, 8, 999};
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&moment, &ft));
    EXPECT_EQ(unix_seconds_from_filetime((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime), 2147483648u);
}
#endif

TEST(Randomness, FillsEveryRequestedByte)
{
    std::vector<std::uint8_t> none;
    EXPECT_TRUE(fill_random(none));
    for (std::size_t size : {std::size_t{12}, std::size_t{24}, std::size_t{4096}}) {
        // A byte left unwritten stays zero in all eight draws; a written
        // one does so with probability 2^-64.
        std::vector<std::uint8_t> seen(size), first;
        for (int round = 0; round < 8; ++round) {
            std::vector<std::uint8_t> draw(size);
            ASSERT_TRUE(fill_random(draw)) << size;
            if (round == 0) first = draw;
            else EXPECT_NE(draw, first) << size;
            for (std::size_t i = 0; i < size; ++i) seen[i] |= draw[i];
        }
        EXPECT_EQ(std::ranges::count(seen, 0), 0) << size;
    }
}

// The same text in the environment's own form on each system.
struct Text {
    std::string utf8;
    std::wstring utf16;
};

Text repeated(const Text& unit, std::size_t count)
{
    Text out;
    for (std::size_t i = 0; i < count; ++i) {
        out.utf8 += unit.utf8;
        out.utf16 += unit.utf16;
    }
    return out;
}

// Sets an environment variable for one test and removes it afterwards.
class ScopedVariable {
public:
    ScopedVariable(const Text& name, const Text& value) : name_(name)
    {
#ifdef _WIN32
        EXPECT_TRUE(SetEnvironmentVariableW(name_.utf16.c_str(), value.utf16.c_str()));
#else
        EXPECT_EQ(setenv(name_.utf8.c_str(), value.utf8.c_str(), 1), 0);
#endif
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable()
    {
#ifdef _WIN32
        SetEnvironmentVariableW(name_.utf16.c_str(), nullptr);
#else
        unsetenv(name_.utf8.c_str());
#endif
    }

private:
    Text name_;
};

const Text kName{"TESSARILS_PLATFORM_TEST", L"TESSARILS_PLATFORM_TEST"};

// A name and a value of which read_environment must return the value.
struct ReadableCase {
    const char* label;
    Text name;
    Text value;
};

class ReadEnvironment : public ::testing::TestWithParam<ReadableCase> {};

TEST_P(ReadEnvironment, ReturnsTheValueAsUtf8)
{
    const ScopedVariable variable(GetParam().name, GetParam().value);
    const auto text = read_environment(GetParam().name.utf8);
    ASSERT_TRUE(text.has_value());
    // Compared whole, not printed: the longest values run to 98 KB.
    EXPECT_EQ(text->view().size(), GetParam().value.utf8.size());
    EXPECT_TRUE(text->view() == GetParam().value.utf8);
}

// Windows keeps a value at most 32766 UTF-16 units long (32767 with its
// terminator): the longest values in one-, two-, three- and four-byte UTF-8.
constexpr std::size_t kLongestValue = 32766;

INSTANTIATE_TEST_SUITE_P(
    Values, ReadEnvironment,
    ::testing::Values(
        ReadableCase{"Decimal", kName,
                     {"340282366920938463463374607431768211455", L"340282366920938463463374607431768211455"}},
        ReadableCase{"Empty", kName, {"", L""}},
        ReadableCase{"NonAscii", kName,
                     {"\u03ba\u03bb\u03b5\u03b9\u03b4\u03af \u20ac \U0001F511", L"\u03ba\u03bb\u03b5\u03b9\u03b4\u03af \u20ac \U0001F511"}},
        ReadableCase{"NonAsciiName", {"TESSARILS_\u00c9\u03ba_\U0001F511", L"TESSARILS_\u00c9\u03ba_\U0001F511"}, {"42", L"42"}},
        ReadableCase{"LongestOneByte", kName, repeated({"7", L"7"}, kLongestValue)},
        ReadableCase{"LongestTwoByte", kName, repeated({"\u00e9", L"\u00e9"}, kLongestValue)},
        ReadableCase{"LongestThreeByte", kName, repeated({"\u20ac", L"\u20ac"}, kLongestValue)},
        ReadableCase{"LongestFourByte", kName, repeated({"\U0001F511", L"\U0001F511"}, kLongestValue / 2)}),
    [](const ::testing::TestParamInfo<ReadableCase>& c) { return std::string(c.param.label); });

TEST(ReadEnvironment, RefusesWhatItCannotReturn)
{
    EXPECT_FALSE(read_environment(kName.utf8).has_value()) << "unset";
    for (std::string_view name : {std::string_view(""), std::string_view("A=B"), std::string_view("A\0B", 3)}) {
        EXPECT_FALSE(read_environment(name).has_value()) << "name that cannot be looked up: " << name;
    }
    EXPECT_FALSE(read_environment("TESSARILS_\xff").has_value()) << "name not UTF-8";
    // A value with no UTF-8 form: an unpaired surrogate where the
    // environment holds UTF-16, bytes that are not UTF-8 where it holds bytes.
    const ScopedVariable variable(kName, {"42\xff", L"42\xd800"});
    EXPECT_FALSE(read_environment(kName.utf8).has_value()) << "value not Unicode";
}

TEST(ReadEnvironment, WipesEveryCopyOfTheValueBeforeReleasingIt)
{
    if (!TESSARILS_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizer owns operator delete";
    const Text key{"271828182845904523536028747135266249775", L"271828182845904523536028747135266249775"};
    const ScopedVariable variable(kName, key);
    // The UTF-8 result, and on Windows the UTF-16 copy it was converted from.
    std::vector<std::vector<std::uint8_t>> markers{testing::bytes_of(key.utf8)};
#ifdef _WIN32
    markers.emplace_back(reinterpret_cast<const std::uint8_t*>(key.utf16.data()),
                         reinterpret_cast<const std::uint8_t*>(key.utf16.data() + key.utf16.size()));
#endif
    for (const auto& marker : markers) {
        const testing::FreedBlockWatch watch(marker);
        {
            const auto text = read_environment(kName.utf8);
            ASSERT_TRUE(text.has_value());
            EXPECT_EQ(text->view(), key.utf8);
        }
        EXPECT_EQ(watch.blocks_holding_marker(), 0u) << testing::to_hex(marker);
    }
}

}  // namespace
}  // namespace tessaril::platform
