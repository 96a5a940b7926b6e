// What a save keeps of the file it replaces, and what a failed save leaves:
// real links, extended attributes, ACLs, owners and file-size limits.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "documents/text_document.h"
#include "test_support.h"

namespace tessaly {
namespace {

struct stat StatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st.st_ino = 0;
    return st;
}

// The value of an extended attribute, or "<none>".
std::string Xattr(const std::string& path, const char* name) {
    char value[4096];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, static_cast<std::size_t>(n));
}

bool Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

// The saved bytes of a text of n ASCII letters.
std::string Saved(std::size_t n) { return std::string(n, 'x') + "\r\n"; }

// Saves n letters in a child whose file-size limit is limit bytes (SIGXFSZ
// ignored, as the programs do); returns the save's result.
int SaveUnderLimit(const std::string& path, std::size_t n, rlim_t limit) {
    return test::InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &lowered) != 0) return 201;
        return WriteTextDocument(path, std::u16string(n, u'x'));
    });
}

class Saving : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string file = folder / "doc.txt";
    const std::string old = std::string(100000, 'o');
};

TEST_F(Saving, HardLinksShareTheNewTextAndAFailedWriteLeavesThemWhole) {
    test::WriteFile(file, old);
    ASSERT_EQ(::link(file.c_str(), (folder / "other").c_str()), 0);
    const ino_t inode = StatOf(file).st_ino;
    // Longer than before, past the limit: refused before a byte changes.
    EXPECT_EQ(SaveUnderLimit(file, 150000, 102400), EFBIG);
    EXPECT_EQ(test::ReadFile(file), old);
    // Longer, within the limit; then shorter: cut to length.
    ASSERT_EQ(WriteTextDocument(file, std::u16string(120000, u'x')), 0);
    EXPECT_EQ(test::ReadFile(folder / "other"), Saved(120000));
    ASSERT_EQ(WriteTextDocument(file, u"short"), 0);
    EXPECT_EQ(test::ReadFile(folder / "other"), "short\r\n");
    EXPECT_EQ(StatOf(file).st_ino, inode);
    EXPECT_EQ(StatOf(file).st_nlink, 2u);
    EXPECT_EQ(folder.Entries().size(), 2u);  // no temporary left
}

TEST_F(Saving, RenameKeepsXattrsAndAclsAndDropsOnlyWhatTheFolderAdded) {
    test::WriteFile(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    if (::setxattr(file.c_str(), "user.origin", "scanner", 7, 0) != 0) {
        GTEST_SKIP() << "this file system keeps no user.* attributes (errno " << errno << ")";
    }
    const bool acls = Shell("setfacl -m u:nobody:rw '" + file + "'") &&
                      Shell("setfacl -d -m u:nobody:r '" + folder.path() + "'");  // what new files inherit
    test::WriteFile(folder / "plain.txt", "old");
    ::removexattr((folder / "plain.txt").c_str(), "system.posix_acl_access");
    ASSERT_EQ(::chmod((folder / "plain.txt").c_str(), 0604), 0);
    const std::string acl = Xattr(file, "system.posix_acl_access");
    const mode_t mode = StatOf(file).st_mode & 07777;  // with an ACL, its mask as the group bits
    const ino_t inode = StatOf(file).st_ino;

    ASSERT_EQ(WriteTextDocument(file, u"new"), 0);
    ASSERT_EQ(WriteTextDocument(folder / "plain.txt", u"new"), 0);
    EXPECT_EQ(test::ReadFile(file), "new\r\n");
    EXPECT_NE(StatOf(file).st_ino, inode);  // the replacing kind of save
    EXPECT_EQ(Xattr(file, "user.origin"), "scanner");
    EXPECT_EQ(StatOf(file).st_mode & 07777, mode);
    EXPECT_EQ(StatOf(folder / "plain.txt").st_mode & 07777, 0604u);
    if (!acls) GTEST_SKIP() << "setfacl missing (package acl) or ACLs unsupported here";
    EXPECT_EQ(Xattr(file, "system.posix_acl_access"), acl);
    EXPECT_EQ(Xattr(folder / "plain.txt", "system.posix_acl_access"), "<none>");
}

TEST_F(Saving, FailedWriteThroughTheRenameLeavesTheOldFile) {
    test::WriteFile(file, old);
    EXPECT_EQ(SaveUnderLimit(file, 150000, 102400), EFBIG);
    EXPECT_EQ(test::ReadFile(file), old);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.txt"});
}

// A folder the user cannot write: the save goes in place; under a file-size
// limit it fails before anything changes.
TEST_F(Saving, InPlaceInALockedFolderNeverLeavesAMix) {
    test::WriteFile(file, old);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), ::geteuid() == 0 ? 0755 : 0555), 0);
    const int failed = test::AsOrdinaryUser([&] { return SaveUnderLimit(file, 150000, 102400); });
    const std::string afterFailure = test::ReadFile(file);
    const int saved = test::AsOrdinaryUser([&] { return WriteTextDocument(file, u"new"); });
    ::chmod(folder.path().c_str(), 0755);
    if (failed == test::kCannotDropRoot) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(failed, EFBIG);
    EXPECT_EQ(afterFailure, old);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(test::ReadFile(file), "new\r\n");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.txt"});
}

