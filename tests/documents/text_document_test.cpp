#include "documents/text_document.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "test_support.h"

namespace tessaly {
namespace {

TEST(FileBytesToEditorText, SplitsAtCrLfAndLoneCr) {
    EXPECT_EQ(FileBytesToEditorText(""), u"");
    EXPECT_EQ(FileBytesToEditorText("a\r\nb\r\n"), u"a\r\nb\r\n");
    EXPECT_EQ(FileBytesToEditorText("a\r\nb"), u"a\r\nb\r\n");
    EXPECT_EQ(FileBytesToEditorText("a\rb\r"), u"a\r\nb\r\n");
    EXPECT_EQ(FileBytesToEditorText("a\nb\n"), u"a\nb\n\r\n");
    EXPECT_EQ(FileBytesToEditorText("\r\r\n\n"), u"\r\n\r\n\n\r\n");
}

TEST(FileBytesToEditorText, ConvertsShiftJisPerLine) {
    // 日 = 93 FA, 本 = 96 7B, 表 = 95 5C, ソ = 83 5C.
    EXPECT_EQ(FileBytesToEditorText("\x93\xFA\x96\x7B\r\n\x95\x5C\x83\x5C"), u"日本\r\n表ソ\r\n");
}

TEST(EditorTextToFileBytes, AddsOneCrLf) {
    EXPECT_EQ(EditorTextToFileBytes(u""), "\r\n");
    EXPECT_EQ(EditorTextToFileBytes(u"日本\r\n表"), "\x93\xFA\x96\x7B\r\n\x95\x5C\r\n");
}

TEST(DescribeFileError, JapaneseForCommonFailuresSystemTextOtherwise) {
    EXPECT_EQ(DescribeFileError(ENOENT), u"ファイルまたはフォルダーが見つかりません。");
    EXPECT_EQ(DescribeFileError(EPERM), DescribeFileError(EACCES));
    EXPECT_EQ(DescribeFileError(kErrNotRegularFile), u"通常のファイルではありません。");
    // The tests run in the C locale, where the system's text is ASCII.
    const std::string system = std::strerror(EXDEV);
    EXPECT_EQ(DescribeFileError(EXDEV), std::u16string(system.begin(), system.end()));
}

TEST(FindFileByteLoss, NamesTheLineOfTheFirstByteThatWillChange) {
    // Clean Shift-JIS, whatever the terminators: a lone CR becoming CR LF
    // and a last line without one are not losses.
    for (const char* clean : {"", "\x83\x65\x83\x58\x83\x67\r\nabc\r\n", "a\rb\r\nc", "a\nb\n", "\r\r\n"}) {
        const FileByteLoss loss = FindFileByteLoss(clean);
        EXPECT_EQ(loss.count, 0u) << clean;
        EXPECT_EQ(loss.firstLine, 0u) << clean;
    }
    // UTF-8 "日本語" (E6 97 A5 E6 9C AC E8 AA 9E) on line 2: three pairs, two
    // kana and the lead byte 9E alone before the line's end.
    const FileByteLoss utf8 = FindFileByteLoss("ok\r\n\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n");
    EXPECT_EQ(utf8.count, 1u);
    EXPECT_EQ(utf8.firstLine, 2u);
    // The NEC-selected rows ED and EE, on line 3 (lines end at a lone CR too).
    const FileByteLoss nec = FindFileByteLoss("a\rb\n\r\xED\x40\xEE\xEC");
    EXPECT_EQ(nec.count, 4u);
    EXPECT_EQ(nec.firstLine, 3u);
    // A lead byte before a terminator stands alone: one byte.
    const FileByteLoss lead = FindFileByteLoss("x\r\n\x81\r\n\x81");
    EXPECT_EQ(lead.count, 2u);
    EXPECT_EQ(lead.firstLine, 2u);
}

// The lines of a file, split as the loader splits them.
std::vector<std::string> LinesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const auto cr = std::min(bytes.find('\r'), bytes.size());
        lines.emplace_back(bytes.substr(0, cr));
        bytes.remove_prefix(cr);
        bytes.remove_prefix(bytes.starts_with("\r\n") ? 2 : std::min<std::size_t>(bytes.size(), 1));
    }
    return lines;
}

