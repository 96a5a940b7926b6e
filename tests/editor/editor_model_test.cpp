// The editor model against a plain string: random edits, selections, text
// replacements, undo and redo, checked after every step (text, lines, the
// change reported, selection, what undo and redo give back).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "editor/editor_state.h"

namespace tessaly {
namespace {

std::vector<Pos> NaiveStarts(const std::u16string& s) {
    std::vector<Pos> starts{0};
    for (std::size_t i = 1; i < s.size(); ++i)
        if (s[i - 1] == u'\r' && s[i] == u'\n') starts.push_back(static_cast<Pos>(i + 1));
    return starts;
}

void ExpectLines(const TextBuffer& b, const std::u16string& s) {
    const std::vector<Pos> starts = NaiveStarts(s);
    ASSERT_EQ(b.LineCount(), static_cast<Pos>(starts.size()));
    for (std::size_t n = 0; n < starts.size(); ++n) {
        ASSERT_EQ(b.LineStart(n), starts[n]) << n;
        ASSERT_EQ(b.LineEnd(n), n + 1 < starts.size() ? starts[n + 1] - 2 : static_cast<Pos>(s.size())) << n;
    }
    std::size_t line = 0;
    for (Pos p = 0; p <= static_cast<Pos>(s.size()); ++p) {
        while (line + 1 < starts.size() && starts[line + 1] <= p) ++line;
        ASSERT_EQ(b.LineOf(p), static_cast<Pos>(line)) << p;
    }
}

// Lines outside the change are the same before and after it.
void ExpectChangeFits(const TextChange& c, const std::u16string& before, const std::u16string& after) {
    const std::vector<Pos> a = NaiveStarts(before), b = NaiveStarts(after);
    ASSERT_EQ(static_cast<Pos>(b.size()) - static_cast<Pos>(a.size()), c.linesInserted - c.linesRemoved);
    ASSERT_EQ(c.removed - c.inserted, static_cast<Pos>(before.size()) - static_cast<Pos>(after.size()));
    if (c.wholeText) return;
    ASSERT_EQ(before.compare(0, c.pos, after, 0, c.pos), 0);
    ASSERT_EQ(before.substr(c.pos + c.removed), after.substr(c.pos + c.inserted));
    for (Pos n = 0; n <= c.firstLine; ++n) ASSERT_EQ(a[n], b[n]);
    for (Pos n = c.firstLine + c.linesRemoved + 1; n < static_cast<Pos>(a.size()); ++n)
        ASSERT_EQ(a[n] + c.inserted - c.removed, b[n + c.linesInserted - c.linesRemoved]);
    ASSERT_LE(a[c.firstLine], c.pos);
}

std::u16string RandomText(std::mt19937& rng, int maxLength) {
    static const char16_t kUnits[] = {u'\r', u'\n', u'\r', u'\n', u'a', u'b', 0xD83D, 0xDE00, u'\t', 0x3042};
    std::u16string s(rng() % (maxLength + 1), u'a');
    for (char16_t& c : s) c = kUnits[rng() % std::size(kUnits)];
    return s;
}

// The reference: a string, a selection and a stack of whole states.
struct Snapshot {
    std::u16string text;
    Pos anchor, caret;
};
struct RefStep {
    Snapshot before, after;
    EditKind kind;
    Pos lastPos, lastEnd;  // the newest edit of the step: where, and the end of what it inserted
};

class Reference {
public:
    std::u16string text;
    Pos anchor = 0, caret = 0;
    std::vector<RefStep> undo, redo;
    bool sealed = true;

