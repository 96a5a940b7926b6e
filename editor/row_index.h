// Where the rows of each line start when lines wrap anywhere at a width:
// found lazily, line by line, only as far as they are asked for, and kept
// until the text or the width changes.
//
// Two ways of finding a row's end: from per-character advances (CharMetrics,
// a plain sum), or by asking the view where a row starting at a position ends
// (RowBreaker: the view shapes the text exactly as it will draw it). With a
// RowBreaker, a line longer than its piece length is wrapped piece by piece:
// a piece always starts a row, so that what is in view of a giant line is
// found without laying out everything before it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "editor/editor_state.h"
#include "editor/text_buffer.h"

namespace tessaly {

// The width of each character, supplied by the view (font metrics). Looked up
// in a table; the view's function is asked once per character on first sight.
struct CharMetrics {
    // Advance of one character (a code point; control characters as the view
    // draws them). TAB is handled here: it goes to the next tab stop.
    std::function<double(char32_t)> advance;
    // Whether a character joins the one before it (combining marks,
    // variation selectors, ZWJ): a row never starts with one.
    std::function<bool(char32_t)> joinsPrevious;
    double tabStop = 80;
};

// Rows found by the view itself.
struct RowBreaker {
    // The end of the row that starts at start (a text position), at most
    // limit (the end of the line or of its piece); more than start whenever
    // start < limit.
    std::function<Pos(Pos start, Pos limit)> rowEnd;
    // Whether a character joins the one before it: a piece never starts
    // with one.
    std::function<bool(char32_t)> joinsPrevious;
    double unitsPerRow = 64;  // for the rows of what is not laid out yet
    Pos piece = 0;            // lines longer than this wrap in pieces of it (0: never)
};

class RowIndex {
public:
    explicit RowIndex(const TextBuffer& buffer);
    ~RowIndex();
    RowIndex(const RowIndex&) = delete;
    RowIndex& operator=(const RowIndex&) = delete;

    // A new width or new metrics: everything is found again as needed.
    void Reset(double width, CharMetrics metrics);
    void Reset(RowBreaker breaker);
    // The text changed: forget what the change touched.
    void OnTextChanged(const TextChange& change);

    // Rows of the whole text: exact for the lines laid out so far, estimated
    // (from their length) for the others.
    Pos RowCount() const;

    struct Row {
        Pos line = 0;        // the line it belongs to
        Pos indexInLine = 0; // 0 for the line's first row
        Pos start = 0;       // text positions [start, end); end excludes the CR LF
        Pos end = 0;
        Pos number = 0;      // its row number in the whole text (estimated
                             // where rows before it are not laid out)
    };
    // The row with the given number (clamped), laying out what it needs to.
    Row RowAt(Pos number);
    // The row that shows position pos. At a wrap point a position belongs to
    // the row it starts, unless atRowEnd asks for the end of the row before.
    Row RowOf(Pos pos, bool atRowEnd = false);
    // The rows after and before a row (exact: found from the row itself,
    // never from estimated numbers). False at the end or start of the text.
    bool Next(const Row& row, Row& next);
    bool Previous(const Row& row, Row& previous);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly
