#include "documents/memory_budget.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace tessaly {
namespace {

TEST(MemoryBudget, ReadsTheKernelsFigures) {
    const std::string meminfo =
        "MemTotal:       24576000 kB\nMemFree:         1000 kB\nMemAvailable:   20000000 kB\nBuffers: 1 kB\n";
    EXPECT_EQ(ParseMemAvailable(meminfo), 20000000ull * 1024);
    EXPECT_EQ(ParseVmSize("Name:\tx\nVmPeak:\t  9 kB\nVmSize:\t   4096 kB\n"), 4096ull * 1024);
    // Missing, malformed or absurd figures are unknown, never zero.
    EXPECT_EQ(ParseMemAvailable("MemTotal: 5 kB\n"), std::nullopt);
    EXPECT_EQ(ParseMemAvailable("MemAvailableX: 5 kB\nMemAvailable:\n"), std::nullopt);
    EXPECT_EQ(ParseMemAvailable("MemAvailable: lots\n"), std::nullopt);
    EXPECT_EQ(ParseMemAvailable("MemAvailable: 99999999999999999999 kB\n"), std::nullopt);
    EXPECT_EQ(ParseVmSize(""), std::nullopt);
}

TEST(MemoryBudget, TheSystemsFiguresAreRead) {
    std::ifstream in("/proc/meminfo");
    if (!in) GTEST_SKIP() << "no /proc/meminfo";
    std::stringstream text;
    text << in.rdbuf();
    const auto available = ParseMemAvailable(text.str());
    ASSERT_TRUE(available.has_value());
    ASSERT_TRUE(AvailableMemory().has_value());
    EXPECT_LE(*AvailableMemory(), *available + (64ull << 20));  // the figure moves a little
    EXPECT_TRUE(MemoryAvailableFor(1 << 20));
    EXPECT_FALSE(MemoryAvailableFor(UINT64_MAX / 2));
}

TEST(MemoryBudget, AnAddressSpaceLimitLowersWhatIsAvailable) {
    // In a child, so the limit cannot disturb anything else.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::ifstream in("/proc/self/status");
        std::stringstream text;
        text << in.rdbuf();
        const auto size = ParseVmSize(text.str());
        if (!size) _exit(3);
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = *size + (100ull << 20);
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(4);
        const auto available = AvailableMemory();
        if (!available || *available > (100ull << 20)) _exit(5);
        if (MemoryAvailableFor(200ull << 20)) _exit(6);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(MemoryBudget, EditorNeedsGrowWithTheTextAndItsLongestLine) {
    const std::uint64_t lines = EditorMemoryFor(10'000'000, 80);
    const std::uint64_t oneLine = EditorMemoryFor(10'000'000, 10'000'000);
    EXPECT_GT(lines, 10'000'000ull * 8);  // at least four copies of the text
    EXPECT_GT(oneLine, lines + 10'000'000ull * 16);
    EXPECT_LT(EditorMemoryFor(0, 0), 1ull << 30);
}

TEST(MemoryBudget, LongestLineCountsBetweenCrLfOnly) {
    EXPECT_EQ(LongestLine(u""), 0u);
    EXPECT_EQ(LongestLine(u"abc"), 3u);
    EXPECT_EQ(LongestLine(u"ab\r\nabcd\r\n"), 4u);
    EXPECT_EQ(LongestLine(u"\r\n\r\nxy"), 2u);
    // A lone CR or LF stays inside its line, as the edit box shows it.
    EXPECT_EQ(LongestLine(u"a\rb\nc\r\nd"), 5u);
}

TEST(MemoryBudget, LoadingNeedsMoreThanTheFile) {
    EXPECT_GT(LoadMemoryFor(100ull << 20), 300ull << 20);
    EXPECT_LT(LoadMemoryFor(1000), 64ull << 20);
}

}  // namespace
}  // namespace tessaly