TEST(FindFileByteLoss, CleanExactlyWhenALoadAndSaveKeepsEveryLine) {
    std::mt19937 random(932);
    const char* pieces[] = {"a", "\r", "\r\n", "\n", "\x83\x65", "\xED\x40", "\xEE\xFC", "\x81", "\xE3\x81\x82"};
    for (int round = 0; round < 5000; ++round) {
        std::string bytes;
        for (int i = static_cast<int>(random() % 12); i > 0; --i) {
            if (random() % 3 == 0) {
                bytes += static_cast<char>(random() % 256);
            } else {
                bytes += pieces[random() % std::size(pieces)];
            }
        }
        // The reference: the first line the saved file does not give back.
        const std::vector<std::string> before = LinesOf(bytes);
        const std::vector<std::string> after = LinesOf(EditorTextToFileBytes(FileBytesToEditorText(bytes)));
        ASSERT_EQ(after.size(), before.size() + 1);  // the one CR LF saving adds
        std::size_t firstChanged = 0;
        for (std::size_t i = 0; i < before.size() && firstChanged == 0; ++i) {
            if (before[i] != after[i]) firstChanged = i + 1;
        }
        const FileByteLoss loss = FindFileByteLoss(bytes);
        ASSERT_EQ(loss.firstLine, firstChanged) << round;
        ASSERT_EQ(loss.count == 0, firstChanged == 0) << round;
        ASSERT_LE(loss.count, bytes.size()) << round;
        // The loader counts the same while it converts.
        FileByteLoss loaded;
        ASSERT_EQ(FileBytesToEditorText(bytes, &loaded), FileBytesToEditorText(bytes)) << round;
        ASSERT_EQ(loaded.count, loss.count) << round;
        ASSERT_EQ(loaded.firstLine, loss.firstLine) << round;
    }
}

class TextDocumentTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string file = folder / "doc.txt";
};

TEST_F(TextDocumentTest, ReadsWhatWasWritten) {
    ASSERT_EQ(WriteTextDocument(file, u"日本\r\nabc"), 0);
    EXPECT_EQ(test::ReadFile(file), "\x93\xFA\x96\x7B\r\nabc\r\n");
    const LoadedText loaded = ReadTextDocument(file);
    EXPECT_EQ(loaded.error, 0);
    EXPECT_EQ(loaded.text, u"日本\r\nabc\r\n");
    EXPECT_EQ(loaded.loss.count, 0u);

    // The loss is told of the bytes as read.
    test::WriteFile(file, "abc\r\n\xED\x40");
    const LoadedText nec = ReadTextDocument(file);
    EXPECT_EQ(nec.loss.count, 2u);
    EXPECT_EQ(nec.loss.firstLine, 2u);

    ASSERT_EQ(WriteTextDocument(file, u""), 0);  // replaces, never appends
    EXPECT_EQ(test::ReadFile(file), "\r\n");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.txt"});
}

// A file of several MiB is converted as it is read, a piece at a time: the
// pieces end on every kind of byte that depends on the next one (the CR of a
// CR LF, a lone CR, a lead byte with its trail, a lead byte before a CR), and
// the text, the loss and the line count are those of the whole bytes at once.
TEST_F(TextDocumentTest, ReadsLargeFilesAsTheirWholeBytes) {
    static const unsigned char kBytes[] = {'a', 'b', '\r', '\n', 0x81, 0x82, 0xE0, 0xFC, 0x40, 0x9F, 0xA0, 0xED, 0xFD, 0x80};
    std::mt19937 rng(7);
    std::string bytes(5 * (1 << 20) + 12345, 'x');
    for (char& c : bytes) c = static_cast<char>(rng() % 5 ? 'a' + rng() % 26 : kBytes[rng() % std::size(kBytes)]);
    // Around every multiple of 64 KiB, one of the cases, varied over the
    // multiples of 1 MiB too.
    static const char* const kEnds[] = {"\r\n", "\ra", "\x93\xFA", "\x93\r"};
    for (std::size_t i = 1 << 16; i + 1 < bytes.size(); i += 1 << 16) {
        const char* end = kEnds[(i / (1 << 20) + i / (1 << 16)) % 4];
        bytes[i - 1] = end[0];
        bytes[i] = end[1];
        bytes[i - 2] = 'q';  // never a lead byte before it
    }
    for (const std::size_t size : {bytes.size(), std::size_t{3} << 20, (std::size_t{2} << 20) + 1}) {
        const std::string part = bytes.substr(0, size);
        test::WriteFile(file, part);
        const LoadedText loaded = ReadTextDocument(file);
        ASSERT_EQ(loaded.error, 0);
        const FileByteLoss loss = FindFileByteLoss(part);
        ASSERT_NE(loss.count, 0u);
        EXPECT_EQ(loaded.loss.count, loss.count) << size;
        EXPECT_EQ(loaded.loss.firstLine, loss.firstLine) << size;
        ASSERT_TRUE(loaded.text == FileBytesToEditorText(part)) << size;
        std::uint64_t lines = 1;
        for (std::size_t at = loaded.text.find(u"\r\n"); at != std::u16string::npos; at = loaded.text.find(u"\r\n", at + 2)) {
            ++lines;
        }
        EXPECT_EQ(loaded.lines, lines) << size;
    }
}

