#include "ui/edit_box_mouse.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <algorithm>

#include "editor/text_units.h"
#include "ui/box_mime.h"
#include "ui/edit_box.h"

namespace tessaly {

using box::View;

namespace {

// The line holding pos with its line break: what a triple click selects.
Pos LineEndWithBreak(const TextBuffer& b, Pos pos) {
    const Pos line = b.LineOf(pos);
    return line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length();
}

bool HasLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

}  // namespace

// --- Mouse --------------------------------------------------------------------

void EditBoxMouse::Press(QMouseEvent* e) {
    EditorState& state = box_.state_;
    const QPointF p = e->position();
    if (e->button() == Qt::MiddleButton) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()) {
            const Pos pos = box_.PositionInRows(p, true);
            state.SetSelection(pos, pos);
            box_.InsertFromMime(clipboard->mimeData(QClipboard::Selection));
        }
        e->accept();
        return;
    }
    if (e->button() == Qt::RightButton) {
        const Pos pos = box_.PositionInRows(p, true);
        if (pos < state.SelectionStart() || pos > state.SelectionEnd()) {
            box_.MoveTo(pos, false);
        }
        e->accept();
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    const bool triple = clickTimer_.isActive() &&
                        (p - clickPoint_).manhattanLength() < QApplication::startDragDistance();
    clickTimer_.stop();
    const Pos pos = box_.PositionInRows(p, true);
    if (triple) {
        const TextBuffer& b = state.Buffer();
        selectUnitStart_ = b.LineStart(b.LineOf(pos));
        selectUnitEnd_ = LineEndWithBreak(b, pos);
        clickCount_ = 3;
        state.SetSelection(selectUnitStart_, selectUnitEnd_);
        selecting_ = true;
        box_.SetPrimarySelection();
        e->accept();
        return;
    }
    selectUnitStart_ = selectUnitEnd_ = -1;
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (!shift && state.HasSelection() && pos >= state.SelectionStart() && pos < state.SelectionEnd()) {
        maybeDrag_ = true;
        dragStart_ = p.toPoint();
        e->accept();
        return;
    }
    // A click past a wrapped row's end puts the caret at that end.
    bool atRowEnd = false;
    box_.PositionInRows(p, true, &atRowEnd);
    state.SetSelection(Selection{shift ? state.Anchor() : pos, pos, atRowEnd, -1});
    box_.EnsureCaretVisible();
    selecting_ = true;
    if (shift) box_.SetPrimarySelection();
    e->accept();
}

void EditBoxMouse::ExtendSelectionTo(QPointF p) {
    EditorState& state = box_.state_;
    const TextBuffer& b = state.Buffer();
    const Pos pos = box_.PositionInRows(p, true);
    if (selectUnitStart_ >= 0) {
        // Multi-click selections grow by their unit.
        if (pos < selectUnitStart_) {
            const Pos start = clickCount_ == 2 ? WordStart(b, pos) : b.LineStart(b.LineOf(pos));
            state.SetSelection(selectUnitEnd_, start);
        } else {
            const Pos end = clickCount_ == 2 ? WordEnd(b, pos) : LineEndWithBreak(b, pos);
            state.SetSelection(selectUnitStart_, std::max(selectUnitEnd_, end));
        }
    } else {
        state.SetSelection(state.Anchor(), pos);
    }
    box_.EnsureCaretVisible();
}

void EditBoxMouse::Move(QMouseEvent* e) {
    const QPointF p = e->position();
    lastMousePos_ = p.toPoint();
    if (maybeDrag_) {
        if ((p.toPoint() - dragStart_).manhattanLength() >= QApplication::startDragDistance()) {
            maybeDrag_ = false;
            StartDrag();
        }
        return;
    }
    if (!selecting_ || !(e->buttons() & Qt::LeftButton)) return;
    const QRect r = box_.viewport()->rect();
    if (p.y() < r.top() || p.y() > r.bottom()) {
        if (!scrollTimer_.isActive()) scrollTimer_.start(50, &box_);
    } else {
        scrollTimer_.stop();
    }
    ExtendSelectionTo(p);
}

void EditBoxMouse::Release(QMouseEvent* e) {
    scrollTimer_.stop();
    if (maybeDrag_) {
        // A click inside the selection without a drag puts the caret there.
        maybeDrag_ = false;
        box_.MoveTo(box_.PositionInRows(e->position(), true), false);
    }
    if (selecting_ && e->button() == Qt::LeftButton) {
        selecting_ = false;
        box_.SetPrimarySelection();
    }
    e->accept();
}

