// The editor model under any sequence of edits, transactions of several
// edits, moves, text replacements, undo, redo and selections read from the
// input, against a plain string: the exact text after every step, the line
// index around every change, undo giving back the text and selection from
// before its step, redo the ones after it, the selection never inside a
// character and its affinity never at a line's start; and at the end, the
// whole line index and the rows of every line against a plain wrap.
//
// One editor state and one row index per width are kept across inputs (each
// input starts from an empty text), and what is checked after each step is
// what the step touched, so that an input costs in proportion to its steps.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>
#include <memory>
#include <vector>

#include "editor/editor_state.h"
#include "editor/row_index.h"
#include "editor/text_units.h"
#include "fuzz/fuzz_support.h"

namespace {

using tessaly::Pos;
using tessaly::Selection;

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool More() const { return at < size; }
    unsigned Byte() { return at < size ? data[at++] : 0; }
    unsigned Word() { return Byte() | Byte() << 8; }
    std::u16string Text(unsigned maxLength) {
        static const char16_t kUnits[] = {u'\r', u'\n', u'a', 0xD83D, 0xDE00, u'\t', 0x301, 0x3042};
        std::u16string s(Byte() % (maxLength + 1), u'a');
        for (char16_t& c : s) {
            const unsigned b = Byte();
            c = b < 200 ? kUnits[b % 8] : static_cast<char16_t>(Word());
        }
        return s;
    }
};

// A state of the reference: the text by its length and hash (a copy of the
// whole text for each step would make an input cost its steps times its
// text), and the selection.
struct State {
    std::size_t length;
    std::size_t hash;
    Selection sel;
};

std::size_t Hash(std::u16string_view s) { return std::hash<std::u16string_view>{}(s); }
State StateOf(const std::u16string& text, const Selection& sel) { return {text.size(), Hash(text), sel}; }

// (memcmp and the library's hash: not loops the coverage instrumentation
// slows.)
bool SameText(const tessaly::TextBuffer& b, const std::u16string& s) {
    if (b.Length() != static_cast<Pos>(s.size())) return false;
    const tessaly::TextSegments seg = b.Segments(0, b.Length());
    if (s.empty()) return true;
    return std::memcmp(s.data(), seg.first.data(), seg.first.size() * sizeof(char16_t)) == 0 &&
           (seg.second.empty() ||
            std::memcmp(s.data() + seg.first.size(), seg.second.data(), seg.second.size() * sizeof(char16_t)) == 0);
}

// Whether the editor is in state s; its text is copied into text (whose
// storage is reused from step to step).
// (Undo and redo give back the selection without its goal x.)
bool Same(const tessaly::EditorState& e, const State& s, std::u16string& text) {
    const tessaly::TextSegments seg = e.Buffer().Segments(0, e.Buffer().Length());
    text.assign(seg.first).append(seg.second);
    Selection expected = s.sel;
    expected.goalX = -1;
    return text.size() == s.length && Hash(text) == s.hash && e.GetSelection() == expected;
}

bool IsLineStart(const tessaly::TextBuffer& b, Pos p) { return p >= 2 && b.At(p - 2) == u'\r' && b.At(p - 1) == u'\n'; }

// The line index against the buffer's own units around a change: each
// position's line goes up by one exactly at a line start, and the line
// starts there are where the index says.
void CheckLinesAround(const tessaly::TextBuffer& b, Pos from, Pos to) {
    from = std::max<Pos>(from - 2, 0);
    to = std::min(to + 2, b.Length());
    Pos line = b.LineOf(from);
    FUZZ_CHECK(b.LineStart(line) <= from && (line + 1 >= b.LineCount() || b.LineStart(line + 1) > from));
    for (Pos p = from + 1; p <= to; ++p) {
        if (IsLineStart(b, p)) {
            ++line;
            FUZZ_CHECK(b.LineStart(line) == p && b.LineEnd(line - 1) == p - 2);
        }
        FUZZ_CHECK(b.LineOf(p) == line);
    }
    FUZZ_CHECK(b.LineEnd(b.LineCount() - 1) == b.Length());
}

void CheckAllLines(const tessaly::TextBuffer& b, const std::u16string& s) {
    Pos line = 0;
    for (Pos p = 0; p <= static_cast<Pos>(s.size()); ++p) {
        if (p >= 2 && s[p - 2] == u'\r' && s[p - 1] == u'\n') {
            FUZZ_CHECK(b.LineEnd(line) == p - 2);
            ++line;
            FUZZ_CHECK(b.LineStart(line) == p);
        }
        FUZZ_CHECK(b.LineOf(p) == line);
    }
    FUZZ_CHECK(b.LineCount() == line + 1);
    FUZZ_CHECK(b.LineEnd(line) == static_cast<Pos>(s.size()));
}