TEST_F(TextDocumentTest, ReadRefusesWhatIsNotARegularFile) {
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0644), 0);  // no writer: must not block
    EXPECT_EQ(ReadTextDocument(folder / "missing").error, ENOENT);
    EXPECT_EQ(ReadTextDocument(folder.path()).error, EISDIR);
    EXPECT_EQ(ReadTextDocument(folder / "fifo").error, kErrNotRegularFile);
    EXPECT_EQ(ReadTextDocument("/dev/zero").error, kErrNotRegularFile);
    EXPECT_EQ(ReadTextDocument(folder / "missing/x").error, ENOENT);
}

TEST_F(TextDocumentTest, WriteRefusesWhatIsNotARegularFile) {
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0644), 0);
    EXPECT_EQ(WriteTextDocument(folder.path(), u"x"), EISDIR);
    EXPECT_EQ(WriteTextDocument(folder / "fifo", u"x"), kErrNotRegularFile);
    EXPECT_EQ(WriteTextDocument(folder / "missing/x", u"x"), ENOENT);
    test::WriteFile(folder / "plain", "");
    EXPECT_EQ(WriteTextDocument(folder / "plain/x", u"x"), ENOTDIR);
}

TEST_F(TextDocumentTest, PermissionBits) {
    const mode_t oldMask = ::umask(027);
    ASSERT_EQ(WriteTextDocument(file, u"new"), 0);
    ::umask(oldMask);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
    ASSERT_EQ(WriteTextDocument(file, u"again"), 0);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(TextDocumentTest, SymlinkIsFollowedNotReplaced) {
    ASSERT_EQ(::mkdir((folder / "real").c_str(), 0755), 0);
    test::WriteFile(folder / "real/target.txt", "old");
    ASSERT_EQ(::symlink("real/target.txt", file.c_str()), 0);
    ASSERT_EQ(WriteTextDocument(file, u"new"), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::ReadFile(folder / "real/target.txt"), "new\r\n");

    ASSERT_EQ(::symlink("real/created.txt", (folder / "dangling").c_str()), 0);
    ASSERT_EQ(WriteTextDocument(folder / "dangling", u"made"), 0);
    EXPECT_EQ(test::ReadFile(folder / "real/created.txt"), "made\r\n");

    ASSERT_EQ(::symlink("loop", (folder / "loop").c_str()), 0);
    EXPECT_EQ(WriteTextDocument(folder / "loop", u"x"), ELOOP);
}

TEST_F(TextDocumentTest, ReadOnlyFileIsRefusedAndUntouched) {
    // The folder lets anyone create and rename files, so only the check on
    // the file itself keeps it from being replaced.
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    test::WriteFile(file, "keep");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const int result = test::AsOrdinaryUser([&] { return WriteTextDocument(file, u"lost"); });
    if (result == test::kCannotDropRoot) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(result, EACCES);
    EXPECT_EQ(test::ReadFile(file), "keep");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.txt"});
}

TEST_F(TextDocumentTest, WritableFileInLockedFolderIsWrittenInPlace) {
    test::WriteFile(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    }
    const int result = test::AsOrdinaryUser([&] { return WriteTextDocument(file, u"new"); });
    ::chmod(folder.path().c_str(), 0755);
    if (result == test::kCannotDropRoot) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(test::ReadFile(file), "new\r\n");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.txt"});
}

TEST_F(TextDocumentTest, FailedWriteLeavesTargetAndNoTemporary) {
    test::WriteFile(file, "original");
    // A file size limit makes the write fail part-way, after the open.
    const int result = test::InChild([&] {
        const rlimit limit{4, 4};
        ::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 0;
        return WriteTextDocument(file, std::u16string(4096, u'x'));
    });
    EXPECT_EQ(result, EFBIG);
    EXPECT_EQ(test::ReadFile(file), "original");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.txt"});
}

}  // namespace
}  // namespace tessaly