    Pos Snap(Pos p) const {
        p = std::clamp<Pos>(p, 0, text.size());
        if (p > 0 && p < static_cast<Pos>(text.size())) {
            const char16_t a = text[p - 1], b = text[p];
            if ((a >= 0xD800 && a < 0xDC00 && b >= 0xDC00 && b < 0xE000) || (a == u'\r' && b == u'\n')) --p;
        }
        return p;
    }
    void Replace(Pos from, Pos to, const std::u16string& s, EditKind kind) {
        from = std::clamp<Pos>(from, 0, text.size());
        to = std::clamp<Pos>(to, 0, text.size());
        if (to < from) std::swap(from, to);
        if (from == to && s.empty()) return;
        const Snapshot before{text, anchor, caret};
        const Pos removed = to - from, inserted = s.size();
        text.replace(from, removed, s);
        anchor = caret = from + inserted;
        redo.clear();
        bool join = false;
        if (!sealed && !undo.empty() && undo.back().kind == kind) {
            const RefStep& top = undo.back();
            if (kind == EditKind::Typing) join = removed == 0 && from == top.lastEnd;
            if (kind == EditKind::DeleteBackward) join = inserted == 0 && removed > 0 && to == top.lastPos;
            if (kind == EditKind::DeleteForward) join = inserted == 0 && removed > 0 && from == top.lastPos;
        }
        if (join) {
            undo.back().after = {text, anchor, caret};
            undo.back().lastPos = from;
            undo.back().lastEnd = from + inserted;
        } else {
            undo.push_back({before, {text, anchor, caret}, kind, from, from + inserted});
        }
        sealed = kind == EditKind::Other;
    }
    void SetText(const std::u16string& s) {
        redo.clear();
        undo.push_back({{text, anchor, caret}, {s, 0, 0}, EditKind::Other, 0, 0});
        text = s;
        anchor = caret = 0;
        sealed = true;
    }
    void Move(std::vector<RefStep>& from, std::vector<RefStep>& to, bool back) {
        if (from.empty()) return;
        const Snapshot& s = back ? from.back().before : from.back().after;
        text = s.text;
        anchor = s.anchor;
        caret = s.caret;
        to.push_back(from.back());
        from.pop_back();
        sealed = true;
    }
};

TEST(EditorModel, MatchesPlainStringUnderRandomEditsUndoAndRedo) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        EditorState state;
        Reference ref;
        std::u16string shown;  // what the change notifications say the text is
        state.onTextChanged = [&](const TextChange& c) {
            const std::u16string now(state.Buffer().View());
            ExpectChangeFits(c, shown, now);
            shown = now;
        };
        for (int step = 0; step < 120; ++step) {
            const Pos length = ref.text.size();
            const auto pick = [&] { return static_cast<Pos>(rng() % (length + 3)) - 1; };
            const unsigned op = rng() % 20;
            if (op < 9) {
                static const EditKind kinds[] = {EditKind::Typing, EditKind::DeleteBackward,
                                                 EditKind::DeleteForward, EditKind::Other};
                const EditKind kind = kinds[rng() % 4];
                Pos from = pick(), to = from;
                std::u16string s;
                if (kind == EditKind::Typing) {
                    // Often at the caret, one unit or a pair, as keys are typed.
                    if (rng() % 2) from = to = ref.caret;
                    if (rng() % 4 == 0) to = pick();
                    s = RandomText(rng, 2);
                } else if (kind == EditKind::Other) {
                    to = pick();
                    s = RandomText(rng, 12);
                } else {
                    if (rng() % 2) from = ref.caret;
                    to = kind == EditKind::DeleteBackward ? from - 1 - rng() % 2 : from + 1 + rng() % 2;
                    if (rng() % 8 == 0) from = pick();
                }
                state.Replace(from, to, s, kind);
                ref.Replace(from, to, s, kind);
            } else if (op < 10) {
                std::u16string s = RandomText(rng, 100);  // past the 32-unit blocks of the scan
                ref.SetText(s);
                const char16_t* storage = s.data();
                state.SetText(std::move(s));
                if (ref.text.size() > 7) {
                    ASSERT_EQ(state.Buffer().View().data(), storage) << "taken without a copy";
                }
            } else if (op < 14) {
                ASSERT_EQ(state.Undo(), !ref.undo.empty());
                ref.Move(ref.undo, ref.redo, true);
            } else if (op < 17) {
                ASSERT_EQ(state.Redo(), !ref.redo.empty());
                ref.Move(ref.redo, ref.undo, false);
            } else if (op < 19) {
                const Pos a = pick(), c = pick();
                state.SetSelection(a, c);
                const Pos sa = ref.Snap(a), sc = ref.Snap(c);
                if (sa != ref.anchor || sc != ref.caret) ref.sealed = true;
                ref.anchor = sa;
                ref.caret = sc;
            } else {
                state.History().Seal();
                ref.sealed = true;
            }
            ASSERT_EQ(std::u16string(state.Buffer().View()), ref.text);
            ASSERT_EQ(shown, ref.text);
            ASSERT_EQ(state.Anchor(), ref.anchor);
            ASSERT_EQ(state.Caret(), ref.caret);
            ASSERT_EQ(state.History().UndoCount(), ref.undo.size());
            ASSERT_EQ(state.History().RedoCount(), ref.redo.size());
            ASSERT_NO_FATAL_FAILURE(ExpectLines(state.Buffer(), ref.text));
            const Pos now = ref.text.size();
            const Pos a = std::clamp<Pos>(pick(), 0, now), b = std::clamp<Pos>(pick(), 0, now);
            ASSERT_EQ(state.Buffer().Text(a, b), ref.text.substr(a, std::max<Pos>(0, b - a)));
        }
    }
}

