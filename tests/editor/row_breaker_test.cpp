// The row index with rows found by a breaker (as the edit box shapes them),
// against a plain list of rows: lines cut in pieces, random edits that make
// and remove many lines, rows reached by number, by position and one by one.
#include <gtest/gtest.h>

#include <random>

#include "editor/editor_state.h"
#include "editor/row_index.h"

namespace tessaly {
namespace {

struct PlainRow {
    Pos line, start, end;
};

// Each piece of piece units (the last one shorter) wraps every width units.
std::vector<PlainRow> PlainRows(const TextBuffer& b, Pos width, Pos piece) {
    std::vector<PlainRow> rows;
    for (Pos line = 0; line < b.LineCount(); ++line) {
        const Pos start = b.LineStart(line), end = b.LineEnd(line);
        if (start == end) rows.push_back({line, start, end});
        for (Pos p = start; p < end; p += piece) {
            const Pos pe = std::min(end, p + piece);
            for (Pos r = p; r < pe; r += width) rows.push_back({line, r, std::min(pe, r + width)});
        }
    }
    return rows;
}

RowBreaker Breaker(Pos width, Pos piece, int* calls = nullptr) {
    RowBreaker b;
    b.rowEnd = [width, calls](Pos start, Pos limit) {
        if (calls) ++*calls;
        return std::min(limit, start + width);
    };
    b.joinsPrevious = [](char32_t) { return false; };
    b.unitsPerRow = static_cast<double>(width) * 0.7;  // estimates are off on purpose
    b.piece = piece;
    return b;
}

void ExpectSame(RowIndex& index, const TextBuffer& b, const std::vector<PlainRow>& plain, std::mt19937& rng) {
    // Positions first, before everything is laid out.
    for (int probe = 0; probe < 20; ++probe) {
        const Pos p = static_cast<Pos>(rng() % (b.Length() + 1));
        const RowIndex::Row r = index.RowOf(p);
        ASSERT_TRUE(r.start <= p && (p < r.end || p >= b.LineEnd(r.line))) << p;
        RowIndex::Row prev, next;
        if (index.Previous(r, prev)) {
            ASSERT_TRUE(prev.end == r.start || prev.line + 1 == r.line) << p;
        }
        if (index.Next(r, next)) {
            ASSERT_TRUE(next.start == r.end || next.line == r.line + 1) << p;
        }
    }
    // Row by row from the start.
    RowIndex::Row r = index.RowAt(0);
    for (std::size_t n = 0; n < plain.size(); ++n) {
        ASSERT_EQ(r.start, plain[n].start) << n;
        ASSERT_EQ(r.end, plain[n].end) << n;
        ASSERT_EQ(r.line, plain[n].line) << n;
        RowIndex::Row next;
        ASSERT_EQ(index.Next(r, next), n + 1 < plain.size()) << n;
        r = next;
    }
    for (std::size_t n = 0; n < plain.size(); ++n) {
        if (n == 0 || plain[n - 1].line != plain[n].line) {
            ASSERT_EQ(index.RowOf(plain[n].start).number, static_cast<Pos>(n)) << "line " << plain[n].line << " len " << b.LineEnd(plain[n].line) - b.LineStart(plain[n].line);
        }
    }
    ASSERT_EQ(index.RowCount(), static_cast<Pos>(plain.size()));
    for (std::size_t n = 0; n < plain.size(); n += 1 + rng() % 3) {
        const RowIndex::Row at = index.RowAt(static_cast<Pos>(n));
        ASSERT_EQ(at.start, plain[n].start) << n;
        ASSERT_EQ(index.RowOf(plain[n].start).number, static_cast<Pos>(n)) << n;
        if (n > 0 && plain[n - 1].line == plain[n].line) {
            ASSERT_EQ(index.RowOf(plain[n].start, true).start, plain[n - 1].start) << n;
        }
    }
}

TEST(RowBreaker, PiecesAndRowsMatchAPlainListUnderRandomEdits) {
    static const char16_t kUnits[] = {u'a', u'b', 0x3042, u'\r', u'\n', u'c'};
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        EditorState state;
        RowIndex index(state.Buffer());
        state.onTextChanged = [&](const TextChange& c) { index.OnTextChanged(c); };
        const Pos width = 1 + rng() % 6, piece = 8 + rng() % 20;
        index.Reset(Breaker(width, piece));
        auto randomText = [&](int n) {
            std::u16string s(rng() % (n + 1), u'a');
            for (char16_t& c : s) c = kUnits[rng() % std::size(kUnits)];
            return s;
        };
        state.SetText(randomText(400));
        for (int step = 0; step < 25; ++step) {
            const Pos length = state.Length();
            const Pos from = static_cast<Pos>(rng() % (length + 1));
            if (rng() % 5 == 0) {
                state.Undo();
            } else {
                state.Replace(from, std::min<Pos>(length, from + rng() % 30), randomText(step % 3 ? 4 : 60),
                              EditKind::Other);
            }
            ExpectSame(index, state.Buffer(), PlainRows(state.Buffer(), width, piece), rng);
        }
    }
}

// Thousands of lines made and removed in one place and all over: the
// per-line entries split and merge their blocks, the counts stay exact.
TEST(RowBreaker, ManyLinesMadeAndRemoved) {
    std::mt19937 rng(3);
    EditorState state;
    RowIndex index(state.Buffer());
    state.onTextChanged = [&](const TextChange& c) { index.OnTextChanged(c); };
    index.Reset(Breaker(3, 64));
    std::u16string text;
    for (int i = 0; i < 5000; ++i) text += i % 7 ? u"ab\r\n" : u"abcdefgh\r\n";
    state.SetText(std::move(text));
    for (int step = 0; step < 60; ++step) {
        const Pos at = step < 30 ? state.Buffer().LineStart(2500) : static_cast<Pos>(rng() % (state.Length() + 1));
        if (step % 4 == 3) {
            state.Replace(at, std::min<Pos>(state.Length(), at + 3000), u"", EditKind::Other);
        } else {
            std::u16string lines;
            for (int k = 0; k < 120; ++k) lines += u"xyzw\r\n";
            state.Replace(at, at, lines, EditKind::Other);
        }
    }
    const std::vector<PlainRow> plain = PlainRows(state.Buffer(), 3, 64);
    ExpectSame(index, state.Buffer(), plain, rng);
}

// A text of thousands of lines keeps most of its per-line entries unmade
// (its blocks hold only their estimated sums) until they are looked at:
// edits that cut such blocks in part or whole, with lines looked at here
// and there between them, end in the same rows as a plain list.
TEST(RowBreaker, EditsAcrossBlocksNotYetMade) {
    static const char16_t kUnits[] = {u'a', u'b', u'\r', u'\n', u'c', u'd', u'e'};
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        EditorState state;
        RowIndex index(state.Buffer());
        state.onTextChanged = [&](const TextChange& c) { index.OnTextChanged(c); };
        const Pos width = 1 + rng() % 5, piece = 8 + rng() % 24;
        index.Reset(Breaker(width, piece));
        auto randomLines = [&](int lines) {
            std::u16string s;
            for (int i = 0; i < lines; ++i) {
                const std::size_t at = s.size();
                s.append(rng() % 30, u'x');
                for (std::size_t k = at; k < s.size(); ++k) {
                    if (rng() % 9 == 0) s[k] = kUnits[rng() % std::size(kUnits)];
                }
                s += u"\r\n";
            }
            return s;
        };
        state.SetText(randomLines(3000 + static_cast<int>(rng() % 6000)));
        for (int step = 0; step < 30; ++step) {
            const Pos length = state.Length();
            const Pos from = static_cast<Pos>(rng() % (length + 1));
            const Pos removed = rng() % 3 == 0 ? static_cast<Pos>(rng() % 40000) : static_cast<Pos>(rng() % 8);
            if (rng() % 6 == 0) {
                state.Undo();
            } else {
                state.Replace(from, std::min(length, from + removed), randomLines(static_cast<int>(rng() % 4 == 0 ? rng() % 2500 : rng() % 3)),
                              EditKind::Other);
            }
            if (step % 3 == 0) index.RowOf(static_cast<Pos>(rng() % (state.Length() + 1)));
            if (step % 5 == 0) index.RowAt(static_cast<Pos>(rng() % (index.RowCount() + 1)));
        }
        ExpectSame(index, state.Buffer(), PlainRows(state.Buffer(), width, piece), rng);
    }
}

// Rows are found only where they are asked for: the end of a giant line
// costs its last pieces, not the whole line.
TEST(RowBreaker, TheEndOfAGiantLineLaysOutOnlyItsLastPieces) {
    EditorState state;
    RowIndex index(state.Buffer());
    state.onTextChanged = [&](const TextChange& c) { index.OnTextChanged(c); };
    int calls = 0;
    index.Reset(Breaker(10, 1000, &calls));
    state.SetText(std::u16string(1'000'000, u'a'));
    const RowIndex::Row last = index.RowOf(state.Length());
    EXPECT_EQ(last.end, state.Length());
    EXPECT_EQ(last.start, state.Length() - 10);
    EXPECT_LE(calls, 200);
    calls = 0;
    state.Replace(500'000, 500'000, u"b", EditKind::Typing);
    index.RowOf(500'001);
    EXPECT_LE(calls, 200);
}

}  // namespace
}  // namespace tessaly
