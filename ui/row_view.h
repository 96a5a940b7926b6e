// The rows of the edit box as they are drawn: each row is shaped once with
// QTextLayout (the same layout finds where the row ends, draws it and answers
// every question of geometry), kept in a cache, and laid out only where it is
// shown or where scrolling needs it. Scrolling is anchored at the text
// position where the top row starts, and every move of it walks from one
// known row to the next, never through estimated row numbers.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QList>
#include <QString>
#include <QTextLayout>
#include <memory>
#include <unordered_map>
#include <vector>

#include "editor/editor_state.h"
#include "editor/row_index.h"

class QPainter;
class QPalette;
class QPaintDevice;

namespace tessaly {

// What the box draws for a unit: control pictures for the controls a line
// holds, symbols for the separators that would otherwise break the row, an
// ideographic space (with its code drawn over it) for the C1 controls.
char16_t DisplayUnit(char16_t c);
bool IsC1Control(char16_t c);
// A row ends at a wrap point when the next row starts where it ends.
inline bool IsWrapEnd(const TextBuffer& buffer, const RowIndex::Row& row, Pos pos) {
    return pos == row.end && pos != buffer.LineEnd(row.line);
}

class RowView {
public:
    using Row = RowIndex::Row;

    RowView(const EditorState& state, QPaintDevice* device);

    void SetFont(const QFont& font);
    const QFont& Font() const { return font_; }
    // The width the text wraps at; rows are found again when it changes.
    void SetWidth(double width);
    double Width() const { return width_; }
    void SetViewHeight(double height);
    double RowHeight() const { return rowHeight_; }
    double Ascent() const { return ascent_; }
    double SpaceWidth() const;
    RowIndex& Rows() { return rows_; }

    // The text changed: forgets the shaped rows and keeps the top row in place.
    void OnTextChanged(const TextChange& change);
    // Colours or fonts changed: everything is shaped again.
    void Forget();

    // The shaped row, as drawn (cached).
    const QTextLayout& Shaped(const Row& row);
    bool RightToLeft(Pos line);
    double XOf(const Row& row, Pos pos);        // relative to the text's left edge
    Pos PosAt(const Row& row, double x);        // nearest caret position in the row

    // An input method's composition, drawn at the caret and wrapped there.
    struct Composition {
        Pos at = -1;             // where it is inserted; -1: none
        bool atRowEnd = false;   // the caret shows at the end of the row before a wrap
        QString text;
        int cursor = 0;
        bool cursorVisible = true;
        QList<QInputMethodEvent::Attribute> attributes;
    };
    void SetComposition(Composition composition);
    const Composition& GetComposition() const { return composition_; }
    // Where the composition's cursor is drawn, from the top left of its row.
    QPointF CompositionCursor(const Row& row);

    // Scrolling. The top row is the row that starts at TopPos().
    Pos TopPos() const { return topPos_; }
    Row TopRow();
    void SetTop(Pos pos);                      // clamped so the last page stays full
    Row MaxTopRow();                           // the top row that shows the last row at the bottom
    Row TopShowingAtBottom(Row bottom, double room);
    Pos MaxTopNumber(const Row& top);          // its number (estimated when top is far from it)
    bool NearEnd(const Row& row) const;
    bool ScrollRows(Pos delta);                // walks delta rows from the top
    void EnsureVisible(const Row& row);        // scrolls as little as needed

    // The rows in view, top down, with their y and height.
    struct Slot {
        Row row;
        double y = 0;
        double height = 0;
    };
    const std::vector<Slot>& Slots();
    // y of a row (rows out of view: estimated, outside the view).
    double YOf(const Row& row);
    int RowsPerPage() const;

    // Walks delta rows from row (fewer at the ends of the text).
    Row Walk(Row row, Pos delta);

    struct PaintState {
        Pos selStart = 0, selEnd = 0;
        Pos caret = 0;
        bool caretAtRowEnd = false;
        bool showCaret = false;
        Pos dropCaret = -1;
    };
    void Paint(QPainter& painter, const QPalette& palette, const PaintState& state, double left);

    // Shapes [from, to) of the text as the box draws it, unwrapped.
    std::unique_ptr<QTextLayout> ShapeRange(Pos from, Pos to, Qt::LayoutDirection direction);

private:
    QString DisplayText(Pos from, Pos to) const;
    Pos RowEnd(Pos start, Pos limit);
    void ResetRows();
    double HeightOf(const Row& row);
    bool IsCompositionRow(const Row& row);
    std::unique_ptr<QTextLayout> CompositionLayout(const Row& row);
    void Invalidate() { slotsValid_ = false; }

    const EditorState& state_;
    QPaintDevice* device_;
    RowIndex rows_;
    QFont font_;
    QFont codeFont_;  // the small font of the C1 codes
    double ascent_ = 0;
    double rowHeight_ = 1;
    double averageAdvance_ = 8;
    double width_ = 1;
    double viewHeight_ = 1;
    Pos topPos_ = 0;
    Pos lastRowUnits_ = 64;

    struct Cached {
        Pos end;
        std::unique_ptr<QTextLayout> layout;
    };
    std::unordered_map<Pos, Cached> shaped_;  // by the row's start
    std::unordered_map<Pos, bool> directions_;  // by the line's start
    std::vector<Slot> slots_;
    bool slotsValid_ = false;
    Composition composition_;
};

}  // namespace tessaly