void EditBoxMouse::DoubleClick(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        Press(e);
        return;
    }
    EditorState& state = box_.state_;
    const Pos pos = box_.PositionInRows(e->position(), true);
    Pos start = WordStart(state.Buffer(), pos);
    Pos end = WordEnd(state.Buffer(), start);
    if (state.Length() == 0) start = end = 0;
    selectUnitStart_ = start;
    selectUnitEnd_ = end;
    clickCount_ = 2;
    state.SetSelection(start, end);
    selecting_ = true;
    maybeDrag_ = false;
    clickPoint_ = e->position();
    clickTimer_.start(QApplication::doubleClickInterval(), &box_);
    box_.SetPrimarySelection();
    box_.viewport()->update();
    e->accept();
}

bool EditBoxMouse::Timer(int timerId) {
    if (timerId == scrollTimer_.timerId()) {
        // Selecting with the mouse above or below the rows: a row a tick.
        const QRect r = box_.viewport()->rect();
        if (lastMousePos_.y() < r.top()) {
            box_.view_.ScrollRows(-1);
        } else if (lastMousePos_.y() > r.bottom()) {
            box_.view_.ScrollRows(1);
        }
        box_.UpdateScrollBar();
        box_.viewport()->update();
        ExtendSelectionTo(QPointF(lastMousePos_.x(), std::clamp(lastMousePos_.y(), r.top(), r.bottom())));
        return true;
    }
    if (timerId == clickTimer_.timerId()) {
        clickTimer_.stop();
        return true;
    }
    return false;
}

// --- Drag and drop ------------------------------------------------------------

void EditBoxMouse::StartDrag() {
    EditorState& state = box_.state_;
    auto* drag = new QDrag(&box_);
    drag->setMimeData(box_.MimeForSelection());
    const Pos from = state.SelectionStart();
    const Pos to = state.SelectionEnd();
    dragFrom_ = from;
    dragTo_ = to;
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // A move to another program takes the text away from here.
    if (action == Qt::MoveAction && !droppedHere_ && drag->target() != box_.viewport() && drag->target() != &box_) {
        box_.Check(state.Replace(from, to, u"", EditKind::Other));
    }
    droppedHere_ = false;
    dragFrom_ = dragTo_ = -1;
}

void EditBoxMouse::DragEnter(QDragEnterEvent* e) {
    if (HasLocalFiles(e->mimeData()) || (e->mimeData() && e->mimeData()->hasText())) {
        e->acceptProposedAction();
    } else {
        e->ignore();
    }
}

void EditBoxMouse::DragMove(QDragMoveEvent* e) {
    if (HasLocalFiles(e->mimeData())) {
        e->acceptProposedAction();
        return;
    }
    if (!e->mimeData() || !e->mimeData()->hasText()) {
        e->ignore();
        return;
    }
    dropCaret_ = box_.PositionInRows(e->position(), true);
    box_.viewport()->update();
    e->acceptProposedAction();
}

void EditBoxMouse::DragLeave() {
    dropCaret_ = -1;
    box_.viewport()->update();
}

void EditBoxMouse::Drop(QDropEvent* e) {
    dropCaret_ = -1;
    box_.viewport()->update();
    const QMimeData* data = e->mimeData();
    if (HasLocalFiles(data)) {
        // The first local file is handed on to be opened.
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                e->acceptProposedAction();
                emit box_.FileDropped(url.toLocalFile());
                return;
            }
        }
    }
    if (!data || !data->hasText()) {
        e->ignore();
        return;
    }
    const Pos pos = box_.PositionInRows(e->position(), true);
    const bool internalMove = e->source() == &box_ && dragFrom_ >= 0 && e->dropAction() == Qt::MoveAction;
    if (internalMove) {
        if (!box_.MoveText(dragFrom_, dragTo_, pos)) {
            e->ignore();
            return;
        }
        droppedHere_ = true;
        e->setDropAction(Qt::MoveAction);
        e->accept();
    } else {
        // Inserted at the drop point; a drop refused for want of memory
        // leaves the selection where it was.
        const QString text = TextOf(data);
        if (!box_.Check(box_.state_.Replace(pos, pos, View(text), EditKind::Other))) {
            e->ignore();
            return;
        }
        e->acceptProposedAction();
    }
    box_.EnsureCaretVisible();
    box_.setFocus();
}

}  // namespace tessaly
