// The editor model on one line of 100,000,000 units (what URL Encode of a
// large text gives): taking the text over, a key typed at its start, middle
// and end with the rows in view found again, reaching the end's row after
// such a key, and undoing the text replacement. Advances: 8 for ASCII, 16
// for the rest, in a viewport 800 wide (100 units a row).
#include <benchmark/benchmark.h>

#include <string>

#include "editor/editor_state.h"
#include "editor/row_index.h"

namespace {

using tessaly::Pos;

constexpr Pos kUnits = 100'000'000;
constexpr Pos kRowsInView = 40;

std::u16string EncodedLine(Pos units) {
    std::u16string s(static_cast<std::size_t>(units), u'%');
    static const char16_t kPattern[] = u"%82%A0%93%FA%96%7B";
    for (Pos i = 0; i < units; ++i) s[i] = kPattern[i % 18];
    return s;
}

tessaly::CharMetrics Metrics() {
    return {[](char32_t c) { return c < 0x80 ? 8.0 : 16.0; }, [](char32_t) { return false; }, 64};
}

// Moves [from, to) to dest the way a drop in the box does: one transaction
// of two edits (before: one replacement of the whole span between the text
// and the drop point, 405 ms and 200 MB of history for the row below).
void DragMove(tessaly::EditorState& e, Pos from, Pos to, Pos dest) { e.MoveText(from, to, dest); }

struct Editor {
    tessaly::EditorState state;
    tessaly::RowIndex rows{state.Buffer()};
    Editor() {
        state.onTextChanged = [this](const tessaly::TextChange& c) { rows.OnTextChanged(c); };
        rows.Reset(800, Metrics());
    }
    // What painting needs: the caret's row and the rows of one viewport.
    Pos ShowCaret() {
        const Pos first = rows.RowOf(state.Caret()).number;
        Pos sum = 0;
        for (Pos n = first; n < first + kRowsInView; ++n) sum += rows.RowAt(n).start;
        return sum;
    }
};

void BM_SetText100M(benchmark::State& st) {
    Editor e;
    for (auto _ : st) {
        st.PauseTiming();
        std::u16string text = EncodedLine(kUnits);
        e.state.History().Clear();
        st.ResumeTiming();
        e.state.SetText(std::move(text));
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
BENCHMARK(BM_SetText100M)->Unit(benchmark::kMillisecond)->Iterations(3);

void Key(benchmark::State& st, double where) {
    Editor e;
    e.state.SetText(EncodedLine(kUnits));
    e.rows.RowOf(e.state.Length());  // everything laid out once
    const Pos at = static_cast<Pos>(static_cast<double>(e.state.Length()) * where);
    e.state.SetSelection(at, at);
    e.state.ReplaceSelection(u"x", tessaly::EditKind::Typing);  // the gap grows once
    for (auto _ : st) {
        e.state.ReplaceSelection(u"x", tessaly::EditKind::Typing);
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
void BM_KeyAtStart(benchmark::State& st) { Key(st, 0); }
void BM_KeyInMiddle(benchmark::State& st) { Key(st, 0.5); }
void BM_KeyAtEnd(benchmark::State& st) { Key(st, 1); }
BENCHMARK(BM_KeyAtStart)->Unit(benchmark::kMicrosecond)->Iterations(20);
BENCHMARK(BM_KeyInMiddle)->Unit(benchmark::kMicrosecond)->Iterations(20);
BENCHMARK(BM_KeyAtEnd)->Unit(benchmark::kMicrosecond)->Iterations(20);

// The first key after SetText: the gap (an eighth of the text) is made.
void BM_FirstKeyAfterSetText(benchmark::State& st) {
    Editor e;
    for (auto _ : st) {
        st.PauseTiming();
        e.state.SetText(EncodedLine(kUnits));
        e.state.History().Clear();
        e.state.SetSelection(kUnits / 2, kUnits / 2);
        e.ShowCaret();
        st.ResumeTiming();
        e.state.ReplaceSelection(u"x", tessaly::EditKind::Typing);
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
BENCHMARK(BM_FirstKeyAfterSetText)->Unit(benchmark::kMillisecond)->Iterations(3);

// After a key at the start, the row of the line's end (Ctrl+End).
void BM_EndRowAfterKeyAtStart(benchmark::State& st) {
    Editor e;
    e.state.SetText(EncodedLine(kUnits));
    e.rows.RowOf(e.state.Length());
    for (auto _ : st) {
        st.PauseTiming();
        e.state.Replace(0, 0, u"x", tessaly::EditKind::Typing);
        e.ShowCaret();
        st.ResumeTiming();
        benchmark::DoNotOptimize(e.rows.RowOf(e.state.Length()).number);
    }
}
BENCHMARK(BM_EndRowAfterKeyAtStart)->Unit(benchmark::kMillisecond)->Iterations(5);

// Ctrl+Z after a conversion: the old text comes back (moved, not copied).
void BM_UndoSetText100M(benchmark::State& st) {
    Editor e;
    e.state.SetText(EncodedLine(kUnits));
    for (auto _ : st) {
        st.PauseTiming();
        e.state.SetText(EncodedLine(kUnits / 2));
        e.ShowCaret();
        st.ResumeTiming();
        e.state.Undo();
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
BENCHMARK(BM_UndoSetText100M)->Unit(benchmark::kMillisecond)->Iterations(3);

// The line index of a 100M-unit text of 3,000,000 lines.
void BM_SetTextManyLines(benchmark::State& st) {
    Editor e;
    for (auto _ : st) {
        st.PauseTiming();
        std::u16string text = EncodedLine(kUnits);
        for (Pos i = 31; i + 1 < kUnits; i += 33) text[i] = u'\r', text[i + 1] = u'\n';
        e.state.History().Clear();
        st.ResumeTiming();
        e.state.SetText(std::move(text));
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
BENCHMARK(BM_SetTextManyLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// Typing in the first line of that text: the starts after it shift lazily.
void BM_KeyInManyLines(benchmark::State& st) {
    Editor e;
    std::u16string text = EncodedLine(kUnits);
    for (Pos i = 31; i + 1 < kUnits; i += 33) text[i] = u'\r', text[i + 1] = u'\n';
    e.state.SetText(std::move(text));
    e.state.SetSelection(5, 5);
    e.state.ReplaceSelection(u"x", tessaly::EditKind::Typing);  // the gap grows once
    for (auto _ : st) {
        e.state.ReplaceSelection(u"x", tessaly::EditKind::Typing);
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
BENCHMARK(BM_KeyInManyLines)->Unit(benchmark::kMicrosecond)->Iterations(20);

// Enter (a new CR LF) in the first line of that text: every later line moves.
void BM_EnterInManyLines(benchmark::State& st) {
    Editor e;
    std::u16string text = EncodedLine(kUnits);
    for (Pos i = 31; i + 1 < kUnits; i += 33) text[i] = u'\r', text[i + 1] = u'\n';
    e.state.SetText(std::move(text));
    e.state.SetSelection(5, 5);
    e.state.ReplaceSelection(u"x", tessaly::EditKind::Typing);
    for (auto _ : st) {
        e.state.ReplaceSelection(u"\r\n", tessaly::EditKind::Typing);
        benchmark::DoNotOptimize(e.ShowCaret());
    }
}
BENCHMARK(BM_EnterInManyLines)->Unit(benchmark::kMicrosecond)->Iterations(20);


// A typing run of 100,000 units at the end of a short text: one undo step
// that grows with every key. Reports the history's bytes per typed unit
// (before adjacent typed units were merged: 7.6 s and 108 bytes a unit).
void BM_TypingRun100K(benchmark::State& st) {
    constexpr int kKeys = 100'000;
    double perUnit = 0;
    for (auto _ : st) {
        st.PauseTiming();
        tessaly::EditorState e;
        e.SetText(u"start\r\n");
        e.History().Clear();
        e.SetSelection(e.Length(), e.Length());
        st.ResumeTiming();
        for (int i = 0; i < kKeys; ++i) e.ReplaceSelection(i % 40 == 39 ? u" " : u"x", tessaly::EditKind::Typing);
        perUnit = static_cast<double>(e.History().Bytes()) / kKeys;
    }
    st.counters["history_bytes_per_unit"] = perUnit;
}
BENCHMARK(BM_TypingRun100K)->Unit(benchmark::kMillisecond)->Iterations(1);

// Dragging 5 units from the start of a 50,000,000-unit text to its end, as
// the edit box's drop does it: one undo step. Reports the history's bytes.
void BM_DragMove50M(benchmark::State& st) {
    constexpr Pos kLength = 50'000'000;
    tessaly::EditorState e;
    double historyBytes = 0;
    for (auto _ : st) {
        st.PauseTiming();
        e.SetText(EncodedLine(kLength));
        e.History().Clear();
        st.ResumeTiming();
        DragMove(e, 0, 5, kLength);
        historyBytes = static_cast<double>(e.History().Bytes());
    }
    st.counters["history_bytes"] = historyBytes;
}
BENCHMARK(BM_DragMove50M)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
