// The edit box: a view of the editor's exact text. A shell over its parts:
// the row view (shaping, painting, geometry, scrolling), the key table, the
// mouse and drag controller and the input-method adapter; the box forwards
// its events to them. Every change goes through the editor's transactions so
// that each one can be undone.
#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <memory>
#include <string>
#include <string_view>

#include "editor/editor_state.h"
#include "editor/row_index.h"
#include "ui/edit_keys.h"
#include "ui/row_view.h"

class QMenu;
class QMimeData;

namespace tessaly {

class BoxMime;
class EditBoxMouse;
class InputMethodAdapter;

class EditBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit EditBox(QWidget* parent = nullptr);
    ~EditBox() override;

    QString Text() const;                  // a copy of the whole exact text
    std::u16string_view TextView() const;  // the whole text, valid until the next change
    void SetText(std::u16string&& text);   // takes it without copying; one undo step
    void SetText(const QString& text);
    const EditorState& State() const { return state_; }
    EditorState& MutableState() { return state_; }

    // Edits as a user makes them (undoable, one step each). Line breaks in
    // text are taken as they are (callers normalise them when needed).
    void ReplaceRange(Pos from, Pos to, const QString& text);
    void SetSelection(Pos anchor, Pos caret);  // and makes the caret visible
    static QString NormaliseLineBreaks(const QString& text);  // LF, CR, CR LF -> CR LF

    bool Undo();
    bool Redo();
    void SelectAll();
    void Copy();
    void Cut();
    void Paste();
    void DeleteSelection();
    // Moves [from, to) to pos, as a drag within the box does: one undo step,
    // the moved text selected. False when pos is inside the range.
    bool MoveText(Pos from, Pos to, Pos pos);

    // Geometry, in viewport coordinates (lays out what it needs).
    QRectF CharacterRect(Pos pos);       // the character at pos (a caret-wide box at the end)
    Pos PositionAt(QPointF viewportPoint);  // nearest caret position, -1 outside the text rows
    QRectF CaretRect();

    // The context menu the box shows (Qt's own captions); the caller owns it.
    QMenu* CreateContextMenu();

    // The row index, for tests and the benchmark.
    RowIndex& Rows() { return view_.Rows(); }

    // What the change being announced by TextEdited removed (empty when the
    // editor did not say); valid only while TextEdited is emitted.
    std::u16string_view RemovedText() const { return removedText_; }

    // Counts the changes of the text.
    quint64 Generation() const { return generation_; }

    // What the primary selection offers for the selection: a copy, or for a
    // very large one the box's text until it changes, then a copy of what was
    // selected (kept only while the data lives, as the clipboard's own).
    QMimeData* MimeForPrimary();

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

signals:
    void TextEdited(qint64 pos, qint64 removed, qint64 inserted);  // after every change of the text
    void CaretMoved(qint64 caret);                                 // after the caret or selection moved
    void FileDropped(const QString& path);                         // a local file was dropped on the box

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class EditBoxMouse;
    friend class InputMethodAdapter;
    using Row = RowIndex::Row;

    void OnTextChanged(const TextChange& change);
    void OnSelectionChanged();
    void UpdateScrollBar();
    void EnsureCaretVisible();
    void MoveTo(Pos pos, bool extend);
    void InsertTyped(const QString& text, EditKind kind);
    void InsertFromMime(const QMimeData* data);
    QMimeData* MimeForSelection() const;
    void SetPrimarySelection();
    void RestartBlink();
    void Run(EditCommand command, bool extend);
    // Shows the memory message when the editor refused an edit; true when
    // the edit was made.
    bool Check(EditResult result);

    // Geometry.
    double TextLeft() const;
    double TextWidth() const;
    Pos PositionInRows(QPointF point, bool clampToText, bool* atRowEnd = nullptr);
    QRectF CaretRectAt(Pos pos, bool atRowEnd);
    void MoveRows(Pos delta, bool extend);
    Pos VisualMove(Pos pos, bool right);
    Pos PreviousWord(Pos pos) const;
    Pos NextWord(Pos pos) const;
    Pos PreviousChar(Pos pos) const;
    Pos NextChar(Pos pos) const;
    bool DeleteMove(Pos to, EditKind kind);

    EditorState state_;
    RowView view_;

    bool settingScroll_ = false;
    int lastScrollValue_ = 0;
    int scrollScale_ = 1;            // rows per scroll bar step, when rows exceed int
    quint64 generation_ = 0;
    std::u16string_view removedText_;
    QPointer<BoxMime> lazyPrimary_;  // the primary selection, read from the text while it is unchanged
    bool caretShown_ = true;
    QBasicTimer blinkTimer_;
    std::unique_ptr<EditBoxMouse> mouse_;
    std::unique_ptr<InputMethodAdapter> inputMethod_;
};

}  // namespace tessaly
