// The edit box's input-method adapter: compositions shown as the row view
// wraps them, commits made as edits, and what the input method asks of the box.
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

// --- Input methods ------------------------------------------------------------

void EditBox::SetComposition() {
    RowView::Composition c;
    if (!preedit_.isEmpty()) {
        c.at = state_.Caret();
        c.atRowEnd = state_.CaretAtRowEnd();
        c.text = preedit_;
        c.cursor = preeditCursor_;
        c.cursorVisible = preeditCursorVisible_;
        c.attributes = preeditAttributes_;
    }
    view_.SetComposition(std::move(c));
}

void EditBox::inputMethodEvent(QInputMethodEvent* e) {
    const bool hadPreedit = !preedit_.isEmpty();
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) {
        Pos from = state_.SelectionStart();
        Pos to = state_.SelectionEnd();
        if (e->replacementLength() > 0 || e->replacementStart() != 0) {
            from = std::clamp<Pos>(state_.Caret() + e->replacementStart(), 0, state_.Length());
            to = std::clamp<Pos>(from + e->replacementLength(), 0, state_.Length());
        }
        Check(state_.Replace(from, to, View(e->commitString()), EditKind::Other));
    }
    preedit_ = e->preeditString();
    preeditAttributes_.clear();
    preeditCursor_ = static_cast<int>(preedit_.size());
    preeditCursorVisible_ = true;
    for (const QInputMethodEvent::Attribute& a : e->attributes()) {
        if (a.type == QInputMethodEvent::Cursor) {
            preeditCursor_ = std::clamp(a.start, 0, static_cast<int>(preedit_.size()));
            preeditCursorVisible_ = a.length != 0;
        } else if (a.type == QInputMethodEvent::TextFormat) {
            preeditAttributes_.append(a);
        } else if (a.type == QInputMethodEvent::Selection && preedit_.isEmpty()) {
            const Pos anchor = std::clamp<Pos>(a.start, 0, state_.Length());
            const Pos caret = std::clamp<Pos>(a.start + a.length, 0, state_.Length());
            state_.SetSelection(anchor, caret);
        }
    }
    SetComposition();
    if (hadPreedit || !preedit_.isEmpty() || !e->commitString().isEmpty()) {
        EnsureCaretVisible();
    }
    viewport()->update();
    e->accept();
}

QVariant EditBox::inputMethodQuery(Qt::InputMethodQuery query) const {
    auto* self = const_cast<EditBox*>(this);
    const TextBuffer& b = state_.Buffer();
    const Pos caret = state_.Caret();
    // The surrounding text: the caret's line, at most a window around the caret.
    constexpr Pos kWindow = 1024;
    const Pos line = b.LineOf(caret);
    const Pos from = std::max(b.LineStart(line), caret - kWindow);
    const Pos to = std::min(b.LineEnd(line), caret + kWindow);
    const QPoint offset = viewport()->geometry().topLeft();
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return self->CaretRect().translated(offset).toAlignedRect();
    case Qt::ImAnchorRectangle:
        return self->CaretRectAt(state_.Anchor(), false).translated(offset).toAlignedRect();
    case Qt::ImFont: return view_.Font();
    case Qt::ImCursorPosition: return static_cast<int>(caret - from);
    case Qt::ImAnchorPosition: return static_cast<int>(std::clamp(state_.Anchor(), from, to) - from);
    case Qt::ImSurroundingText: return ToQString(b.Text(from, to));
    case Qt::ImCurrentSelection: {
        const Pos s = std::max(state_.SelectionStart(), from);
        const Pos e = std::min(state_.SelectionEnd(), to);
        return e > s ? ToQString(b.Text(s, e)) : QString();
    }
    case Qt::ImMaximumTextLength: return QVariant();
    case Qt::ImHints: return static_cast<int>(Qt::ImhMultiLine);
    case Qt::ImAbsolutePosition: return static_cast<qlonglong>(caret);
    case Qt::ImTextBeforeCursor: return ToQString(b.Text(from, caret));
    case Qt::ImTextAfterCursor: return ToQString(b.Text(caret, to));
    case Qt::ImReadOnly: return false;
    default: return QAbstractScrollArea::inputMethodQuery(query);
    }
}

}  // namespace tessaly
