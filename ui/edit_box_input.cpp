#include "ui/edit_box_input.h"

#include <QWidget>
#include <algorithm>

#include "ui/box_mime.h"
#include "ui/edit_box.h"

namespace tessaly {

using box::ToQString;
using box::View;

void InputMethodAdapter::ShowComposition() {
    RowView::Composition c;
    if (!preedit_.isEmpty()) {
        c.at = box_.state_.Caret();
        c.atRowEnd = box_.state_.CaretAtRowEnd();
        c.text = preedit_;
        c.cursor = preeditCursor_;
        c.cursorVisible = preeditCursorVisible_;
        c.attributes = preeditAttributes_;
    }
    box_.view_.SetComposition(std::move(c));
}

void InputMethodAdapter::Event(QInputMethodEvent* e) {
    EditorState& state = box_.state_;
    const bool hadPreedit = !preedit_.isEmpty();
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) {
        Pos from = state.SelectionStart();
        Pos to = state.SelectionEnd();
        if (e->replacementLength() > 0 || e->replacementStart() != 0) {
            from = std::clamp<Pos>(state.Caret() + e->replacementStart(), 0, state.Length());
            to = std::clamp<Pos>(from + e->replacementLength(), 0, state.Length());
        }
        box_.Check(state.Replace(from, to, View(e->commitString()), EditKind::Other));
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
            const Pos anchor = std::clamp<Pos>(a.start, 0, state.Length());
            const Pos caret = std::clamp<Pos>(a.start + a.length, 0, state.Length());
            state.SetSelection(anchor, caret);
        }
    }
    ShowComposition();
    if (hadPreedit || !preedit_.isEmpty() || !e->commitString().isEmpty()) {
        box_.EnsureCaretVisible();
    }
    box_.viewport()->update();
    e->accept();
}

std::optional<QVariant> InputMethodAdapter::Query(Qt::InputMethodQuery query) const {
    const EditorState& state = box_.state_;
    const TextBuffer& b = state.Buffer();
    const Pos caret = state.Caret();
    // The surrounding text: the caret's line, at most a window around the caret.
    constexpr Pos kWindow = 1024;
    const Pos line = b.LineOf(caret);
    const Pos from = std::max(b.LineStart(line), caret - kWindow);
    const Pos to = std::min(b.LineEnd(line), caret + kWindow);
    const QPoint offset = box_.viewport()->geometry().topLeft();
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return box_.CaretRect().translated(offset).toAlignedRect();
    case Qt::ImAnchorRectangle: return box_.CaretRectAt(state.Anchor(), false).translated(offset).toAlignedRect();
    case Qt::ImFont: return box_.view_.Font();
    case Qt::ImCursorPosition: return static_cast<int>(caret - from);
    case Qt::ImAnchorPosition: return static_cast<int>(std::clamp(state.Anchor(), from, to) - from);
    case Qt::ImSurroundingText: return ToQString(b.Text(from, to));
    case Qt::ImCurrentSelection: {
        const Pos s = std::max(state.SelectionStart(), from);
        const Pos e = std::min(state.SelectionEnd(), to);
        return e > s ? ToQString(b.Text(s, e)) : QString();
    }
    case Qt::ImMaximumTextLength: return QVariant();
    case Qt::ImHints: return static_cast<int>(Qt::ImhMultiLine);
    case Qt::ImAbsolutePosition: return static_cast<qlonglong>(caret);
    case Qt::ImTextBeforeCursor: return ToQString(b.Text(from, caret));
    case Qt::ImTextAfterCursor: return ToQString(b.Text(caret, to));
    case Qt::ImReadOnly: return false;
    default: return std::nullopt;
    }
}

}  // namespace tessaly