// A text set with spare room keeps its storage while edits fit in it: the
// gap takes the room a part at a time, and the text and its lines stay those
// of a plain string.
TEST(EditorModel, SpareRoomOfASetTextIsTakenAsTheGapGrows) {
    for (unsigned seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        TextBuffer buffer;
        std::u16string ref = RandomText(rng, 5000);
        std::u16string s = ref;
        s.reserve(s.size() * 3 + 4096);
        const std::size_t room = s.capacity();
        const char16_t* storage = s.data();
        buffer.SetText(std::move(s));
        while (ref.size() + ref.size() / 8 + 2048 < room) {  // a grown gap still fits
            const Pos at = static_cast<Pos>(rng() % (ref.size() + 1));
            const Pos removed = std::min<Pos>(static_cast<Pos>(rng() % 3), static_cast<Pos>(ref.size()) - at);
            const std::u16string text = RandomText(rng, 400);
            buffer.Replace(at, removed, text);
            ref.replace(static_cast<std::size_t>(at), static_cast<std::size_t>(removed), text);
            ASSERT_EQ(buffer.Text(0, buffer.Length()), ref);
            ASSERT_NO_FATAL_FAILURE(ExpectLines(buffer, ref));
        }
        ASSERT_EQ(buffer.View().data(), storage) << "no new storage while the text fits";
    }
}

TEST(EditorModel, UndoGroupsTypingAndDeletionRuns) {
    EditorState s;
    for (char16_t c : std::u16string(u"abc")) s.ReplaceSelection(std::u16string(1, c), EditKind::Typing);
    EXPECT_EQ(s.History().UndoCount(), 1u);  // one run of typing
    s.SetSelection(1, 1);                    // the caret moved: a new run
    s.ReplaceSelection(u"X", EditKind::Typing);
    EXPECT_EQ(s.History().UndoCount(), 2u);
    s.History().Seal();
    s.ReplaceSelection(u"Y", EditKind::Typing);
    EXPECT_EQ(s.History().UndoCount(), 3u);
    s.Replace(s.Caret() - 1, s.Caret(), u"", EditKind::DeleteBackward);
    s.Replace(s.Caret() - 1, s.Caret(), u"", EditKind::DeleteBackward);
    EXPECT_EQ(s.History().UndoCount(), 4u);  // two backspaces, one step
    s.Replace(s.Caret(), s.Caret() + 1, u"", EditKind::DeleteForward);
    s.Replace(s.Caret(), s.Caret() + 1, u"", EditKind::DeleteForward);
    EXPECT_EQ(s.History().UndoCount(), 5u);
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"a");
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"abc");
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"aXYbc");
    EXPECT_EQ(s.Caret(), 3);
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"aXbc");
    s.ReplaceSelection(u"Z", EditKind::Typing);  // a new edit ends redo
    EXPECT_FALSE(s.CanRedo());
    // A conversion and its undo give the old text back exactly.
    const std::u16string before(s.Buffer().View());
    s.SetText(u"%82%A0\r\nnew");
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), before);
    ASSERT_TRUE(s.Redo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"%82%A0\r\nnew");
}

