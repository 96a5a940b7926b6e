#include "documents/history_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "documents/recent_files.h"
#include "test_support.h"

namespace tessaly {
namespace {

using Names = std::array<std::u16string, 5>;
using Items = std::vector<std::u16string>;

TEST(HistoryPath, AddsOneSeparator) {
    EXPECT_EQ(HistoryPath("/opt/tessaly"), "/opt/tessaly/sys.!!!");
    EXPECT_EQ(HistoryPath("/opt/tessaly/"), "/opt/tessaly/sys.!!!");
    EXPECT_EQ(HistoryPath("/"), "/sys.!!!");
    EXPECT_EQ(HistoryPath(""), "sys.!!!");
}

TEST(HistoryPathFor, InstalledProgramsUseTheStateFolderCopiesTheirOwn) {
    const std::vector<std::string> installed{"/opt/t/bin", "/usr/bin/"};
    // A copy anywhere else: beside itself, whatever the environment says.
    for (const char* dir : {"/home/u/build/ui", "/usr/bin/x", "/usr", "/opt/t"}) {
        EXPECT_EQ(HistoryPathFor(dir, installed, "/s", "/home/u"), HistoryPath(dir)) << dir;
    }
    EXPECT_EQ(HistoryPathFor("/usr/bin", {}, "/s", "/home/u"), "/usr/bin/sys.!!!");
    EXPECT_EQ(HistoryPathFor("", {""}, "/s", "/home/u"), "sys.!!!");
    // Installed (a trailing '/' aside): XDG_STATE_HOME when absolute, else ~/.local/state.
    for (const char* dir : {"/usr/bin", "/opt/t/bin", "/opt/t/bin/"}) {
        SCOPED_TRACE(dir);
        EXPECT_EQ(HistoryPathFor(dir, installed, "/st/ate", "/home/u"), "/st/ate/tessaly/sys.!!!");
        EXPECT_EQ(HistoryPathFor(dir, installed, "/st/ate/", "/home/u"), "/st/ate/tessaly/sys.!!!");
        for (const char* unusable : {static_cast<const char*>(nullptr), "", "state", "./st", "~/st"}) {
            EXPECT_EQ(HistoryPathFor(dir, installed, unusable, "/home/u"), "/home/u/.local/state/tessaly/sys.!!!");
            EXPECT_EQ(HistoryPathFor(dir, installed, unusable, "/home/u/"), "/home/u/.local/state/tessaly/sys.!!!");
            EXPECT_EQ(HistoryPathFor(dir, installed, unusable, "/"), "/.local/state/tessaly/sys.!!!");
            // No absolute home: no place for it.
            EXPECT_EQ(HistoryPathFor(dir, installed, unusable, nullptr), "");
            EXPECT_EQ(HistoryPathFor(dir, installed, unusable, "home"), "");
        }
        EXPECT_EQ(HistoryPathFor(dir, installed, "/", "/home/u"), "/tessaly/sys.!!!");
    }
}

TEST(FormatHistory, FiveQuotedLinesByteForByte) {
    const std::string empty = FormatHistory({});
    EXPECT_EQ(empty.size(), 20u);
    EXPECT_EQ(empty, "\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n");
    const std::string one = FormatHistory({u"/tmp/a.b"});
    EXPECT_EQ(one.size(), 28u);
    EXPECT_EQ(one, "\"/tmp/a.b\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n");
    // 日 = 93 FA, 本 = 96 7B, 表 = 95 5C in Shift-JIS; no BOM, no escaping.
    EXPECT_EQ(FormatHistory({u"", u"/日本/表, x "}),
              "\"\"\r\n\"/\x93\xFA\x96\x7B/\x95\x5C, x \"\r\n\"\"\r\n\"\"\r\n\"\"\r\n");
}

TEST(FormatHistory, UnwritableNameBecomesAnEmptySlot) {
    EXPECT_EQ(FormatHistory({u"a\"b", u"c\r\nd", u"e"}), "\"\"\r\n\"\"\r\n\"e\"\r\n\"\"\r\n\"\"\r\n");
}

TEST(ParseHistory, ReadsWhatFormatWrites) {
    const Names names{u"/a/日本.txt", u"", u" x, y ", u"/表", u"\tz"};
    const Items items = ParseHistory(FormatHistory(names));
    EXPECT_EQ(items, Items(names.begin(), names.end()));
}

TEST(ParseHistory, LineEndingsAndShortFiles) {
    EXPECT_EQ(ParseHistory(""), Items{});
    EXPECT_EQ(ParseHistory("\"a\"\n\"b\"\r\"c\"\r\n\"d\""), (Items{u"a", u"b", u"c", u"d"}));
    EXPECT_EQ(ParseHistory("\"a\"\r\n\"b\"\r\n"), (Items{u"a", u"b"}));
    EXPECT_EQ(ParseHistory("\"1\"\n\"2\"\n\"3\"\n\"4\"\n\"5\"\n\"6\"\n"), (Items{u"1", u"2", u"3", u"4", u"5"}));
}

TEST(ParseHistory, MalformedLines) {
    // Blank lines are empty names; unquoted text ends at a comma and is trimmed.
    EXPECT_EQ(ParseHistory("\r\n\r\n  /x y , /z\r\n"), (Items{u"", u"", u"/x y"}));
    // Leading blanks before a quote are skipped; text after the closing one too.
    EXPECT_EQ(ParseHistory("  \" a \",\"b\"junk\r\n"), (Items{u" a "}));
    // A missing closing quote stops reading; nothing after it is used.
    EXPECT_EQ(ParseHistory("\"a\"\r\n\"b\r\n\"c\"\r\n"), (Items{u"a"}));
    // Binary junk and stray quotes are failed reads.
    EXPECT_EQ(ParseHistory("\"a\"\r\n\x01\x02\xFF\r\n\"c\"\r\n"), (Items{u"a"}));
    EXPECT_EQ(ParseHistory(std::string("\"a\0b\"\r\n", 7)), Items{});
    EXPECT_EQ(ParseHistory("a\"b\r\n"), Items{});
}

class HistoryFileTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string path = HistoryPath(folder.path());
    test::FakeSlots slots;
    RecentFileList list{slots};
};

TEST_F(HistoryFileTest, LoadClearsFillsAndShows) {
    slots.Fill({u"old", u"old", u"old", u"old", u"old"});
    test::WriteFile(path, "\"/p\"\r\n\"\"\r\n\"/r\"\r\n");
    LoadHistory(list, path);
    EXPECT_EQ(slots.names, (Names{u"/p", u"", u"/r", u"", u""}));
    EXPECT_EQ(slots.shown, (std::array<bool, 5>{true, false, true, false, false}));
}

TEST_F(HistoryFileTest, SaveThenLoadRoundTrips) {
    slots.Fill({u"/ホーム/日本.txt", u"", u"/a, b ", u"/Q", u""});
    ASSERT_TRUE(SaveHistory(list, path));
    EXPECT_EQ(test::ReadFile(path), FormatHistory(slots.names));
    const Names saved = slots.names;
    slots.Fill({});
    LoadHistory(list, path);
    EXPECT_EQ(slots.names, saved);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"sys.!!!"});  // no temporary left
}

