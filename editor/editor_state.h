// The editor's state: the text, the selection and the undo history, changed
// only through its transactions. The view derives everything else (rows,
// pixels) from it and is told of each change.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "editor/history.h"
#include "editor/text_buffer.h"

namespace tessaly {

// TextChange is declared with the buffer (editor/text_buffer.h).

class EditorState {
public:
    const TextBuffer& Buffer() const { return buffer_; }
    Pos Length() const { return buffer_.Length(); }

    // The selection runs between anchor and caret; empty when they are equal.
    Pos Anchor() const { return anchor_; }
    Pos Caret() const { return caret_; }
    Pos SelectionStart() const { return anchor_ < caret_ ? anchor_ : caret_; }
    Pos SelectionEnd() const { return anchor_ < caret_ ? caret_ : anchor_; }
    bool HasSelection() const { return anchor_ != caret_; }
    std::u16string SelectedText() const;
    // Moves the selection (clamped to the text, never inside a surrogate pair
    // or a CR LF); a caret moved by the user ends a typing run.
    void SetSelection(Pos anchor, Pos caret);

    // Replaces [from, to) by text as one transaction; the selection becomes
    // the caret after the inserted text. Typing and deleting runs join one
    // undo step as UndoHistory describes.
    void Replace(Pos from, Pos to, std::u16string_view text, EditKind kind);
    // Replaces the selection (typing, paste, input-method commit, drop).
    void ReplaceSelection(std::u16string_view text, EditKind kind);
    // Replaces the whole text without copying it: one undo step of its own.
    // The caret goes to the start.
    void SetText(std::u16string&& text);

    bool CanUndo() const { return history_.CanUndo(); }
    bool CanRedo() const { return history_.CanRedo(); }
    bool Undo();
    bool Redo();
    UndoHistory& History() { return history_; }

    // Bytes the undo history may hold before the next step is recorded; the
    // oldest steps are dropped to fit (the newest step is always kept). Unset:
    // no limit. The view sets it from the memory available.
    std::function<std::uint64_t()> historyBudget;

    // Called after every change of the text, before the selection changes.
    std::function<void(const TextChange&)> onTextChanged;
    // Called after the selection (or the text under it) changed.
    std::function<void()> onSelectionChanged;

private:
    Pos Snap(Pos pos) const;
    void MakeRoom(std::uint64_t stepBytes);
    bool Replay(bool undo);

    TextBuffer buffer_;
    UndoHistory history_;
    Pos anchor_ = 0;
    Pos caret_ = 0;
};

}  // namespace tessaly