TEST(EditorModel, HistoryBudgetDropsOldestStepsButNeverTheText) {
    EditorState s;
    std::uint64_t budget = 1 << 30;
    s.historyBudget = [&] { return budget; };
    for (int i = 0; i < 10; ++i) s.SetText(std::u16string(1000, u'a' + i));
    EXPECT_EQ(s.History().UndoCount(), 10u);
    budget = 5000;  // room for about two steps of 1000 units
    s.SetText(std::u16string(1000, u'z'));
    EXPECT_LE(s.History().Bytes(), 5000u + 2100u);
    EXPECT_LT(s.History().UndoCount(), 4u);
    EXPECT_GE(s.History().UndoCount(), 1u);
    EXPECT_EQ(std::u16string(s.Buffer().View()), std::u16string(1000, u'z'));
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), std::u16string(1000, u'j'));
}


TEST(EditorModel, EnterEndsTheTypingRunItJoins) {
    EditorState s;
    for (char16_t c : std::u16string(u"abc")) s.ReplaceSelection(std::u16string(1, c), EditKind::Typing);
    s.ReplaceSelection(u"\r\n", EditKind::NewLine);
    for (char16_t c : std::u16string(u"def")) s.ReplaceSelection(std::u16string(1, c), EditKind::Typing);
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"abc\r\n");
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"");
    EXPECT_FALSE(s.CanUndo());
}

