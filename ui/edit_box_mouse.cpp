// The edit box's mouse and drag controller: clicks, multi-clicks and drags
// that select, dragging text out and dropping text or files in, and the
// timers of the caret and of scrolling while selecting.
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "ui/box_mime.h"
#include "ui/edit_box.h"

namespace tessaly {

using box::ToQString;
using box::View;

// --- Mouse --------------------------------------------------------------------

void EditBox::mousePressEvent(QMouseEvent* e) {
    const QPointF p = e->position();
    if (e->button() == Qt::MiddleButton) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()) {
            const Pos pos = PositionInRows(p, true);
            state_.SetSelection(pos, pos);
            InsertFromMime(clipboard->mimeData(QClipboard::Selection));
        }
        e->accept();
        return;
    }
    if (e->button() == Qt::RightButton) {
        const Pos pos = PositionInRows(p, true);
        if (pos < state_.SelectionStart() || pos > state_.SelectionEnd()) {
            MoveTo(pos, false);
        }
        e->accept();
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    const bool triple = clickTimer_.isActive() &&
                        (p - clickPoint_).manhattanLength() < QApplication::startDragDistance();
    clickTimer_.stop();
    const Pos pos = PositionInRows(p, true);
    if (triple) {
        const TextBuffer& b = state_.Buffer();
        const Pos line = b.LineOf(pos);
        selectUnitStart_ = b.LineStart(line);
        selectUnitEnd_ = line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length();
        state_.SetSelection(selectUnitStart_, selectUnitEnd_);
        selecting_ = true;
        SetPrimarySelection();
        e->accept();
        return;
    }
    selectUnitStart_ = selectUnitEnd_ = -1;
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (!shift && state_.HasSelection() && pos >= state_.SelectionStart() && pos < state_.SelectionEnd()) {
        maybeDrag_ = true;
        dragStart_ = p.toPoint();
        e->accept();
        return;
    }
    // A click past a wrapped row's end puts the caret at that end.
    bool atRowEnd = false;
    PositionInRows(p, true, &atRowEnd);
    state_.SetSelection(Selection{shift ? state_.Anchor() : pos, pos, atRowEnd, -1});
    EnsureCaretVisible();
    selecting_ = true;
    if (shift) SetPrimarySelection();
    e->accept();
}

void EditBox::ExtendSelectionTo(QPointF p) {
    Pos pos = PositionInRows(p, true);
    if (selectUnitStart_ >= 0) {
        // Multi-click selections grow by their unit.
        if (pos < selectUnitStart_) {
            const Pos start = clickCount_ == 2 ? WordStart(pos) : state_.Buffer().LineStart(state_.Buffer().LineOf(pos));
            state_.SetSelection(selectUnitEnd_, start);
        } else {
            Pos end = pos;
            if (clickCount_ == 2) {
                end = std::max(selectUnitEnd_, WordEnd(pos));
            } else {
                const TextBuffer& b = state_.Buffer();
                const Pos line = b.LineOf(pos);
                end = std::max(selectUnitEnd_, line + 1 < b.LineCount() ? b.LineStart(line + 1) : b.Length());
            }
            state_.SetSelection(selectUnitStart_, end);
        }
    } else {
        state_.SetSelection(state_.Anchor(), pos);
    }
    EnsureCaretVisible();
}

void EditBox::mouseMoveEvent(QMouseEvent* e) {
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
    const QRect r = viewport()->rect();
    if (p.y() < r.top() || p.y() > r.bottom()) {
        if (!scrollTimer_.isActive()) scrollTimer_.start(50, this);
    } else {
        scrollTimer_.stop();
    }
    ExtendSelectionTo(p);
}

void EditBox::mouseReleaseEvent(QMouseEvent* e) {
    scrollTimer_.stop();
    if (maybeDrag_) {
        // A click inside the selection without a drag puts the caret there.
        maybeDrag_ = false;
        const Pos pos = PositionInRows(e->position(), true);
        MoveTo(pos, false);
    }
    if (selecting_ && e->button() == Qt::LeftButton) {
        selecting_ = false;
        SetPrimarySelection();
    }
    e->accept();
}

void EditBox::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        mousePressEvent(e);
        return;
    }
    const Pos pos = PositionInRows(e->position(), true);
    Pos start = WordStart(pos);
    Pos end = WordEnd(start);
    if (state_.Length() == 0) start = end = 0;
    selectUnitStart_ = start;
    selectUnitEnd_ = end;
    clickCount_ = 2;
    state_.SetSelection(start, end);
    selecting_ = true;
    maybeDrag_ = false;
    clickPoint_ = e->position();
    clickTimer_.start(QApplication::doubleClickInterval(), this);
    SetPrimarySelection();
    viewport()->update();
    e->accept();
}

