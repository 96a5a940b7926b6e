#include "documents/memory_budget.h"
#include "editor/memory_cost.h"

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

TEST(MemoryBudget, EditorNeedsGrowWithTheTextAndItsLines) {
    const std::uint64_t few = EditorMemoryFor(10'000'000, 1);
    const std::uint64_t many = EditorMemoryFor(10'000'000, 10'000'000 / 40);
    EXPECT_GT(few, 10'000'000ull * 2);  // the text itself, at least
    EXPECT_GT(many, few);               // every line costs its index entries
    EXPECT_GT(EditorMemoryFor(20'000'000, 1), few + 10'000'000ull * 2);
    EXPECT_LT(EditorMemoryFor(0, 1), 1ull << 30);
}

TEST(MemoryBudget, ConversionsNeedTheirResultAboveTheText) {
    // Encoding makes up to six units of each; decoding up to two.
    const std::uint64_t units = 1'000'000;
    EXPECT_GE(EncodeMemoryFor(units), EditorMemoryFor(6 * units, 1));
    EXPECT_GE(DecodeMemoryFor(units), 2 * units * 2);
    EXPECT_GE(DecodeMemoryFor(units), DecodeMemoryFor(units, 1));
    EXPECT_LT(EncodeMemoryFor(0), 64ull << 20);
}

TEST(MemoryBudget, LoadingNeedsMoreThanTheFile) {
    EXPECT_GT(LoadMemoryFor(100ull << 20), 300ull << 20);
    EXPECT_LT(LoadMemoryFor(1000), 64ull << 20);
}

}  // namespace
}  // namespace tessaly
