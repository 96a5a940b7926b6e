// Edits when memory is short: refused beforehand when the state is told
// memory is short, and taken back whole when an allocation fails on the way
// (every allocation of each kind of edit is made to fail in turn).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <random>
#include <string>

#include "editor/editor_state.h"

namespace {

// The allocation that fails: counts down while armed, fails at zero.
long g_failAfter = -1;

}  // namespace

// The replaced operators pair malloc with free, which the compiler cannot
// see through.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    if (g_failAfter >= 0 && g_failAfter-- == 0) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tessaly {
namespace {

struct Seen {
    std::u16string text;
    Selection sel;
    std::size_t undo, redo;
    std::uint64_t bytes;
    std::vector<Pos> lines;
};

Seen Look(const EditorState& s) {
    Seen seen{std::u16string(s.Buffer().Text(0, s.Length())), s.GetSelection(), s.History().UndoCount(),
              s.History().RedoCount(), s.History().Bytes(), {}};
    for (Pos n = 0; n < s.Buffer().LineCount(); ++n) seen.lines.push_back(s.Buffer().LineStart(n));
    return seen;
}

void ExpectSame(const Seen& a, const Seen& b) {
    ASSERT_TRUE(a.text == b.text);
    ASSERT_EQ(a.sel, b.sel);
    ASSERT_EQ(a.undo, b.undo);
    ASSERT_EQ(a.redo, b.redo);
    ASSERT_EQ(a.bytes, b.bytes);
    ASSERT_EQ(a.lines, b.lines);
}

// Runs op with the k-th allocation failing, k = 0, 1, ..., until it goes
// through; every failure must leave the state as it was. Returns the number
// of failures seen.
template <typename Op>
int FailEachAllocation(EditorState& s, Op op) {
    for (int k = 0;; ++k) {
        const Seen before = Look(s);
        g_failAfter = k;
        EditResult r;
        try {
            r = op();
        } catch (const std::bad_alloc&) {
            r = EditResult::OutOfMemory;
        }
        const bool failed = g_failAfter < 0;  // the armed allocation was reached
        g_failAfter = -1;
        if (!failed) {
            EXPECT_NE(r, EditResult::OutOfMemory);
            return k;
        }
        EXPECT_EQ(r, EditResult::OutOfMemory) << k;
        EXPECT_NO_FATAL_FAILURE(ExpectSame(Look(s), before)) << k;
        if (testing::Test::HasFailure()) return k;
    }
}

TEST(EditorMemory, AFailedAllocationAnywhereInAnEditLeavesEverythingAsItWas) {
    EditorState s;
    Pos shownLength = 0;  // what the notices say, kept without allocating
    s.onTextChanged = [&](const TextChange& c) { shownLength += c.inserted - c.removed; };
    std::mt19937 rng(7);
    std::u16string text;
    for (int i = 0; i < 5000; ++i) text += i % 7 == 6 ? u"\r\n" : u"ab";
    s.SetText(std::u16string(text));
    shownLength = s.Length();
    s.SetSelection(10, 10);
    std::u16string manyLines;  // more lines than the line index has room for
    for (int i = 0; i < 20000; ++i) manyLines += u"q\r\n";
    std::vector<int> failures;
    failures.push_back(FailEachAllocation(s, [&] { return s.ReplaceSelection(u"x", EditKind::Typing); }));
    failures.push_back(FailEachAllocation(s, [&] { return s.ReplaceSelection(u"y\r\nz", EditKind::Typing); }));
    failures.push_back(FailEachAllocation(s, [&] { return s.Replace(s.Caret() - 1, s.Caret(), u"", EditKind::DeleteBackward); }));
    failures.push_back(FailEachAllocation(s, [&] {
        return s.Apply({{{0, 3, u"\r\n\r\n"}, {100, 200, u""}, {300, 300, manyLines}}, std::nullopt,
                        EditKind::Other});
    }));
    failures.push_back(FailEachAllocation(s, [&] { return s.MoveText(0, 500, s.Length()); }));
    failures.push_back(FailEachAllocation(s, [&] { return s.UndoStep(); }));
    failures.push_back(FailEachAllocation(s, [&] { return s.UndoStep(); }));
    failures.push_back(FailEachAllocation(s, [&] { return s.RedoStep(); }));
    failures.push_back(FailEachAllocation(s, [&] {
        s.SetText(std::u16string(20000, u'\n'));
        return EditResult::Done;
    }));
    failures.push_back(FailEachAllocation(s, [&] { return s.UndoStep(); }));
    for (int f : failures) EXPECT_GT(f, 0) << "every edit allocates";
    EXPECT_EQ(shownLength, s.Length());
    EXPECT_EQ(std::u16string(s.Buffer().Text(0, s.Length())).substr(0, 4), u"\r\n\r\n");
}

TEST(EditorMemory, AnEditThatCannotFitIsRefusedAndTheOldestStepsGoFirst) {
    EditorState s;
    std::uint64_t available = 1ull << 40;
    s.memoryAvailable = [&] { return available; };
    for (int i = 0; i < 10; ++i) {
        s.SetSelection(s.Length(), s.Length());
        s.ReplaceSelection(std::u16string(10000, u'a' + i), EditKind::Other);  // about 20 KB a step
    }
    ASSERT_EQ(s.History().UndoCount(), 10u);
    const Seen before = Look(s);

    // 1 MB to insert with 100 KB free and 200 KB of history: refused whole.
    available = 100'000;
    const std::u16string big(500'000, u'z');
    EXPECT_EQ(s.ReplaceSelection(big, EditKind::Other), EditResult::OutOfMemory);
    ASSERT_NO_FATAL_FAILURE(ExpectSame(Look(s), before));

    // 50 KB more than is free: the oldest steps make room, the newest stay.
    Transaction t{{{s.Caret(), s.Caret(), big}}, std::nullopt, EditKind::Other};
    available = s.BytesFor(t) - 50'000;
    EXPECT_EQ(s.Apply(t), EditResult::Done);
    EXPECT_GE(s.History().UndoCount(), 7u);
    EXPECT_LE(s.History().UndoCount(), 9u);
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(s.Length(), 100'000);
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(s.Length(), 90'000);

    // Undoing a conversion of a text of many lines needs its line index.
    available = 1ull << 40;
    std::u16string lines;
    for (int i = 0; i < 1'000'000; ++i) lines += u"\r\n";
    s.SetText(std::move(lines));
    s.SetText(u"short");
    const Seen converted = Look(s);
    available = 1000;
    EXPECT_EQ(s.UndoStep(), EditResult::OutOfMemory);
    ASSERT_NO_FATAL_FAILURE(ExpectSame(Look(s), converted));
    available = 1ull << 40;
    EXPECT_EQ(s.UndoStep(), EditResult::Done);
    EXPECT_EQ(s.Buffer().LineCount(), 1'000'001);
}

}  // namespace
}  // namespace tessaly