TEST(EditorModel, AStepHoldsOnlyWhatItsEditsTouched) {
    EditorState s;
    s.SetText(std::u16string(1'000'000, u'a') + u"hello");
    s.History().Clear();
    // Moving five units across the whole text keeps those five units.
    ASSERT_EQ(s.MoveText(1'000'000, 1'000'005, 0), EditResult::Done);
    EXPECT_EQ(s.History().UndoCount(), 1u);
    EXPECT_LT(s.History().Bytes(), 1000u);
    EXPECT_EQ(s.Buffer().Text(0, 5), u"hello");
    EXPECT_EQ(s.SelectedText(), u"hello");
    // A long typing run costs little more than the text typed.
    s.SetSelection(s.Length(), s.Length());
    for (int i = 0; i < 20'000; ++i) s.ReplaceSelection(u"x", EditKind::Typing);
    EXPECT_EQ(s.History().UndoCount(), 2u);
    EXPECT_LT(s.History().Bytes(), 20'000u * 5);
    ASSERT_TRUE(s.Undo());
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(s.Buffer().Text(1'000'000, 1'000'005), u"hello");
    // Long deletion runs either way are one step each and undo exactly.
    s.SetText(u"0123456789" + std::u16string(3000, u'b') + u"abcdefghij");
    s.SetSelection(3010, 3010);
    for (int i = 0; i < 3000; ++i) s.Replace(s.Caret() - 1, s.Caret(), u"", EditKind::DeleteBackward);
    s.SetSelection(0, 0);
    for (int i = 0; i < 5; ++i) s.Replace(0, 1, u"", EditKind::DeleteForward);
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"56789abcdefghij");
    ASSERT_TRUE(s.Undo());
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(std::u16string(s.Buffer().View()), u"0123456789" + std::u16string(3000, u'b') + u"abcdefghij");
    EXPECT_EQ(s.Caret(), 3010);
}

// Transactions of several edits, moves, typed line breaks and the selection's
// affinity and goal x against a plain string with a stack of whole states.
class TransactionReference {
public:
    struct State {
        std::u16string text;
        Selection sel;
    };
    struct Step {
        State before, after;
        EditKind kind;
        Pos lastPos, lastEnd;
    };
    State now;
    std::vector<Step> undo, redo;
    bool sealed = true;

    Pos Snap(const std::u16string& t, Pos p) const {
        p = std::clamp<Pos>(p, 0, t.size());
        if (p > 0 && p < static_cast<Pos>(t.size())) {
            const char16_t a = t[p - 1], b = t[p];
            if ((a >= 0xD800 && a < 0xDC00 && b >= 0xDC00 && b < 0xE000) || (a == u'\r' && b == u'\n')) --p;
        }
        return p;
    }
    Selection Snapped(const std::u16string& t, Selection s) const {
        s.anchor = Snap(t, s.anchor);
        s.caret = Snap(t, s.caret);
        return Clamped(t, s);
    }
    Selection Clamped(const std::u16string& t, Selection s) const {
        s.anchor = std::clamp<Pos>(s.anchor, 0, t.size());
        s.caret = std::clamp<Pos>(s.caret, 0, t.size());
        const std::vector<Pos> starts = NaiveStarts(t);
        if (std::find(starts.begin(), starts.end(), s.caret) != starts.end()) s.atRowEnd = false;
        if (s.goalX < 0) s.goalX = -1;
        return s;
    }
    EditResult Apply(std::vector<Change> changes, std::optional<Selection> sel, EditKind kind) {
        Pos prevEnd = 0;
        for (Change& c : changes) {
            c.from = std::clamp<Pos>(c.from, 0, now.text.size());
            c.to = std::clamp<Pos>(c.to, 0, now.text.size());
            if (c.to < c.from) std::swap(c.from, c.to);
            if (c.from < prevEnd) return EditResult::Invalid;
            prevEnd = c.to;
        }
        std::erase_if(changes, [](const Change& c) { return c.from == c.to && c.text.empty(); });
        if (changes.empty()) return EditResult::NoChange;
        const State before = now;
        Pos shift = 0, lastFrom = 0, lastEnd = 0;
        std::u16string t = now.text;
        for (const Change& c : changes) {
            t.replace(c.from + shift, c.to - c.from, c.text);
            lastFrom = c.from + shift;
            lastEnd = lastFrom + c.text.size();
            shift += static_cast<Pos>(c.text.size()) - (c.to - c.from);
        }
        now.text = t;
        now.sel = sel ? Clamped(t, *sel) : Selection::Caret(lastEnd);
        redo.clear();
        const EditKind joinKind = kind == EditKind::NewLine ? EditKind::Typing : kind;
        bool join = false;
        if (changes.size() == 1 && !sealed && !undo.empty() && undo.back().kind == joinKind) {
            const Change& c = changes[0];
            const Step& top = undo.back();
            const Pos removed = c.to - c.from, inserted = c.text.size();
            if (joinKind == EditKind::Typing) join = removed == 0 && c.from == top.lastEnd;
            if (joinKind == EditKind::DeleteBackward) join = inserted == 0 && removed > 0 && c.to == top.lastPos;
            if (joinKind == EditKind::DeleteForward) join = inserted == 0 && removed > 0 && c.from == top.lastPos;
        }
        if (join) {
            undo.back().after = now;
            undo.back().lastPos = lastFrom;
            undo.back().lastEnd = lastEnd;
        } else {
            undo.push_back({before, now, joinKind, lastFrom, lastEnd});
        }
        sealed = kind == EditKind::Other || kind == EditKind::NewLine || changes.size() > 1;
        return EditResult::Done;
    }
    void SetSelection(const Selection& s) {
        const Selection snapped = Snapped(now.text, s);
        if (snapped.anchor != now.sel.anchor || snapped.caret != now.sel.caret) sealed = true;
        now.sel = snapped;
    }
    bool Move(std::vector<Step>& from, std::vector<Step>& to, bool back) {
        if (from.empty()) return false;
        now = back ? from.back().before : from.back().after;
        now.sel.goalX = -1;
        to.push_back(from.back());
        from.pop_back();
        sealed = true;
        return true;
    }
};

TEST(EditorModel, TransactionsMovesAndAffinityMatchAPlainString) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        EditorState state;
        TransactionReference ref;
        std::u16string shown, heard;
        int notices = 0, heardNotices = 0;
        state.onTextChanged = [&](const TextChange& c) {
            const std::u16string now(state.Buffer().View());
            ExpectChangeFits(c, shown, now);
            // The notice carries what the change removed.
            EXPECT_EQ(std::u16string(c.removedText), shown.substr(c.pos, c.removed));
            shown = now;
            ++notices;
        };
        const int id = state.AddListener({[&](const TextChange&) { ++heardNotices; }, {}});
        const int gone = state.AddListener({[&](const TextChange&) { ADD_FAILURE() << "removed"; }, {}});
        state.RemoveListener(gone);
        const auto pick = [&] { return static_cast<Pos>(rng() % (ref.now.text.size() + 3)) - 1; };
        const auto randomSelection = [&] {
            Selection s{pick(), pick(), rng() % 2 == 0, rng() % 3 == 0 ? -1.0 : static_cast<double>(rng() % 500)};
            return s;
        };
        for (int step = 0; step < 120; ++step) {
            const unsigned op = rng() % 20;
            static const EditKind kinds[] = {EditKind::Typing, EditKind::DeleteBackward, EditKind::DeleteForward,
                                             EditKind::Other, EditKind::NewLine};
            if (op < 8) {
                // Up to four changes, mostly in order, sometimes overlapping.
                std::vector<Pos> cuts;
                const int count = 1 + rng() % 4;
                for (int i = 0; i < 2 * count; ++i) cuts.push_back(pick());
                if (rng() % 6) std::sort(cuts.begin(), cuts.end());
                std::vector<Change> changes;
                for (int i = 0; i < count; ++i) changes.push_back({cuts[2 * i], cuts[2 * i + 1], RandomText(rng, 4)});
                if (count == 1 && rng() % 2) changes[0].from = changes[0].to = ref.now.sel.caret;
                const EditKind kind = kinds[rng() % 5];
                std::optional<Selection> sel;
                if (rng() % 3 == 0) sel = randomSelection();
                Transaction t{changes, sel, kind};
                ASSERT_EQ(state.Apply(std::move(t)), ref.Apply(changes, sel, kind));
            } else if (op < 10) {
                const Pos from = pick(), to = pick(), dest = pick();
                const Pos n = ref.now.text.size();
                const Pos f = std::clamp<Pos>(from, 0, n), t = std::clamp<Pos>(to, f, n), d = std::clamp<Pos>(dest, 0, n);
                const EditResult r = state.MoveText(from, to, dest);
                if (f == t || (d >= f && d <= t)) {
                    ASSERT_EQ(r, EditResult::NoChange);
                } else {
                    ASSERT_EQ(r, EditResult::Done);
                    const TransactionReference::State before = ref.now;
                    const std::u16string moved = ref.now.text.substr(f, t - f);
                    ref.now.text.erase(f, t - f);
                    const Pos at = d < f ? d : d - (t - f);
                    ref.now.text.insert(at, moved);
                    ref.now.sel = Selection::Range(at, at + (t - f));
                    ref.redo.clear();
                    ref.undo.push_back({before, ref.now, EditKind::Other, 0, 0});
                    ref.sealed = true;
                }
            } else if (op < 13) {
                ASSERT_EQ(state.Undo(), ref.Move(ref.undo, ref.redo, true));
            } else if (op < 15) {
                ASSERT_EQ(state.Redo(), ref.Move(ref.redo, ref.undo, false));
            } else if (op < 19) {
                const Selection s = randomSelection();
                state.SetSelection(s);
                ref.SetSelection(s);
            } else {
                state.Seal();
                ref.sealed = true;
            }
            ASSERT_EQ(std::u16string(state.Buffer().View()), ref.now.text);
            ASSERT_EQ(shown, ref.now.text);
            ASSERT_EQ(notices, heardNotices);
            ASSERT_EQ(state.GetSelection(), ref.now.sel);
            ASSERT_EQ(state.History().UndoCount(), ref.undo.size());
            ASSERT_EQ(state.History().RedoCount(), ref.redo.size());
            ASSERT_NO_FATAL_FAILURE(ExpectLines(state.Buffer(), ref.now.text));
        }
        state.RemoveListener(id);
    }
}

}  // namespace
}  // namespace tessaly
