#include "documents/recent_files.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tessaly {
namespace {

using Names = std::array<std::u16string, 5>;
using Shown = std::array<bool, 5>;

class RecentFileListTest : public ::testing::Test {
protected:
    void Add(const Names& before, const std::u16string& name) {
        slots.Fill(before);
        list.AddRecentFile(name);
    }
    test::FakeSlots slots;
    RecentFileList list{slots};
};

TEST_F(RecentFileListTest, NewNameGoesOnTopAndPushesTheOldestOut) {
    Add({}, u"P");
    EXPECT_EQ(slots.names, (Names{u"P", u"", u"", u"", u""}));
    EXPECT_EQ(slots.shown, (Shown{true, false, false, false, false}));

    Add({u"P", u"Q", u"R", u"S", u"T"}, u"U");
    EXPECT_EQ(slots.names, (Names{u"U", u"P", u"Q", u"R", u"S"}));
    EXPECT_EQ(slots.shown, (Shown{true, true, true, true, true}));
}

TEST_F(RecentFileListTest, KnownNameMovesUpAndLaterSlotsStay) {
    Add({u"P", u"Q", u"R", u"S", u"T"}, u"R");
    EXPECT_EQ(slots.names, (Names{u"R", u"P", u"Q", u"S", u"T"}));

    Add({u"P", u"Q", u"", u"", u""}, u"P");
    EXPECT_EQ(slots.names, (Names{u"P", u"Q", u"", u"", u""}));
    EXPECT_EQ(slots.shown, (Shown{true, true, false, false, false}));
}

TEST_F(RecentFileListTest, ComparisonIsExact) {
    Add({u"/home/a/Notes.txt", u"/home/a/notes.txt", u"", u"", u""}, u"/home/a/notes.TXT");
    EXPECT_EQ(slots.names, (Names{u"/home/a/notes.TXT", u"/home/a/Notes.txt", u"/home/a/notes.txt", u"", u""}));
    Add({u"a ", u"a", u"", u"", u""}, u"a");
    EXPECT_EQ(slots.names, (Names{u"a", u"a ", u"", u"", u""}));
}

TEST_F(RecentFileListTest, EveryCopyIsRemovedAndFreedSlotsHide) {
    Add({u"P", u"Q", u"P", u"R", u"S"}, u"P");
    EXPECT_EQ(slots.names, (Names{u"P", u"Q", u"R", u"S", u""}));
    EXPECT_EQ(slots.shown, (Shown{true, true, true, true, false}));

    Add({u"P", u"Q", u"Q", u"", u""}, u"R");
    EXPECT_EQ(slots.names, (Names{u"R", u"P", u"Q", u"Q", u""}));
}

TEST_F(RecentFileListTest, GapsMoveLikeNames) {
    Add({u"P", u"", u"R", u"", u""}, u"Q");
    EXPECT_EQ(slots.names, (Names{u"Q", u"P", u"", u"R", u""}));
    EXPECT_EQ(slots.shown, (Shown{true, true, false, true, false}));

    // The empty name counts every empty slot as a copy of itself.
    Add({u"P", u"Q", u"", u"", u""}, u"");
    EXPECT_EQ(slots.names, (Names{u"", u"P", u"Q", u"", u""}));
    EXPECT_EQ(slots.shown, (Shown{false, true, true, false, false}));
}

TEST_F(RecentFileListTest, AddSetsHidesThenShowsEachSlotInTurn) {
    Add({u"P", u"", u"", u"", u""}, u"Q");
    EXPECT_EQ(slots.calls, (std::vector<std::string>{"name0", "hide0", "show0", "name1", "hide1", "show1",
                                                     "name2", "hide2", "name3", "hide3", "name4", "hide4"}));
}

TEST_F(RecentFileListTest, ClearSetAndShow) {
    slots.Fill({u"P", u"Q", u"R", u"S", u"T"});
    list.ClearRecentFiles();
    EXPECT_EQ(slots.names, Names{});
    EXPECT_EQ(slots.shown, Shown{});

    list.SetRecentFileName(1, u"B");
    EXPECT_EQ(list.RecentFileName(1), u"B");
    EXPECT_FALSE(slots.shown[1]);  // setting a name leaves visibility alone

    slots.shown[3] = true;  // shown without a name: Show must not hide it
    list.ShowRecentFiles();
    EXPECT_EQ(slots.shown, (Shown{false, true, false, true, false}));
}

}  // namespace
}  // namespace tessaly
