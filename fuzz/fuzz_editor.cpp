// The editor model under any sequence of edits, text replacements, undo,
// redo and selections read from the input, against a plain string: the
// exact text and line index after every step, undo giving back the text and
// selection from before its step, redo the ones after it; and at the end,
// the rows of every line against a plain wrap.
#include <algorithm>
#include <cmath>
#include <vector>

#include "editor/editor_state.h"
#include "editor/row_index.h"
#include "fuzz/fuzz_support.h"

namespace {

using tessaly::Pos;

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

struct State {
    std::u16string text;
    Pos anchor, caret;
};

bool Same(const tessaly::EditorState& e, const State& s) {
    return e.Buffer().View() == s.text && e.Anchor() == s.anchor && e.Caret() == s.caret;
}

void CheckLines(const tessaly::TextBuffer& b, const std::u16string& s) {
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
    const std::u16string_view all = b.View();
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    const double width = 1 + in.Byte() % 16;
    tessaly::EditorState editor;
    tessaly::RowIndex rows(editor.Buffer());
    rows.Reset(width, tessaly::CharMetrics{Advance, Joins, 4});
    editor.onTextChanged = [&](const tessaly::TextChange& c) { rows.OnTextChanged(c); };
    std::u16string ref;
    std::vector<std::pair<State, State>> undo, redo;  // (before, after) of each step
    while (in.More()) {
        const Pos length = ref.size();
        const unsigned op = in.Byte() % 8;
        const State now{ref, editor.Anchor(), editor.Caret()};
        const std::size_t steps = editor.History().UndoCount();
        if (op <= 3) {
            Pos from = in.Word() % (length + 1), to = in.Word() % (length + 1);
            if (op == 0) from = to = editor.Caret();
            const auto kind = static_cast<tessaly::EditKind>(in.Byte() % 4);
            const std::u16string s = op == 3 ? in.Text(64) : in.Text(3);
            editor.Replace(from, to, s, kind);
            if (to < from) std::swap(from, to);
            ref.replace(from, to - from, s);
            const State after{ref, editor.Anchor(), editor.Caret()};
            if (from == to && s.empty()) {
                FUZZ_CHECK(editor.History().UndoCount() == steps);
            } else if (editor.Caret() != from + static_cast<Pos>(s.size()) || editor.HasSelection()) {
                FUZZ_CHECK(!"the caret goes after the inserted text");
            } else if (editor.History().UndoCount() == steps + 1) {
                undo.push_back({now, after});
                redo.clear();
            } else {
                FUZZ_CHECK(editor.History().UndoCount() == steps && !undo.empty());
                undo.back().second = after;
                redo.clear();
            }
        } else if (op == 4) {
            std::u16string s = in.Text(64);
            ref = s;
            editor.SetText(std::move(s));
            undo.push_back({now, {ref, 0, 0}});
            redo.clear();
        } else if (op == 5) {
            FUZZ_CHECK(editor.Undo() == !undo.empty());
            if (!undo.empty()) {
                FUZZ_CHECK(Same(editor, undo.back().first));
                ref = undo.back().first.text;
                redo.push_back(undo.back());
                undo.pop_back();
            }
        } else if (op == 6) {
            FUZZ_CHECK(editor.Redo() == !redo.empty());
            if (!redo.empty()) {
                FUZZ_CHECK(Same(editor, redo.back().second));
                ref = redo.back().second.text;
                undo.push_back(redo.back());
                redo.pop_back();
            }
        } else {
            editor.SetSelection(in.Word() % (length + 2), in.Word() % (length + 2));
            FUZZ_CHECK(editor.SelectionEnd() <= length);
        }
        FUZZ_CHECK(editor.Buffer().View() == ref);
        FUZZ_CHECK(editor.History().UndoCount() == undo.size() && editor.History().RedoCount() == redo.size());
        CheckLines(editor.Buffer(), ref);
        if (in.Byte() % 4 == 0) {
            const Pos p = in.Word() % (ref.size() + 1);
            const tessaly::RowIndex::Row r = rows.RowOf(p);
            FUZZ_CHECK(r.start <= p && rows.RowAt(r.number).start == r.start);
        }
    }
    CheckRows(rows, editor.Buffer(), width);
    return 0;
}
