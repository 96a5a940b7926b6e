#include "documents/history_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <random>

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

// Names are made of pieces whose Shift-JIS bytes are known; a name holding
// any other piece has no bytes of its own and must come back as "".
TEST(HistoryBytesOf, ANameIsKeptByteForByteOrNotAtAll) {
    struct Piece {
        std::u16string text;
        const char* bytes;  // nullptr: reads back as another character, or not at all
    };
    const Piece pieces[] = {
        {u"/", "/"}, {u"a b", "a b"}, {u"\t", "\t"}, {u"\\", "\\"}, {u"~", "~"},
        {u"日", "\x93\xFA"}, {u"表", "\x95\x5C"}, {u"ソ", "\x83\x5C"}, {u"ｱ", "\xB1"},
        {u"\uFF5E", "\x81\x60"},  // ～ FULLWIDTH TILDE
        {u"\uFF0D", "\x81\x7C"},  // － FULLWIDTH HYPHEN-MINUS
        {u"\uFFE5", "\x81\x8F"},  // ￥ FULLWIDTH YEN SIGN
        {u"\u2015", "\x81\x5C"},  // ― HORIZONTAL BAR
        {u"\u2225", "\x81\x61"},  // ∥ PARALLEL TO
        {u"\u2460", "\x87\x40"},  // ① (NEC row 13)
        {u"é", nullptr}, {u"\u301C", nullptr}, {u"\u2212", nullptr}, {u"\u2014", nullptr}, {u"\u2016", nullptr},
        {u"\u00A5", nullptr}, {u"한", nullptr}, {u"\U0001F600", nullptr}, {u"\xD83D", nullptr},
        {u"\"", nullptr}, {u"\r", nullptr}, {u"\n", nullptr}, {u"\x01", nullptr}, {u"\x7F", nullptr},
    };
    std::mt19937 random(932);
    for (int round = 0; round < 3000; ++round) {
        std::u16string name;
        std::string bytes;
        bool kept = true;
        for (int n = 1 + static_cast<int>(random() % 6); n > 0; --n) {
            // Mostly representable pieces, so that both outcomes are common.
            const Piece& piece = pieces[random() % (random() % 4 ? 15 : std::size(pieces))];
            name += piece.text;
            if (piece.bytes == nullptr) {
                kept = false;
            } else {
                bytes += piece.bytes;
            }
        }
        ASSERT_EQ(HistoryBytesOf(name), kept ? bytes : std::string()) << round;
        const Names names{name, u"/x", name, u"", name};
        const Items back = ParseHistory(FormatHistory(names));
        ASSERT_EQ(back.size(), 5u);
        for (std::size_t i : {0u, 2u, 4u}) ASSERT_EQ(back[i], kept ? name : u"") << round;
        ASSERT_EQ(back[1], u"/x");
    }
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

TEST_F(HistoryFileTest, SaveMakesMissingFoldersForTheUserAlone) {
    const mode_t old = ::umask(027);
    slots.Fill({u"/a"});
    const bool saved = SaveHistory(list, folder / "state/tessaly/sys.!!!");
    ::umask(old);
    ASSERT_TRUE(saved);
    EXPECT_EQ(test::ReadFile(folder / "state/tessaly/sys.!!!"), FormatHistory(slots.names));
    for (const char* made : {"state", "state/tessaly"}) {
        struct stat st {};
        ASSERT_EQ(::stat((folder / made).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
    }
    EXPECT_FALSE(SaveHistory(list, ""));  // no place: nothing written anywhere
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"state"});
}

TEST_F(HistoryFileTest, ANameWithoutItsOwnBytesStaysForTheRunAndIsNotWritten) {
    // café would read back as cafe, the name of another file.
    test::WriteFile(folder / "cafe.ATT", "other");
    slots.Fill({u"/x/caf\u00E9.ATT", u"/x/日本.ATT"});
    ASSERT_TRUE(SaveHistory(list, path));
    EXPECT_EQ(slots.names[0], u"/x/caf\u00E9.ATT");  // the list itself keeps it
    EXPECT_EQ(test::ReadFile(path), "\"\"\r\n\"/x/\x93\xFA\x96\x7B.ATT\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n");
    LoadHistory(list, path);
    EXPECT_EQ(slots.names, (Names{u"", u"/x/日本.ATT", u"", u"", u""}));
    EXPECT_EQ(slots.shown, (std::array<bool, 5>{false, true, false, false, false}));
}

TEST_F(HistoryFileTest, ANewFileIsTheUsersAloneAnOldOneKeepsItsMode) {
    const mode_t old = ::umask(022);
    slots.Fill({u"/a"});
    const bool made = SaveHistory(list, path);
    ::umask(old);
    ASSERT_TRUE(made);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    ASSERT_TRUE(SaveHistory(list, path));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    // Folders that exist are left as they are.
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_TRUE(SaveHistory(list, folder / "new/sys.!!!"));
    ASSERT_EQ(::stat(folder.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat((folder / "new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
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
