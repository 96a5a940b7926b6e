// The row index against a plain wrap of each line, under random edits and
// widths: every row's extent, RowOf for every position, and the exact count
// once everything is laid out.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "editor/editor_state.h"
#include "editor/row_index.h"

namespace tessaly {
namespace {

double Advance(char32_t c) { return c >= 0x10000 ? 3 : c == 0x3042 ? 2 : c == 0x301 ? 0 : 1 + c % 2; }
bool Joins(char32_t c) { return c == 0x301 || c == 0x1F3FB; }
constexpr double kTab = 4;

// Row starts (offsets) of one line wrapped anywhere at width.
std::vector<Pos> NaiveRows(std::u16string_view s, double width) {
    std::vector<Pos> rows{0};
    double acc = 0;
    Pos rowStart = 0;
    for (Pos i = 0; i < static_cast<Pos>(s.size());) {
        char32_t c = s[i];
        Pos units = 1;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < static_cast<Pos>(s.size()) && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            units = 2;
        }
        const bool tab = c == u'\t';
        double adv = tab ? (std::floor(acc / kTab) + 1) * kTab - acc : Advance(c);
        if (!(Joins(c) && !tab) && acc + adv > width && i > rowStart) {
            rows.push_back(i);
            rowStart = i;
            acc = 0;
            if (tab) adv = kTab;
        }
        acc += adv;
        i += units;
    }
    return rows;
}

struct NaiveRow {
    Pos line, index, start, end;
};

std::vector<NaiveRow> NaiveLayout(const TextBuffer& b, double width) {
    std::vector<NaiveRow> out;
    const std::u16string_view all = b.View();
    for (Pos line = 0; line < b.LineCount(); ++line) {
        const Pos start = b.LineStart(line), end = b.LineEnd(line);
        const std::vector<Pos> rows = NaiveRows(all.substr(start, end - start), width);
        for (std::size_t k = 0; k < rows.size(); ++k)
            out.push_back({line, static_cast<Pos>(k), start + rows[k], k + 1 < rows.size() ? start + rows[k + 1] : end});
    }
    return out;
}

TEST(RowIndex, MatchesPlainWrapUnderRandomEditsAndWidths) {
    static const char16_t kUnits[] = {u'a', u'b', u'\r', u'\n', u'\t', 0x3042, 0x301, 0xD83C, 0xDFFB, 0xD83D, 0xDE00};
    for (unsigned seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        EditorState state;
        RowIndex index(state.Buffer());
        state.onTextChanged = [&](const TextChange& c) { index.OnTextChanged(c); };
        auto randomText = [&](int n) {
            std::u16string s(rng() % (n + 1), u'a');
            for (char16_t& c : s) c = kUnits[rng() % std::size(kUnits)];
            return s;
        };
        double width = 1 + rng() % 12;
        index.Reset(width, CharMetrics{Advance, Joins, kTab});
        state.SetText(randomText(200));
        for (int step = 0; step < 40; ++step) {
            const Pos length = state.Length();
            const unsigned op = rng() % 10;
            if (op < 6) {
                const Pos from = rng() % (length + 1);
                state.Replace(from, std::min<Pos>(length, from + rng() % 4), randomText(op < 2 ? 30 : 3),
                              EditKind::Other);
            } else if (op < 7) {
                width = 1 + rng() % 12;
                index.Reset(width, CharMetrics{Advance, Joins, kTab});
            } else if (op < 8) {
                state.Undo();
            } else {
                state.SetText(randomText(300));
            }
            const std::vector<NaiveRow> naive = NaiveLayout(state.Buffer(), width);
            // Some positions before a full layout: extents do not depend on estimates.
            for (int probe = 0; probe < 5; ++probe) {
                const Pos p = rng() % (state.Length() + 1);
                const RowIndex::Row r = index.RowOf(p);
                ASSERT_LE(r.start, p);
                ASSERT_TRUE(p < r.end || p >= state.Buffer().LineEnd(r.line));
                ASSERT_EQ(index.RowAt(r.number).start, r.start);
            }
            for (Pos line = 0; line < state.Buffer().LineCount(); ++line) index.RowOf(state.Buffer().LineEnd(line));
            ASSERT_EQ(index.RowCount(), static_cast<Pos>(naive.size()));
            for (std::size_t n = 0; n < naive.size(); ++n) {
                const RowIndex::Row r = index.RowAt(n);
                ASSERT_EQ(r.number, static_cast<Pos>(n));
                ASSERT_EQ(r.line, naive[n].line) << n;
                ASSERT_EQ(r.indexInLine, naive[n].index) << n;
                ASSERT_EQ(r.start, naive[n].start) << n;
                ASSERT_EQ(r.end, naive[n].end) << n;
            }
            std::size_t n = 0;
            for (Pos p = 0; p <= state.Length(); ++p) {
                while (n + 1 < naive.size() && naive[n + 1].line == naive[n].line && naive[n + 1].start <= p) ++n;
                while (n + 1 < naive.size() && naive[n].line != state.Buffer().LineOf(p)) ++n;
                ASSERT_EQ(index.RowOf(p).number, static_cast<Pos>(n)) << p;
                const bool wrapPoint = naive[n].index > 0 && naive[n].start == p;
                ASSERT_EQ(index.RowOf(p, true).number, static_cast<Pos>(wrapPoint ? n - 1 : n)) << p;
            }
        }
    }
}

TEST(RowIndex, OneRowPerLineWithoutAWidthAndAnEmptyLineIsARow) {
    EditorState state;
    RowIndex index(state.Buffer());
    state.onTextChanged = [&](const TextChange& c) { index.OnTextChanged(c); };
    state.SetText(u"abc\r\n\r\nlong line here");
    EXPECT_EQ(index.RowCount(), 3);
    EXPECT_EQ(index.RowOf(5).line, 1);
    EXPECT_EQ(index.RowOf(5).end, 5);
    EXPECT_EQ(index.RowAt(2).end, state.Length());
}

}  // namespace
}  // namespace tessaly