// Files of another user that the user may write: the owner stays, also in a
// folder of the user's own (where a rename would make the user the owner)
// and in a sticky folder (where the rename is refused).
TEST_F(Saving, AnotherUsersWritableFileKeepsItsOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of two users";
    ASSERT_EQ(::mkdir((folder / "own").c_str(), 0755), 0);
    ASSERT_EQ(::chown((folder / "own").c_str(), test::kNobody, test::kNobody), 0);
    ASSERT_EQ(::mkdir((folder / "sticky").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((folder / "sticky").c_str(), 01777), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    for (const std::string& path : {folder / "own/doc.txt", folder / "sticky/doc.txt"}) {
        SCOPED_TRACE(path);
        test::WriteFile(path, "old");
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
        const int result = test::AsOrdinaryUser([&] { return WriteTextDocument(path, u"new"); });
        if (result == test::kCannotDropRoot) GTEST_SKIP() << "cannot switch to an ordinary user";
        EXPECT_EQ(result, 0);
        EXPECT_EQ(test::ReadFile(path), "new\r\n");
        EXPECT_EQ(StatOf(path).st_uid, 0u);
        EXPECT_EQ(StatOf(path).st_mode & 07777, 0666u);
    }
    // The user's own file in the sticky folder is replaced as usual.
    const std::string mine = folder / "sticky/mine.txt";
    test::WriteFile(mine, "old");
    ASSERT_EQ(::chown(mine.c_str(), test::kNobody, test::kNobody), 0);
    EXPECT_EQ(test::AsOrdinaryUser([&] { return WriteTextDocument(mine, u"new"); }), 0);
    EXPECT_EQ(test::ReadFile(mine), "new\r\n");
    EXPECT_EQ(StatOf(mine).st_uid, test::kNobody);
}

// An attribute the user cannot read (user.* needs read permission) cannot be
// copied: the file is written in place and keeps it.
TEST_F(Saving, AttributeTheCopyCannotCarryIsKeptInPlace) {
    test::WriteFile(file, "old");
    if (::setxattr(file.c_str(), "user.origin", "scanner", 7, 0) != 0) {
        GTEST_SKIP() << "this file system keeps no user.* attributes";
    }
    ASSERT_EQ(::chmod(file.c_str(), 0200), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(file.c_str(), test::kNobody, test::kNobody), 0);
        ASSERT_EQ(::chown(folder.path().c_str(), test::kNobody, test::kNobody), 0);
    }
    const ino_t inode = StatOf(file).st_ino;
    const int result = test::AsOrdinaryUser([&] { return WriteTextDocument(file, u"new"); });
    if (result == test::kCannotDropRoot) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(StatOf(file).st_ino, inode);
    EXPECT_EQ(StatOf(file).st_mode & 07777, 0200u);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);  // to look at it
    EXPECT_EQ(Xattr(file, "user.origin"), "scanner");
    EXPECT_EQ(test::ReadFile(file), "new\r\n");
}

// A file that is a mount point (a bind-mounted file) cannot be renamed over
// (EBUSY); it is written in place. Runs in a mount namespace of its own.
TEST_F(Saving, RenameRefusedFallsBackToInPlace) {
    test::WriteFile(folder / "source", "old");
    test::WriteFile(file, "covered");
    const int result = test::InChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount((folder / "source").c_str(), file.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return 202;
        }
        return WriteTextDocument(file, u"new");
    });
    if (result == 202) GTEST_SKIP() << "cannot bind-mount a file here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(test::ReadFile(folder / "source"), "new\r\n");
    EXPECT_EQ(test::ReadFile(file), "covered");
    EXPECT_EQ(folder.Entries().size(), 2u);
}

TEST_F(Saving, NameExistsWhateverTheUserMayDoWithIt) {
    test::WriteFile(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0200), 0);
    ASSERT_EQ(::symlink("nowhere", (folder / "dangling").c_str()), 0);
    EXPECT_TRUE(NameExists(file));
    EXPECT_TRUE(NameExists(folder / "dangling"));
    EXPECT_TRUE(NameExists(folder.path()));
    EXPECT_FALSE(NameExists(folder / "missing"));
    EXPECT_FALSE(NameExists(folder / "doc.txt/x"));
    // Unreadable for an ordinary user too.
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    const int seen = test::AsOrdinaryUser([&] { return NameExists(file) ? 1 : 0; });
    if (seen != test::kCannotDropRoot) {
        EXPECT_EQ(seen, 1);
    }
}

}  // namespace
}  // namespace tessaly