TEST_F(HistoryFileTest, LongerFileIsRewrittenWithFiveLines) {
    test::WriteFile(path, "\"1\"\r\n\"2\"\r\n\"3\"\r\n\"4\"\r\n\"5\"\r\n\"6\"\r\n\"7\"\r\n");
    LoadHistory(list, path);
    ASSERT_TRUE(SaveHistory(list, path));
    EXPECT_EQ(test::ReadFile(path), "\"1\"\r\n\"2\"\r\n\"3\"\r\n\"4\"\r\n\"5\"\r\n");
}

TEST_F(HistoryFileTest, UnreadableSourcesLeaveTheListEmpty) {
    ASSERT_EQ(::mkdir((folder / "dir").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0644), 0);  // no writer: must not block
    for (const std::string& source : {folder / "missing", folder / "dir", folder / "fifo", std::string("/dev/zero")}) {
        slots.Fill({u"x", u"x", u"x", u"x", u"x"});
        LoadHistory(list, source);
        EXPECT_EQ(slots.names, Names{}) << source;
        EXPECT_EQ(slots.shown, (std::array<bool, 5>{})) << source;
    }
}

TEST_F(HistoryFileTest, HugeFileIsReadOnlyAtItsStart) {
    // A line cut off by the read limit is never used.
    test::WriteFile(path, "\"a\"\r\n" + std::string(200 * 1024, 'x'));
    LoadHistory(list, path);
    EXPECT_EQ(slots.names, (Names{u"a", u"", u"", u"", u""}));

    test::WriteFile(path, "\"a\"\r\n\"b\"\r\n");
    ASSERT_EQ(::truncate(path.c_str(), 1L << 30), 0);  // sparse: 1 GiB of zero bytes
    LoadHistory(list, path);
    EXPECT_EQ(slots.names, (Names{u"a", u"b", u"", u"", u""}));
}

TEST_F(HistoryFileTest, SaveMakesMissingFoldersWithTheDefaultPermissions) {
    const mode_t old = ::umask(027);
    slots.Fill({u"/a"});
    const bool saved = SaveHistory(list, folder / "state/tessaly/sys.!!!");
    ::umask(old);
    ASSERT_TRUE(saved);
    EXPECT_EQ(test::ReadFile(folder / "state/tessaly/sys.!!!"), FormatHistory(slots.names));
    for (const char* made : {"state", "state/tessaly"}) {
        struct stat st {};
        ASSERT_EQ(::stat((folder / made).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0750u) << made;
    }
    EXPECT_FALSE(SaveHistory(list, ""));  // no place: nothing written anywhere
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"state"});
}

TEST_F(HistoryFileTest, FailedSaveKeepsTheOldFile) {
    test::WriteFile(folder / "file", "");
    EXPECT_FALSE(SaveHistory(list, folder / "file/sys.!!!"));  // a file where a folder should be
    ASSERT_EQ(::remove((folder / "file").c_str()), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);  // a folder in its place
    EXPECT_FALSE(SaveHistory(list, path));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"sys.!!!"});
}

}  // namespace
}  // namespace tessaly
