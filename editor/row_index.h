// Where the rows of each line start when lines wrap anywhere at a width:
// found from per-character advances, lazily, line by line, only as far as
// they are asked for, and kept until the text or the width changes.
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

class RowIndex {
public:
    explicit RowIndex(const TextBuffer& buffer);

    // A new width or new metrics: everything is found again as needed.
    void Reset(double width, CharMetrics metrics);
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
        Pos number = 0;      // its row number in the whole text
    };
    // The row with the given number (clamped), laying out what it needs to.
    Row RowAt(Pos number);
    // The row that shows position pos. At a wrap point a position belongs to
    // the row it starts, unless atRowEnd asks for the end of the row before.
    Row RowOf(Pos pos, bool atRowEnd = false);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace tessaly
