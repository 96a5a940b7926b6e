// The edit box's mouse and drag controller: clicks, multi-clicks and drags
// that select (scrolling while the mouse is above or below the rows),
// dragging the selection out, dropping text or files in, and the middle
// click that pastes the primary selection. It edits through the box, so
// every change is one of the editor's transactions.
#pragma once

#include <QBasicTimer>
#include <QPoint>
#include <QPointF>

#include "editor/text_buffer.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMouseEvent;

namespace tessaly {

class EditBox;

class EditBoxMouse {
public:
    explicit EditBoxMouse(EditBox& box) : box_(box) {}

    void Press(QMouseEvent* e);
    void Move(QMouseEvent* e);
    void Release(QMouseEvent* e);
    void DoubleClick(QMouseEvent* e);
    // True when the timer is one of the controller's.
    bool Timer(int timerId);

    void DragEnter(QDragEnterEvent* e);
    void DragMove(QDragMoveEvent* e);
    void DragLeave();
    void Drop(QDropEvent* e);
    // Where a drag over the box would drop, -1 when none is over it.
    Pos DropCaret() const { return dropCaret_; }

private:
    void ExtendSelectionTo(QPointF point);
    void StartDrag();

    EditBox& box_;
    Pos dragFrom_ = -1, dragTo_ = -1;  // the selection being dragged out
    bool droppedHere_ = false;
    QBasicTimer scrollTimer_;
    QBasicTimer clickTimer_;
    QPoint lastMousePos_;
    int clickCount_ = 0;
    QPointF clickPoint_;
    Pos selectUnitStart_ = -1, selectUnitEnd_ = -1;  // the word or line a multi-click selected
    bool selecting_ = false;
    bool maybeDrag_ = false;
    QPoint dragStart_;
    Pos dropCaret_ = -1;
};

}  // namespace tessaly