void EditBox::wheelEvent(QWheelEvent* e) { QAbstractScrollArea::wheelEvent(e); }

void EditBox::timerEvent(QTimerEvent* e) {
    if (e->timerId() == blinkTimer_.timerId()) {
        caretShown_ = !caretShown_;
        viewport()->update();
    } else if (e->timerId() == scrollTimer_.timerId()) {
        const QRect r = viewport()->rect();
        if (lastMousePos_.y() < r.top()) {
            view_.ScrollRows(-1);
        } else if (lastMousePos_.y() > r.bottom()) {
            view_.ScrollRows(1);
        }
        UpdateScrollBar();
        viewport()->update();
        const QPointF inside(lastMousePos_.x(), std::clamp(lastMousePos_.y(), r.top(), r.bottom()));
        ExtendSelectionTo(inside);
    } else if (e->timerId() == clickTimer_.timerId()) {
        clickTimer_.stop();
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

void EditBox::RestartBlink() {
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash >= 2) {
        blinkTimer_.start(flash / 2, this);
    } else {
        blinkTimer_.stop();
    }
}

void EditBox::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    caretShown_ = true;
    RestartBlink();
    viewport()->update();
}

void EditBox::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    state_.Seal();
    blinkTimer_.stop();
    viewport()->update();
}

// --- Drag and drop ------------------------------------------------------------

bool EditBox::MoveText(Pos from, Pos to, Pos pos) {
    const Pos n = state_.Length();
    from = std::clamp<Pos>(from, 0, n);
    to = std::clamp<Pos>(to, from, n);
    pos = std::clamp<Pos>(pos, 0, n);
    if (pos >= from && pos <= to) return false;
    if (from == to) {
        // Nothing to move: the caret goes to pos, as one step like any move.
        const Pos lo = std::min(pos, from), hi = std::max(pos, from);
        return Check(state_.Apply({{{lo, hi, state_.Buffer().Text(lo, hi)}}, Selection::Caret(pos), EditKind::Other}));
    }
    return Check(state_.MoveText(from, to, pos));
}

void EditBox::StartDrag() {
    auto* drag = new QDrag(this);
    drag->setMimeData(MimeForSelection());
    const Pos from = state_.SelectionStart();
    const Pos to = state_.SelectionEnd();
    dragFrom_ = from;
    dragTo_ = to;
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // A move to another program takes the text away from here.
    if (action == Qt::MoveAction && !droppedHere_ && drag->target() != viewport() && drag->target() != this) {
        Check(state_.Replace(from, to, u"", EditKind::Other));
    }
    droppedHere_ = false;
    dragFrom_ = dragTo_ = -1;
}

namespace {

bool HasLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

}  // namespace

void EditBox::dragEnterEvent(QDragEnterEvent* e) {
    if (HasLocalFiles(e->mimeData())) {
        e->acceptProposedAction();
    } else if (e->mimeData() && e->mimeData()->hasText()) {
        e->acceptProposedAction();
    } else {
        e->ignore();
    }
}

void EditBox::dragMoveEvent(QDragMoveEvent* e) {
    if (HasLocalFiles(e->mimeData())) {
        e->acceptProposedAction();
        return;
    }
    if (!e->mimeData() || !e->mimeData()->hasText()) {
        e->ignore();
        return;
    }
    dropCaret_ = PositionInRows(e->position(), true);
    viewport()->update();
    e->acceptProposedAction();
}

void EditBox::dragLeaveEvent(QDragLeaveEvent*) {
    dropCaret_ = -1;
    viewport()->update();
}

void EditBox::dropEvent(QDropEvent* e) {
    dropCaret_ = -1;
    viewport()->update();
    const QMimeData* data = e->mimeData();
    if (HasLocalFiles(data)) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                e->acceptProposedAction();
                emit FileDropped(url.toLocalFile());
                return;
            }
        }
    }
    if (!data || !data->hasText()) {
        e->ignore();
        return;
    }
    const Pos pos = PositionInRows(e->position(), true);
    const bool internalMove = e->source() == this && dragFrom_ >= 0 && e->dropAction() == Qt::MoveAction;
    if (internalMove) {
        if (!MoveText(dragFrom_, dragTo_, pos)) {
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
        if (!Check(state_.Replace(pos, pos, View(text), EditKind::Other))) {
            e->ignore();
            return;
        }
        e->acceptProposedAction();
    }
    EnsureCaretVisible();
    setFocus();
}

}  // namespace tessaly