double Advance(char32_t c) { return c == 0x301 ? 0 : c >= 0x3000 ? 2 : 1; }
bool Joins(char32_t c) { return c == 0x301; }

void CheckRows(tessaly::RowIndex& rows, const tessaly::TextBuffer& b, double width) {
    const std::u16string all = b.Text(0, b.Length());
    Pos number = 0;
    for (Pos line = 0; line < b.LineCount(); ++line) {
        const Pos start = b.LineStart(line), end = b.LineEnd(line);
        Pos rowStart = start;
        double acc = 0;
        auto expectRow = [&](Pos rowEnd) {
            const tessaly::RowIndex::Row r = rows.RowOf(rowStart);
            FUZZ_CHECK(r.start == rowStart && r.end == rowEnd && r.line == line);
            number = r.number + 1;
        };
        for (Pos i = start; i < end;) {
            char32_t c = all[i];
            Pos units = 1;
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < end && all[i + 1] >= 0xDC00 && all[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (all[i + 1] - 0xDC00);
                units = 2;
            }
            double adv = c == u'\t' ? (std::floor(acc / 4) + 1) * 4 - acc : Advance(c);
            if ((c == u'\t' || !Joins(c)) && acc + adv > width && i > rowStart) {
                expectRow(i);
                rowStart = i;
                acc = 0;
                if (c == u'\t') adv = 4;
            }
            acc += adv;
            i += units;
        }
        expectRow(end);
    }
    FUZZ_CHECK(rows.RowCount() == number);
}

