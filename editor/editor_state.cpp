#include "editor/editor_state.h"

#include <algorithm>

namespace tessaly {

namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::u16string EditorState::SelectedText() const { return buffer_.Text(SelectionStart(), SelectionEnd()); }

Pos EditorState::Snap(Pos pos) const {
    pos = std::clamp<Pos>(pos, 0, buffer_.Length());
    if (pos > 0 && pos < buffer_.Length()) {
        const char16_t before = buffer_.At(pos - 1), after = buffer_.At(pos);
        if ((IsHigh(before) && IsLow(after)) || (before == u'\r' && after == u'\n')) --pos;
    }
    return pos;
}

void EditorState::SetSelection(Pos anchor, Pos caret) {
    anchor = Snap(anchor);
    caret = Snap(caret);
    if (anchor == anchor_ && caret == caret_) return;
    anchor_ = anchor;
    caret_ = caret;
    history_.Seal();
    if (onSelectionChanged) onSelectionChanged();
}

void EditorState::MakeRoom(std::uint64_t stepBytes) {
    if (!historyBudget) return;
    const std::uint64_t budget = historyBudget();
    history_.DropOldest(budget > stepBytes ? budget - stepBytes : 0);
}

void EditorState::Replace(Pos from, Pos to, std::u16string_view text, EditKind kind) {
    from = std::clamp<Pos>(from, 0, buffer_.Length());
    to = std::clamp<Pos>(to, 0, buffer_.Length());
    if (to < from) std::swap(from, to);
    if (from == to && text.empty()) return;
    const Pos anchorBefore = anchor_, caretBefore = caret_;
    TextEdit inverse = buffer_.Replace(from, to - from, text);
    anchor_ = caret_ = from + static_cast<Pos>(text.size());
    MakeRoom(inverse.Bytes());
    history_.Record(std::move(inverse), kind, anchorBefore, caretBefore, anchor_, caret_);
    if (onTextChanged) onTextChanged(buffer_.LastChange());
    if (onSelectionChanged) onSelectionChanged();
}

void EditorState::ReplaceSelection(std::u16string_view text, EditKind kind) {
    Replace(SelectionStart(), SelectionEnd(), text, kind);
}

void EditorState::SetText(std::u16string&& text) {
    const Pos anchorBefore = anchor_, caretBefore = caret_;
    TextEdit inverse = buffer_.SetText(std::move(text));
    anchor_ = caret_ = 0;
    history_.Seal();
    MakeRoom(inverse.Bytes());
    history_.Record(std::move(inverse), EditKind::Other, anchorBefore, caretBefore, 0, 0);
    if (onTextChanged) onTextChanged(buffer_.LastChange());
    if (onSelectionChanged) onSelectionChanged();
}

bool EditorState::Replay(bool undo) {
    Pos anchor = 0, caret = 0;
    auto changed = [this] {
        if (onTextChanged) onTextChanged(buffer_.LastChange());
    };
    const bool done = undo ? history_.Undo(buffer_, anchor, caret, changed) : history_.Redo(buffer_, anchor, caret, changed);
    if (!done) return false;
    anchor_ = std::clamp<Pos>(anchor, 0, buffer_.Length());
    caret_ = std::clamp<Pos>(caret, 0, buffer_.Length());
    if (onSelectionChanged) onSelectionChanged();
    return true;
}

bool EditorState::Undo() { return Replay(true); }
bool EditorState::Redo() { return Replay(false); }

}  // namespace tessaly