// What is kept between inputs: the state, and a row index for each width
// (their advance tables are filled once and stay valid, the metrics never
// changing).
struct Kept {
    tessaly::EditorState editor;
    std::array<std::unique_ptr<tessaly::RowIndex>, 16> rows;
    tessaly::RowIndex& RowsFor(unsigned width) {
        auto& r = rows[width - 1];
        if (!r) {
            r = std::make_unique<tessaly::RowIndex>(editor.Buffer());
            r->Reset(width, tessaly::CharMetrics{Advance, Joins, 4});
        }
        return *r;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Kept* kept = new Kept;
    Reader in{data, size};
    const unsigned width = 1 + in.Byte() % 16;
    tessaly::EditorState& editor = kept->editor;
    tessaly::RowIndex& rows = kept->RowsFor(width);
    editor.onTextChanged = [&](const tessaly::TextChange& c) {
        rows.OnTextChanged(c);
        // The change's removed units, and the line index around it.
        FUZZ_CHECK(static_cast<Pos>(c.removedText.size()) == c.removed || c.wholeText);
        if (!c.wholeText) CheckLinesAround(editor.Buffer(), c.pos, c.pos + c.inserted);
    };
    FUZZ_CHECK(editor.Length() == 0 && !editor.CanUndo() && !editor.CanRedo());
    tessaly::TextChange whole;  // the empty text the last input left
    whole.wholeText = true;
    rows.OnTextChanged(whole);
    FUZZ_CHECK(rows.RowCount() == 1);

    std::u16string ref;
    std::vector<std::pair<State, State>> undo, redo;  // (before, after) of each step
    // Records the step an edit made: a new one or the newest one grown.
    auto recorded = [&](const State& before, std::size_t steps) {
        const State after = StateOf(ref, editor.GetSelection());
        if (editor.History().UndoCount() == steps + 1) {
            undo.push_back({before, after});
        } else {
            FUZZ_CHECK(editor.History().UndoCount() == steps && !undo.empty());
            undo.back().second = after;
        }
        redo.clear();
    };
    while (in.More()) {
        const Pos length = ref.size();
        const unsigned op = in.Byte() % 11;
        const State now = StateOf(ref, editor.GetSelection());
        const std::size_t steps = editor.History().UndoCount();
        if (op <= 3) {
            Pos from = in.Word() % (length + 1), to = in.Word() % (length + 1);
            if (op == 0) from = to = editor.Caret();
            const auto kind = static_cast<tessaly::EditKind>(in.Byte() % 5);
            const std::u16string s = op == 3 ? in.Text(64) : in.Text(3);
            const tessaly::EditResult r = editor.Replace(from, to, s, kind);
            if (to < from) std::swap(from, to);
            ref.replace(from, to - from, s);
            if (from == to && s.empty()) {
                FUZZ_CHECK(r == tessaly::EditResult::NoChange && editor.History().UndoCount() == steps);
            } else {
                FUZZ_CHECK(r == tessaly::EditResult::Done);
                FUZZ_CHECK(editor.Caret() == from + static_cast<Pos>(s.size()) && !editor.HasSelection());
                recorded(now, steps);
            }
        } else if (op == 4) {
            std::u16string s = in.Text(64);
            ref = s;
            editor.SetText(std::move(s));
            undo.push_back({now, StateOf(ref, Selection::Caret(0))});
            redo.clear();
        } else if (op == 5) {
            FUZZ_CHECK(editor.Undo() == !undo.empty());
            if (!undo.empty()) {
                FUZZ_CHECK(Same(editor, undo.back().first, ref));
                redo.push_back(undo.back());
                undo.pop_back();
            }
        } else if (op == 6) {
            FUZZ_CHECK(editor.Redo() == !redo.empty());
            if (!redo.empty()) {
                FUZZ_CHECK(Same(editor, redo.back().second, ref));
                undo.push_back(redo.back());
                redo.pop_back();
            }
        } else if (op == 7) {
            const Selection s{static_cast<Pos>(in.Word() % (length + 2)), static_cast<Pos>(in.Word() % (length + 2)),
                              (in.Byte() & 1) != 0, static_cast<double>(in.Byte()) - 64};
            editor.SetSelection(s);
            const Selection& got = editor.GetSelection();
            FUZZ_CHECK(got.End() <= length);
            FUZZ_CHECK(tessaly::IsClusterBoundary(editor.Buffer(), got.anchor) &&
                       tessaly::IsClusterBoundary(editor.Buffer(), got.caret));
            FUZZ_CHECK(got.atRowEnd == (s.atRowEnd && got.caret != editor.Buffer().LineStart(editor.Buffer().LineOf(got.caret))));
            FUZZ_CHECK(got.goalX == (s.goalX < 0 ? -1 : s.goalX));
        } else if (op <= 9) {
            // A transaction of up to four changes in document order.
            tessaly::Transaction t;
            const unsigned count = 1 + in.Byte() % 4;
            std::vector<Pos> cuts;
            for (unsigned i = 0; i < 2 * count; ++i) cuts.push_back(in.Word() % (length + 1));
            std::sort(cuts.begin(), cuts.end());
            for (unsigned i = 0; i < count; ++i) t.changes.push_back({cuts[2 * i], cuts[2 * i + 1], in.Text(op == 9 ? 32 : 3)});
            t.kind = static_cast<tessaly::EditKind>(in.Byte() % 5);
            if (in.Byte() & 1) t.selection = Selection{static_cast<Pos>(in.Word() % (length + 64)), static_cast<Pos>(in.Word() % (length + 64)), false, -1};
            Pos shift = 0;
            bool any = false;
            for (const tessaly::Change& c : t.changes) {
                ref.replace(c.from + shift, c.to - c.from, c.text);
                shift += static_cast<Pos>(c.text.size()) - (c.to - c.from);
                any = any || c.from != c.to || !c.text.empty();
            }
            const tessaly::EditResult r = editor.Apply(std::move(t));
            FUZZ_CHECK(r == (any ? tessaly::EditResult::Done : tessaly::EditResult::NoChange));
            if (any) recorded(now, steps);
        } else {
            // A drag-move.
            const Pos from = in.Word() % (length + 1), to = in.Word() % (length + 1), dest = in.Word() % (length + 1);
            const Pos f = std::min(from, to), e = std::max(from, to);
            const tessaly::EditResult r = editor.MoveText(f, e, dest);
            if (f == e || (dest >= f && dest <= e)) {
                FUZZ_CHECK(r == tessaly::EditResult::NoChange);
            } else {
                FUZZ_CHECK(r == tessaly::EditResult::Done);
                const std::u16string moved = ref.substr(f, e - f);
                ref.erase(f, e - f);
                const Pos at = dest < f ? dest : dest - (e - f);
                ref.insert(at, moved);
                FUZZ_CHECK(editor.SelectionStart() == at && editor.SelectionEnd() == at + (e - f));
                recorded(now, steps);
            }
        }
        FUZZ_CHECK(SameText(editor.Buffer(), ref));
        FUZZ_CHECK(editor.History().UndoCount() == undo.size() && editor.History().RedoCount() == redo.size());
        if (in.Byte() % 4 == 0) {
            const Pos p = in.Word() % (ref.size() + 1);
            const tessaly::RowIndex::Row r = rows.RowOf(p);
            FUZZ_CHECK(r.start <= p && rows.RowAt(r.number).start == r.start);
        }
    }
    CheckAllLines(editor.Buffer(), ref);
    CheckRows(rows, editor.Buffer(), width);
    // Back to an empty text and history, freeing what this input allocated
    // (so that allocations and frees of each input match) but keeping the
    // buffer's storage, which the next input would otherwise allocate and
    // fill again.
    editor.onTextChanged = nullptr;
    editor.Replace(0, editor.Length(), u"", tessaly::EditKind::Other);
    editor.History().Clear();
    return 0;
}
